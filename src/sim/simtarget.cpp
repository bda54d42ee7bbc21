// The simulated target: its TCP server and pseudo-terminal, feeding one bootloader.
#include "sim/simtarget.h"

#include "sim/ptyline.h"
#include "sim/tcpline.h"

#include <QTcpServer>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace morven::sim {

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

#include "moc_simtarget.cpp"
