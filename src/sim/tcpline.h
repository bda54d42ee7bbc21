// The simulated target's line over TCP: one client at a time. Private to the simulated target.
#pragma once

#include "sim/simline.h"

#include <QTcpSocket>

namespace morven::sim {

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

} // namespace morven::sim
