// A window socket component the test drives by hand.
#pragma once

#include "link/socketcomponent.h"

#include <QHostAddress>
#include <QStringList>

namespace morven::test {

// A socket the test drives by hand: it connects when told, takes in what the test delivers
// and keeps what the window sent. Like every test socket it refuses hosts that are not loopback.
class FakeSocketComponent final : public SocketComponent
{
public:
    void close() override
    {
        ++closes;
        connected_ = false;
    }
    std::optional<QString> connectTo(const QString &host, const QString &port) override
    {
        attempts << host + QLatin1Char(':') + port;
        const QHostAddress address(host.trimmed());
        if (address.isNull() || !address.isLoopback()) {
            refused << host;
            return QStringLiteral("not a loopback host in a test");
        }
        return std::nullopt;
    }
    bool isConnected() const override { return connected_; }
    std::optional<QString> send(const QByteArray &bytes) override
    {
        if (!connected_)
            return QStringLiteral("not connected");
        sent += bytes;
        return std::nullopt;
    }
    qint64 bytesReceived() const override { return incoming.size(); }
    QByteArray getData(qint64 maxBytes) override
    {
        const QByteArray out = incoming.left(maxBytes);
        incoming.remove(0, out.size());
        return out;
    }

    // The pending attempt succeeds.
    void completeConnection()
    {
        connected_ = true;
        emit connected();
    }
    void deliver(const QByteArray &bytes)
    {
        incoming += bytes;
        emit dataArrival(bytes.size());
    }

    QStringList attempts;
    QStringList refused;
    int closes = 0;
    QByteArray sent;
    QByteArray incoming;

private:
    bool connected_ = false;
};

} // namespace morven::test
