// The window's TCP client socket component on QTcpSocket.
#pragma once

#include "link/endpoint.h"
#include "link/socketcomponent.h"

#include <QTcpSocket>

#include <optional>

namespace morven {

class QtSocketComponent final : public SocketComponent
{
    Q_OBJECT
public:
    explicit QtSocketComponent(QObject *parent = nullptr);

    void close() override;
    std::optional<QString> connectTo(const QString &host, const QString &port) override;
    bool isConnected() const override;
    std::optional<QString> send(const QByteArray &bytes) override;
    qint64 bytesReceived() const override;
    QByteArray getData(qint64 maxBytes) override;

private:
    QTcpSocket socket_;
    bool established_ = false;
};

} // namespace morven
