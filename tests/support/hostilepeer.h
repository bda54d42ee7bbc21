// A target that bends its replies, for hostile-target tests.
#pragma once

#include "sim/bootloader.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

namespace morven::test {

// Answers like the simulated bootloader, but a test may bend every reply: add garbage, lengthen
// it, flood the line or go quiet. Listens on loopback only.
class HostilePeer : public QObject
{
public:
    // Turns the proper reply (the n-th, from 0) into what is written; an empty result sends nothing.
    using Bend = std::function<QByteArray(const QByteArray &reply, int n)>;

    explicit HostilePeer(sim::Options options = {});
    bool listen() { return server_.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return server_.serverPort(); }
    void setBend(Bend bend) { bend_ = std::move(bend); }
    sim::Bootloader &bootloader() { return bootloader_; }

private:
    void onData(QTcpSocket *client);

    QTcpServer server_;
    sim::Bootloader bootloader_;
    Bend bend_;
    int replies_ = 0;
};

} // namespace morven::test
