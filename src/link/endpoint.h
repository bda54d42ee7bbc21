// TCP endpoints as people type them: "HOST:PORT", "[IPV6]:PORT", or a port alone.
#pragma once

#include <QString>

#include <optional>

namespace morven {

struct Endpoint
{
    QString host;
    quint16 port = 0;
};

// A port number: a whole number from 1 (0 when `allowZero`, "any free port") to 65535,
// blanks around it allowed.
std::optional<quint16> parseTcpPort(const QString &text, bool allowZero = false);

// "HOST:PORT" or "[IPV6]:PORT" (an IPv6 address needs its brackets); a port alone takes
// `defaultHost` when one is given and is refused otherwise.
std::optional<Endpoint> parseEndpoint(const QString &text, const QString &defaultHost = QString(), bool allowZero = false);

} // namespace morven
