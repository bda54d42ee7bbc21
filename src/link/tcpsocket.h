// The TCP client socket interface of the window.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace morven {

// The operations the window uses of its TCP client socket, nothing more.
// Every event is delivered on the thread that owns the object.
class TcpSocket : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~TcpSocket() override = default;

    // Ends a connection or an attempt; nothing on a closed socket. Raises no closed().
    virtual void close() = 0;
    // Starts an attempt and returns at once; false when the request is refused outright
    // (a port text that is no port number, an empty host). Success comes as connected().
    virtual bool connectTo(const QString &host, const QString &port) = 0;
    virtual bool isConnected() const = 0;
    // False while not connected.
    virtual bool send(const QByteArray &bytes) = 0;
    virtual qint64 bytesReceived() const = 0;
    // Removes and returns at most maxBytes of the waiting bytes.
    virtual QByteArray getData(qint64 maxBytes) = 0;

signals:
    void connected();
    // The far end closed an established connection.
    void closed();
    void dataArrival(qint64 bytes);
};

} // namespace morven
