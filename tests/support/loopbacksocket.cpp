// The window's socket in tests: real, but loopback only.
#include "support/loopbacksocket.h"

#include <QHostAddress>

namespace morven::test {

LoopbackOnlySocket::LoopbackOnlySocket()
{
    connect(&inner_, &TcpSocket::connected, this, &TcpSocket::connected);
    connect(&inner_, &TcpSocket::closed, this, &TcpSocket::closed);
    connect(&inner_, &TcpSocket::dataArrival, this, &TcpSocket::dataArrival);
}

bool LoopbackOnlySocket::connectTo(const QString &host, const QString &port)
{
    attempts << host;
    // Only a literal loopback address: a name would need a lookup we cannot vouch for.
    const QHostAddress address(host.trimmed());
    if (address.isNull() || !address.isLoopback()) {
        refused << host;
        qWarning("test socket refused non-loopback host %s", qPrintable(host));
        return false;
    }
    return inner_.connectTo(host, port);
}

} // namespace morven::test
