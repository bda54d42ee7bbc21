#include "sim/simtarget.h"

#include "sim/pacedline.h"

#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <thread>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace morven::sim {

namespace {

QByteArray bytesOf(std::string_view s)
{
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

std::optional<TimePoint> earliest(std::optional<TimePoint> a, std::optional<TimePoint> b)
{
    if (!a)
        return b;
    if (!b)
        return a;
    return std::min(*a, *b);
}

} // namespace

// One line to the PC: its own frame cutting, its simulated timing in both directions, and the
// replies on their way out. The derived classes move the bytes.
class SimTarget::Line : public QObject
{
public:
    explicit Line(SimTarget &target)
        : QObject(&target)
        , target_(target)
    {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        connect(&timer_, &QTimer::timeout, this, &Line::process);
    }

    // Bytes the PC sent, arriving now.
    void arrived(std::string_view bytes)
    {
        in_.setByteTime(PacedLine::byteTimeFor(target_.transport_.baud));
        in_.push(bytes, Clock::now());
        process();
    }

    void queueReply(const std::string &reply)
    {
        const TransportOptions &t = target_.transport_;
        out_.setByteTime(PacedLine::byteTimeFor(t.baud));
        const TimePoint start = Clock::now() + std::chrono::milliseconds(std::max(0, t.replyDelayMs));
        if (t.splitReplies && reply.size() > 1) {
            const std::string_view text(reply);
            const std::size_t half = text.size() / 2;
            out_.push(text.substr(0, half), start);
            out_.push(text.substr(half), out_.freeAt() + std::chrono::milliseconds(std::max(0, t.splitGapMs)));
        } else {
            out_.push(reply, start);
        }
        inFlight_.push_back({reply, reply.size()});
    }

    // Forgets everything on its way in either direction.
    void discard()
    {
        in_.clear();
        out_.clear();
        inFlight_.clear();
        assembler_.reset();
        timer_.stop();
    }

    // No more work once the line is being taken down.
    virtual void retire()
    {
        retired_ = true;
        discard();
    }
    bool retired() const { return retired_; }

    virtual void hangUp() { }

protected:
    // Hands bytes to the system.
    virtual void write(std::string_view bytes) = 0;

    SimTarget &target_;

private:
    void process()
    {
        if (retired_)
            return;
        const auto byteTime = PacedLine::byteTimeFor(target_.transport_.baud);
        // A frame without ';' ends after a pause; on a slow line the pause counts from the end
        // of a byte time, so bytes sent back to back never look like one.
        assembler_.setIdle(target_.bootloader_.options().idle + std::chrono::ceil<std::chrono::milliseconds>(byteTime));

        TimePoint now = Clock::now();
        std::vector<std::string> frames;
        TimePoint first;
        TimePoint last;
        for (std::string run = in_.take(now, &first, &last); !run.empty(); run = in_.take(now, &first, &last))
            assembler_.feed(run, first, last, frames);
        assembler_.poll(now, frames);
        if (!frames.empty()) {
            target_.handleFrames(*this, frames);
            if (retired_)
                return;
            now = Clock::now();
        }

        for (std::string run = out_.take(now); !run.empty(); run = out_.take(now)) {
            write(run);
            if (!account(run.size()))
                return;
        }
        schedule();
    }

    // Counts written bytes against the replies in flight; false when the line went away.
    bool account(std::size_t written)
    {
        while (written > 0 && !inFlight_.empty()) {
            auto &[reply, left] = inFlight_.front();
            const std::size_t n = std::min(left, written);
            left -= n;
            written -= n;
            if (left == 0) {
                const QByteArray done = bytesOf(reply);
                inFlight_.pop_front();
                emit target_.replySent(done);
                if (retired_)
                    return false;
            }
        }
        return true;
    }

    void schedule()
    {
        // Incoming bytes matter only once a run is in, as frames are looked at whole. Replies
        // leave as their bytes come through, but a couple of milliseconds at a time at most,
        // so a fast line costs few wake-ups and a slow one still trickles.
        std::optional<TimePoint> outNext;
        if (const auto due = out_.nextDue())
            outNext = std::min(*out_.runDone(), *due + std::chrono::milliseconds(2));
        const auto next = earliest(earliest(in_.runDone(), outNext), assembler_.deadline());
        if (!next) {
            timer_.stop();
            return;
        }
        const auto wait = *next - Clock::now();
        if (wait > std::chrono::milliseconds(2)) {
            timer_.start(std::chrono::floor<std::chrono::milliseconds>(wait) - std::chrono::milliseconds(1));
            return;
        }
        // The last stretch is slept exactly: a timer would be up to a millisecond late on every
        // frame, which at 115200 baud is several percent of a line's time on the wire.
        if (wait > std::chrono::nanoseconds(0))
            std::this_thread::sleep_until(*next);
        timer_.start(0);
    }

    FrameAssembler assembler_;
    PacedLine in_;
    PacedLine out_;
    std::deque<std::pair<std::string, std::size_t>> inFlight_; // reply, bytes not yet written
    QTimer timer_;
    bool retired_ = false;
};

class SimTarget::TcpLine : public Line
{
public:
    using Line::Line;

    ~TcpLine() override
    {
        if (socket_)
            disconnect(socket_, nullptr, this, nullptr);
    }

    bool hasSocket() const { return socket_ != nullptr; }

    // A newer connection replaces the current one.
    void take(QTcpSocket *socket)
    {
        const bool replacing = socket_ != nullptr;
        release();
        socket->setParent(this);
        socket_ = socket;
        // Replies are small and must leave at once, not wait for the PC's acknowledgement.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, &TcpLine::readSocket);
        connect(socket, &QTcpSocket::disconnected, this, [this] {
            release();
            emit target_.clientDisconnected();
        });
        if (replacing)
            emit target_.clientDisconnected();
        emit target_.clientConnected();
        if (socket_ && socket_->bytesAvailable() > 0)
            readSocket();
    }

    void hangUp() override { release(); }

    // Lets go of the client: what is already written still goes out, then the socket closes.
    void release()
    {
        discard();
        QTcpSocket *old = socket_;
        socket_ = nullptr;
        if (!old)
            return;
        disconnect(old, nullptr, this, nullptr);
        connect(old, &QTcpSocket::disconnected, old, &QObject::deleteLater);
        old->disconnectFromHost();
        if (old->state() == QAbstractSocket::UnconnectedState)
            old->deleteLater();
    }

protected:
    void write(std::string_view bytes) override
    {
        if (socket_)
            socket_->write(bytes.data(), static_cast<qint64>(bytes.size()));
    }

private:
    void readSocket()
    {
        if (!socket_)
            return;
        const QByteArray data = socket_->readAll();
        arrived(std::string_view(data.constData(), static_cast<std::size_t>(data.size())));
    }

    QTcpSocket *socket_ = nullptr;
};

class SimTarget::PtyLine : public Line
{
public:
    PtyLine(SimTarget &target, int master, int slave)
        : Line(target)
        , master_(master)
        , slave_(slave)
        , reader_(master, QSocketNotifier::Read)
        , writer_(master, QSocketNotifier::Write)
    {
        writer_.setEnabled(false);
        connect(&reader_, &QSocketNotifier::activated, this, [this] { readMaster(); });
        connect(&writer_, &QSocketNotifier::activated, this, [this] { flush(); });
    }

    ~PtyLine() override
    {
        reader_.setEnabled(false);
        writer_.setEnabled(false);
        ::close(master_);
        ::close(slave_);
    }

    void retire() override
    {
        Line::retire();
        reader_.setEnabled(false);
        writer_.setEnabled(false);
        pending_.clear();
    }

protected:
    void write(std::string_view bytes) override
    {
        pending_.append(bytes);
        flush();
    }

private:
    void readMaster()
    {
        std::string data;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0) {
                data.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                // Not expected while we hold the slave open; stop rather than spin.
                reader_.setEnabled(false);
                const QString why
                    = n == 0 ? QStringLiteral("end of file") : QString::fromLocal8Bit(std::strerror(errno));
                emit target_.logMessage(QStringLiteral("pseudo-terminal read failed: %1").arg(why));
            }
            break;
        }
        if (!data.empty())
            arrived(data);
    }

    void flush()
    {
        while (!pending_.empty()) {
            const ssize_t n = ::write(master_, pending_.data(), pending_.size());
            if (n > 0) {
                pending_.erase(0, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                pending_.clear();
            break;
        }
        writer_.setEnabled(!pending_.empty());
    }

    int master_;
    int slave_; // held open so the line stays usable and raw between the PC's openings
    QSocketNotifier reader_;
    QSocketNotifier writer_;
    std::string pending_;
};

SimTarget::SimTarget(const Options &options, const TransportOptions &transport, QObject *parent)
    : QObject(parent)
    , bootloader_(options)
    , transport_(transport)
{ }

SimTarget::~SimTarget()
{
    // The lines hold references to this object: take them down while it is whole.
    stopListening();
    closePty();
}

void SimTarget::setTransportOptions(const TransportOptions &transport)
{
    transport_ = transport;
}

bool SimTarget::listen(const QHostAddress &address, quint16 port)
{
    stopListening();
    server_ = new QTcpServer(this);
    if (!server_->listen(address, port)) {
        error_ = server_->errorString();
        delete server_;
        server_ = nullptr;
        return false;
    }
    tcp_ = new TcpLine(*this);
    connect(server_, &QTcpServer::newConnection, this, &SimTarget::onNewConnection);
    return true;
}

bool SimTarget::isListening() const
{
    return server_ && server_->isListening();
}

QHostAddress SimTarget::address() const
{
    return server_ ? server_->serverAddress() : QHostAddress();
}

quint16 SimTarget::port() const
{
    return server_ ? server_->serverPort() : 0;
}

void SimTarget::stopListening()
{
    if (tcp_) {
        tcp_->retire();
        tcp_->release();
        tcp_->deleteLater();
        tcp_ = nullptr;
    }
    delete server_;
    server_ = nullptr;
}

bool SimTarget::hasClient() const
{
    return tcp_ && tcp_->hasSocket();
}

void SimTarget::onNewConnection()
{
    while (server_ && server_->hasPendingConnections()) {
        QTcpSocket *socket = server_->nextPendingConnection();
        if (tcp_)
            tcp_->take(socket);
        else
            socket->deleteLater();
    }
}

bool SimTarget::openPty()
{
    closePty();
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0) {
        error_ = QStringLiteral("cannot open a pseudo-terminal: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    char name[128] = {};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
        error_
            = QStringLiteral("cannot set up the pseudo-terminal: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(master);
        return false;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (slave < 0 || ::tcgetattr(slave, &raw) != 0) {
        error_ = QStringLiteral("cannot open %1: %2")
                     .arg(QString::fromLocal8Bit(name), QString::fromLocal8Bit(std::strerror(errno)));
        if (slave >= 0)
            ::close(slave);
        ::close(master);
        return false;
    }
    // Without raw mode the line would echo our replies back to us and cook the frames.
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    pty_ = new PtyLine(*this, master, slave);
    ptyPath_ = QString::fromLocal8Bit(name);
    return true;
}

void SimTarget::closePty()
{
    if (pty_) {
        pty_->retire();
        pty_->deleteLater();
        pty_ = nullptr;
    }
    ptyPath_.clear();
}

void SimTarget::handleFrames(Line &line, std::vector<std::string> &frames)
{
    for (const std::string &frame : frames) {
        emit frameReceived(bytesOf(frame));
        const Bootloader::Output out = bootloader_.handleFrame(frame);
        for (const std::string &note : out.notes)
            emit logMessage(QString::fromStdString(note));
        if (line.retired())
            return;
        for (const std::string &reply : out.replies)
            line.queueReply(reply);
        if (out.downloadComplete)
            emit downloadCompleted();
        if (out.drop) {
            dropLine(line);
            return;
        }
    }
}

void SimTarget::dropLine(Line &line)
{
    line.discard();
    line.hangUp();
    emit clientDropped();
}

} // namespace morven::sim
