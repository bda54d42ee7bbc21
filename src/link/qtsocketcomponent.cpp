// The window's TCP client socket component on QTcpSocket.
#include "link/qtsocketcomponent.h"

#include "link/logging.h"

#include <optional>

namespace morven {

QtSocketComponent::QtSocketComponent(QObject *parent)
    : SocketComponent(parent)
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
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this] {
        const QString why = socket_.errorString();
        qCInfo(lcLink) << "socket:" << why;
        emit failed(why);
    });
}

void QtSocketComponent::close()
{
    // Our own close is not the far end's: no closed() for it.
    const QSignalBlocker quiet(&socket_);
    socket_.abort();
    established_ = false;
}

std::optional<QString> QtSocketComponent::connectTo(const QString &host, const QString &port)
{
    const auto number = parseTcpPort(port);
    if (!number || host.trimmed().isEmpty()) {
        const QString why = QStringLiteral("no connection to host \"%1\" port \"%2\": %3")
                                .arg(host, port, number ? QStringLiteral("no host") : QStringLiteral("no port number"));
        qCInfo(lcLink) << why;
        return why;
    }
    close();
    socket_.connectToHost(host.trimmed(), *number);
    return std::nullopt;
}

bool QtSocketComponent::isConnected() const
{
    return socket_.state() == QAbstractSocket::ConnectedState;
}

std::optional<QString> QtSocketComponent::send(const QByteArray &bytes)
{
    if (!isConnected())
        return QStringLiteral("the socket is not connected");
    if (bytes.isEmpty())
        return QStringLiteral("nothing to send");
    if (socket_.write(bytes) != bytes.size())
        return QStringLiteral("the socket took only part of the frame: %1").arg(socket_.errorString());
    return std::nullopt;
}

qint64 QtSocketComponent::bytesReceived() const
{
    return socket_.bytesAvailable();
}

QByteArray QtSocketComponent::getData(qint64 maxBytes)
{
    return socket_.read(maxBytes);
}

} // namespace morven

#include "moc_qtsocketcomponent.cpp"

#include "moc_socketcomponent.cpp"
