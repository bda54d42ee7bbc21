// The serial port interface of the window.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace morven {

// The operations the window uses of its serial port, nothing more.
// Every event is delivered on the thread that owns the object.
class SerialPort : public QObject
{
    Q_OBJECT
public:
    enum Event { NoEvent = 0, Send = 1, Receive = 2 };

    using QObject::QObject;
    ~SerialPort() override = default;

    // Port number, 1 and up; refused while the port is open.
    virtual bool setPortNumber(int number) = 0;
    // "rate,parity,databits,stopbits", e.g. "9600,n,8,1"; false for a text the port cannot use.
    virtual bool setSettings(const QString &settings) = 0;
    // Most bytes one read returns, and the sizes of the two buffers.
    virtual void setBufferSizes(int readLimit, int inputSize, int outputSize) = 0;
    // Drops whatever waits in both buffers (also what waits when the port opens next).
    virtual void clearBuffers() = 0;

    // A received byte always raises commEvent() and input is binary: both are fixed
    // properties of this port, not settings.
    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // False while the port is closed.
    virtual bool write(const QByteArray &bytes) = 0;

    virtual int lastEvent() const = 0;
    virtual int bytesWaiting() const = 0;
    // Removes and returns the waiting bytes, at most the read limit.
    virtual QByteArray read() = 0;

signals:
    void commEvent();
};

} // namespace morven
