// TCP endpoints as people type them.
#include "link/endpoint.h"

namespace morven {

std::optional<quint16> parseTcpPort(const QString &text, bool allowZero)
{
    bool ok = false;
    const uint port = text.trimmed().toUInt(&ok);
    if (!ok || port < (allowZero ? 0u : 1u) || port > 65535)
        return std::nullopt;
    return static_cast<quint16>(port);
}

std::optional<Endpoint> parseEndpoint(const QString &text, const QString &defaultHost, bool allowZero)
{
    const QString t = text.trimmed();
    Endpoint e;
    QString portText;
    if (t.startsWith(QLatin1Char('['))) {
        const qsizetype close = t.indexOf(QLatin1String("]:"));
        if (close < 0)
            return std::nullopt;
        e.host = t.mid(1, close - 1);
        portText = t.mid(close + 2);
    } else if (t.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = t.indexOf(QLatin1Char(':'));
        e.host = t.left(colon);
        portText = t.mid(colon + 1);
    } else if (t.contains(QLatin1Char(':'))) {
        return std::nullopt; // an IPv6 address without brackets: where would the port start?
    } else {
        e.host = defaultHost;
        portText = t;
    }
    const std::optional<quint16> port = parseTcpPort(portText, allowZero);
    if (!port || e.host.isEmpty())
        return std::nullopt;
    e.port = *port;
    return e;
}

} // namespace morven
