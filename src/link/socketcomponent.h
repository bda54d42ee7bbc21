// The window's TCP client socket component (Winsock1): the operations the window uses, nothing
// more. morvenctl does not use it; its links are the StreamLink classes of link/streamlink.h.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

namespace morven {

// The window's TCP client socket. An operation that can fail answers with the reason, nothing
// on success; a failure that comes later (a refused or lost connection) comes as failed().
// Every event is delivered on the thread that owns the object.
class SocketComponent : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~SocketComponent() override = default;

    // Ends a connection or an attempt; nothing on a closed socket. Raises no closed().
    virtual void close() = 0;
    // Starts an attempt and returns at once; refused outright for a port text that is no port
    // number or an empty host. Success comes as connected(), failure as failed().
    [[nodiscard]] virtual std::optional<QString> connectTo(const QString &host, const QString &port) = 0;
    virtual bool isConnected() const = 0;
    // Refused while not connected.
    [[nodiscard]] virtual std::optional<QString> send(const QByteArray &bytes) = 0;
    virtual qint64 bytesReceived() const = 0;
    // Removes and returns at most maxBytes of the waiting bytes.
    virtual QByteArray getData(qint64 maxBytes) = 0;

signals:
    void connected();
    // The far end closed an established connection.
    void closed();
    void dataArrival(qint64 bytes);
    // An attempt failed, or an established connection broke.
    void failed(const QString &why);
};

} // namespace morven
