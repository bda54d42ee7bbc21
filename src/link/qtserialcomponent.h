// The window's serial port component on QSerialPort, and its port number and line settings rules.
#pragma once

#include "link/serialcomponent.h"

#include <QSerialPort>

#include <functional>
#include <optional>

namespace morven {

struct LineSettings
{
    qint32 rate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// "9600,n,8,1" and the like; nothing for a text a port cannot use.
std::optional<LineSettings> parseLineSettings(const QString &text);

// The device behind port number n: "COMn" on Windows; elsewhere the first that exists of
// /dev/ttyUSB<n-1>, /dev/ttyACM<n-1>, /dev/ttyS<n-1> (the last when none exists).
QString serialDeviceFor(int number, const std::function<bool(const QString &)> &exists);
QString serialDeviceFor(int number);

class QtSerialComponent final : public SerialComponent
{
    Q_OBJECT
public:
    using DeviceResolver = std::function<QString(int)>;

    explicit QtSerialComponent(DeviceResolver resolver = {}, QObject *parent = nullptr);

    std::optional<QString> setPortNumber(int number) override;
    std::optional<QString> setSettings(const QString &settings) override;
    void setBufferSizes(int readLimit, int inputSize, int outputSize) override;
    void clearBuffers() override;
    std::optional<QString> open() override;
    void close() override;
    bool isOpen() const override;
    std::optional<QString> write(const QByteArray &bytes) override;
    int lastEvent() const override;
    int bytesWaiting() const override;
    QByteArray read() override;

private:
    void onError(QSerialPort::SerialPortError error);

    QSerialPort port_;
    DeviceResolver resolver_;
    int number_ = 1;
    LineSettings settings_;
    int readLimit_ = 512;
    int lastEvent_ = NoEvent;
    // Why the open device failed; the port counts as open, sending nothing, until close().
    std::optional<QString> failure_;
};

} // namespace morven
