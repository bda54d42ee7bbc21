// The window's socket component in tests: real, but loopback only.
#pragma once

#include "link/qtsocketcomponent.h"

#include <QStringList>

namespace morven::test {

// The window's socket in tests: a real socket that refuses every host but loopback, so a
// mistake fails the test instead of sending a packet. It keeps the hosts it was asked for.
class LoopbackSocketComponent final : public SocketComponent
{
public:
    LoopbackSocketComponent();

    void close() override { inner_.close(); }
    std::optional<QString> connectTo(const QString &host, const QString &port) override;
    bool isConnected() const override { return inner_.isConnected(); }
    std::optional<QString> send(const QByteArray &bytes) override { return inner_.send(bytes); }
    qint64 bytesReceived() const override { return inner_.bytesReceived(); }
    QByteArray getData(qint64 maxBytes) override { return inner_.getData(maxBytes); }

    QStringList attempts; // every host passed to connectTo
    QStringList refused; // the hosts that were not loopback

private:
    QtSocketComponent inner_;
};

} // namespace morven::test
