// The serial ports of this machine, how to name them, and why one does not open.
#pragma once

#include <QList>
#include <QSerialPort>
#include <QString>

#include <functional>
#include <optional>

namespace morven {

// A serial port as the system describes it.
struct SerialPortRow
{
    QString device; // "/dev/ttyUSB0"
    QString description;
    QString manufacturer;
    QString serialNumber;
    std::optional<quint16> vendorId, productId;
    int windowPortNumber = 0; // the window's "PORT NO" that opens it, 0 when none does
};

// Every serial port the system knows of, in device order.
QList<SerialPortRow> listSerialPorts();

// The window's port number that opens `device` (see serialDeviceFor), or 0 when none does.
int windowPortNumber(const QString &device, const std::function<bool(const QString &)> &exists);

// "usb:SERIALNUMBER" names the port of the USB adapter with that serial number, which stays the
// same when adapters are plugged in another order; anything else names a device. Returns the
// device in `device`, or why there is none.
[[nodiscard]] std::optional<QString> resolveSerialDevice(
    const QString &wanted, const QList<SerialPortRow> &ports, QString &device);

// Why a serial device did not open, in words that say what to do next: who holds a busy port,
// which group grants access to a port the user may not open.
QString explainSerialOpenFailure(const QString &device, QSerialPort::SerialPortError error, const QString &text);

} // namespace morven
