// A target that bends its replies, for hostile-target tests.
#include "support/hostilepeer.h"

namespace morven::test {

HostilePeer::HostilePeer(sim::Options options)
    : bootloader_(std::move(options))
{
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *client = server_.nextPendingConnection()) {
            client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            connect(client, &QTcpSocket::readyRead, this, [this, client] { onData(client); });
            connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        }
    });
}

void HostilePeer::onData(QTcpSocket *client)
{
    const QByteArray bytes = client->readAll();
    const sim::Bootloader::Output out
        = bootloader_.receive(std::string_view(bytes.constData(), std::size_t(bytes.size())), sim::Clock::now());
    for (const std::string &reply : out.replies) {
        const QByteArray proper = QByteArray::fromStdString(reply);
        client->write(bend_ ? bend_(proper, replies_++) : proper);
    }
    if (out.drop)
        client->disconnectFromHost();
}

} // namespace morven::test
