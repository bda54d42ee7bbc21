// The window's TCP client socket on QTcpSocket.
#include "link/qttcpsocket.h"

#include "link/logging.h"

#include <optional>

namespace morven {

QtTcpSocket::QtTcpSocket(QObject *parent)
    : TcpSocket(parent)
{
    connect(&socket_, &QTcpSocket::connected, this, [this] {
        established_ = true;
        emit connected();
    });
    connect(&socket_, &QTcpSocket::disconnected, this, [this] {
        // Only the end of an established connection counts, not a failed attempt.
        if (!established_)
            return;
        established_ = false;
        emit closed();
    });
    connect(&socket_, &QTcpSocket::readyRead, this, [this] { emit dataArrival(socket_.bytesAvailable()); });
    connect(&socket_, &QTcpSocket::errorOccurred, this,
        [this] { qCInfo(lcLink) << "socket:" << socket_.errorString(); });
}

void QtTcpSocket::close()
{
    // Our own close is not the far end's: no closed() for it.
    const QSignalBlocker quiet(&socket_);
    socket_.abort();
    established_ = false;
}

bool QtTcpSocket::connectTo(const QString &host, const QString &port)
{
    const auto number = parseTcpPort(port);
    if (!number || host.trimmed().isEmpty()) {
        qCInfo(lcLink) << "connection refused at once: host" << host << "port" << port;
        return false;
    }
    close();
    socket_.connectToHost(host.trimmed(), *number);
    return true;
}

bool QtTcpSocket::isConnected() const
{
    return socket_.state() == QAbstractSocket::ConnectedState;
}

bool QtTcpSocket::send(const QByteArray &bytes)
{
    if (!isConnected() || bytes.isEmpty())
        return false;
    return socket_.write(bytes) == bytes.size();
}

qint64 QtTcpSocket::bytesReceived() const
{
    return socket_.bytesAvailable();
}

QByteArray QtTcpSocket::getData(qint64 maxBytes)
{
    return socket_.read(maxBytes);
}

} // namespace morven
