// The window's TCP client socket on QTcpSocket.
#pragma once

#include "link/endpoint.h"
#include "link/tcpsocket.h"

#include <QTcpSocket>

#include <optional>

namespace morven {

class QtTcpSocket final : public TcpSocket
{
    Q_OBJECT
public:
    explicit QtTcpSocket(QObject *parent = nullptr);

    void close() override;
    bool connectTo(const QString &host, const QString &port) override;
    bool isConnected() const override;
    bool send(const QByteArray &bytes) override;
    qint64 bytesReceived() const override;
    QByteArray getData(qint64 maxBytes) override;

private:
    QTcpSocket socket_;
    bool established_ = false;
};



} // namespace morven
