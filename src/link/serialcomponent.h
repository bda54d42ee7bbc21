// The window's serial port component (MSComm1): the operations the window uses, nothing more.
// morvenctl does not use it; its links are the StreamLink classes of link/streamlink.h.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

namespace morven {

// The window's serial port. An operation that can fail answers with the reason, nothing on
// success; a failure of the device after it opened comes as failed(). Every event is delivered
// on the thread that owns the object.
class SerialComponent : public QObject
{
    Q_OBJECT
public:
    enum Event { NoEvent = 0, Send = 1, Receive = 2 };

    using QObject::QObject;
    ~SerialComponent() override = default;

    // Port number, 1 and up; refused while the port is open.
    [[nodiscard]] virtual std::optional<QString> setPortNumber(int number) = 0;
    // "rate,parity,databits,stopbits", e.g. "9600,n,8,1"; refused for a text the port cannot use.
    [[nodiscard]] virtual std::optional<QString> setSettings(const QString &settings) = 0;
    // Most bytes one read returns, and the sizes of the two buffers.
    virtual void setBufferSizes(int readLimit, int inputSize, int outputSize) = 0;
    // Drops whatever waits in both buffers (also what waits when the port opens next).
    virtual void clearBuffers() = 0;

    // A received byte always raises commEvent() and input is binary: both are fixed
    // properties of this port, not settings.
    [[nodiscard]] virtual std::optional<QString> open() = 0;
    virtual void close() = 0;
    // Open from a successful open() until close(), even when the device failed in between: only
    // the operator's buttons and the mode switches close the window's port.
    virtual bool isOpen() const = 0;

    // Refused while the port is closed or has failed; nothing is sent then.
    [[nodiscard]] virtual std::optional<QString> write(const QByteArray &bytes) = 0;

    virtual int lastEvent() const = 0;
    virtual int bytesWaiting() const = 0;
    // Removes and returns the waiting bytes, at most the read limit.
    virtual QByteArray read() = 0;

signals:
    void commEvent();
    // The open device failed (an adapter pulled out): the port stays open but sends and
    // receives nothing until it is closed.
    void failed(const QString &why);
};

} // namespace morven
