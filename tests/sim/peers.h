// The PC's end of a line to the simulated target, for the simulator tests.
#pragma once

// The PC's end of a line to the simulated target, for tests that run the target on the same
// thread: every wait keeps the event loop turning.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpSocket>

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace simtest {

constexpr int kWaitMs = 10000;

// Every piece the socket delivers, with when it came.
struct Piece
{
    QByteArray bytes;
    qint64 atMs;
};

class TcpPeer
{
public:
    TcpPeer()
    {
        clock.start();
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
            const QByteArray data = socket.readAll();
            received += data;
            pieces.push_back({data, clock.elapsed()});
        });
    }

    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
        QSignalSpy connected(&socket, &QTcpSocket::connected);
        return socket.state() == QAbstractSocket::ConnectedState || connected.wait(kWaitMs);
    }

    void send(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    // Sends a frame and waits for the reply.
    QByteArray ask(const QByteArray &frame)
    {
        send(frame);
        return take(15);
    }

    // Waits until `count` bytes have come in all (the socket keeps what it got before), then
    // hands out and forgets the first `count`.
    QByteArray take(int count, int timeoutMs = kWaitMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (received.size() < count && !deadline.hasExpired()) {
            QSignalSpy more(&socket, &QTcpSocket::readyRead);
            more.wait(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        }
        const QByteArray out = received.left(count);
        received.remove(0, out.size());
        return out;
    }

    QTcpSocket socket;
    QByteArray received;
    std::vector<Piece> pieces;
    QElapsedTimer clock;
};

// Opens the target's pseudo-terminal as a plain file, so the line settings are the target's
// own.
class PtyPeer
{
public:
    explicit PtyPeer(const QString &path)
    {
        fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    ~PtyPeer()
    {
        if (fd >= 0)
            ::close(fd);
    }
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    bool isOpen() const { return fd >= 0; }

    bool send(const QByteArray &bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
            if (n > 0)
                done += n;
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            else
                QCoreApplication::processEvents();
        }
        return true;
    }

    QByteArray ask(const QByteArray &frame) { return send(frame) ? take(15) : QByteArray("(not sent)"); }

    // Reads until `count` bytes have come or the time is up.
    QByteArray take(int count, int timeoutMs = kWaitMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (received.size() < count && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 5) > 0 && (p.revents & POLLIN)) {
                char buffer[1024];
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n > 0)
                    received.append(buffer, n);
            }
        }
        const QByteArray out = received.left(count);
        received.remove(0, out.size());
        return out;
    }

    int fd = -1;
    QByteArray received;
};

} // namespace simtest
