// The window's socket component in tests: real, but loopback only.
#include "support/loopbacksocketcomponent.h"

#include <QHostAddress>

namespace morven::test {

LoopbackSocketComponent::LoopbackSocketComponent()
{
    connect(&inner_, &SocketComponent::connected, this, &SocketComponent::connected);
    connect(&inner_, &SocketComponent::closed, this, &SocketComponent::closed);
    connect(&inner_, &SocketComponent::dataArrival, this, &SocketComponent::dataArrival);
    connect(&inner_, &SocketComponent::failed, this, &SocketComponent::failed);
}

std::optional<QString> LoopbackSocketComponent::connectTo(const QString &host, const QString &port)
{
    attempts << host;
    // Only a literal loopback address: a name would need a lookup we cannot vouch for.
    const QHostAddress address(host.trimmed());
    if (address.isNull() || !address.isLoopback()) {
        refused << host;
        qWarning("test socket refused non-loopback host %s", qPrintable(host));
        return QStringLiteral("not a loopback host in a test");
    }
    return inner_.connectTo(host, port);
}

} // namespace morven::test
