// A target that bends its replies, for hostile-target tests.
#include "support/hostilepeer.h"

namespace morven::test {

HostilePeer::HostilePeer(sim::Options options)
    : bootloader_(std::move(options))
{
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *next = server_.nextPendingConnection()) {
            if (client_)
                client_->deleteLater();
            client_ = next;
            client_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            connect(client_, &QTcpSocket::readyRead, this, &HostilePeer::onData);
            connect(client_, &QTcpSocket::disconnected, this, [this, next] {
                if (client_ == next)
                    client_ = nullptr;
                next->deleteLater();
            });
        }
    });
}

bool HostilePeer::listen()
{
    return server_.listen(QHostAddress::LocalHost, 0);
}

void HostilePeer::send(const QByteArray &bytes)
{
    if (client_)
        client_->write(bytes);
}

void HostilePeer::hangUp()
{
    if (client_)
        client_->disconnectFromHost();
}

void HostilePeer::onData()
{
    if (!client_)
        return;
    const QByteArray bytes = client_->readAll();
    const sim::Bootloader::Output out
        = bootloader_.receive(std::string_view(bytes.constData(), std::size_t(bytes.size())), sim::Clock::now());
    for (const std::string &reply : out.replies) {
        const QByteArray proper = QByteArray::fromStdString(reply);
        const QByteArray actual = bend_ ? bend_(proper, replies_) : proper;
        ++replies_;
        if (!actual.isEmpty() && client_)
            client_->write(actual);
    }
    if (out.drop)
        hangUp();
}

} // namespace morven::test
