// A target that bends its replies, for hostile-target tests.
#pragma once

#include "sim/bootloader.h"

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

namespace morven::test {

// A target that answers like the simulated bootloader but lets a test bend every reply: add
// garbage, lengthen it, flood the line, or go quiet. Listens on loopback only.
class HostilePeer : public QObject
{
public:
    // Turns the proper reply (the n-th, from 0) into what is actually written; an empty result
    // sends nothing.
    using Bend = std::function<QByteArray(const QByteArray &reply, int n)>;

    explicit HostilePeer(sim::Options options = {});
    bool listen();
    quint16 port() const { return server_.serverPort(); }
    void setBend(Bend bend) { bend_ = std::move(bend); }
    // Writes raw bytes to the connected PC now.
    void send(const QByteArray &bytes);
    // Closes the PC's connection.
    void hangUp();
    bool hasClient() const { return client_ != nullptr; }

    sim::Bootloader &bootloader() { return bootloader_; }
    int replies() const { return replies_; }

private:
    void onData();

    QTcpServer server_;
    QTcpSocket *client_ = nullptr;
    sim::Bootloader bootloader_;
    Bend bend_;
    int replies_ = 0;
};

} // namespace morven::test
