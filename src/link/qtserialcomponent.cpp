// The window's serial port component on QSerialPort, and its port number and line settings rules.
#include "link/qtserialcomponent.h"

#include "link/logging.h"

#include <QFileInfo>
#include <QStringList>

namespace morven {

std::optional<LineSettings> parseLineSettings(const QString &text)
{
    const QStringList f = text.split(QLatin1Char(','));
    if (f.size() != 4)
        return std::nullopt;
    LineSettings s;
    bool ok = false;
    s.rate = f[0].trimmed().toInt(&ok);
    if (!ok || s.rate <= 0)
        return std::nullopt;

    const QString parity = f[1].trimmed().toLower();
    if (parity == QLatin1String("n"))
        s.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("e"))
        s.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("o"))
        s.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("m"))
        s.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("s"))
        s.parity = QSerialPort::SpaceParity;
    else
        return std::nullopt;

    const int bits = f[2].trimmed().toInt(&ok);
    if (!ok || bits < 5 || bits > 8)
        return std::nullopt;
    s.dataBits = static_cast<QSerialPort::DataBits>(bits);

    const QString stop = f[3].trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        s.stopBits = QSerialPort::TwoStop;
    else
        return std::nullopt;
    return s;
}

QString serialDeviceFor(int number, const std::function<bool(const QString &)> &exists)
{
#ifdef Q_OS_WIN
    Q_UNUSED(exists);
    return QStringLiteral("COM%1").arg(number);
#else
    const int index = number - 1;
    QString device;
    for (const char *stem : {"/dev/ttyUSB", "/dev/ttyACM", "/dev/ttyS"}) {
        device = QLatin1String(stem) + QString::number(index);
        if (exists(device))
            break;
    }
    return device;
#endif
}

QString serialDeviceFor(int number)
{
    return serialDeviceFor(number, [](const QString &path) { return QFileInfo::exists(path); });
}

QtSerialComponent::QtSerialComponent(DeviceResolver resolver, QObject *parent)
    : SerialComponent(parent)
    , resolver_(resolver ? std::move(resolver) : DeviceResolver([](int n) { return serialDeviceFor(n); }))
{
    port_.setReadBufferSize(512);
    connect(&port_, &QSerialPort::readyRead, this, [this] {
        lastEvent_ = Receive;
        emit commEvent();
    });
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialComponent::onError);
}

std::optional<QString> QtSerialComponent::setPortNumber(int number)
{
    if (isOpen())
        return QStringLiteral("the port number cannot change while the port is open");
    if (number < 1)
        return QStringLiteral("no port number %1: they start at 1").arg(number);
    number_ = number;
    return std::nullopt;
}

std::optional<QString> QtSerialComponent::setSettings(const QString &settings)
{
    const auto parsed = parseLineSettings(settings);
    if (!parsed) {
        const QString why = QStringLiteral("line settings \"%1\" refused").arg(settings);
        qCInfo(lcLink) << why;
        return why;
    }
    settings_ = *parsed;
    return std::nullopt;
}

void QtSerialComponent::setBufferSizes(int readLimit, int inputSize, int /*outputSize: writes are queued by Qt*/)
{
    readLimit_ = readLimit;
    port_.setReadBufferSize(inputSize);
}

void QtSerialComponent::clearBuffers()
{
    // A closed port holds nothing; open() starts with empty buffers as well.
    if (port_.isOpen())
        port_.clear(QSerialPort::AllDirections);
}

std::optional<QString> QtSerialComponent::open()
{
    if (failure_)
        return QStringLiteral("the port has failed (%1); close it first").arg(*failure_);
    if (port_.isOpen())
        return std::nullopt;
    port_.setPortName(resolver_(number_));
    // A rate the driver cannot set makes one of these, or the opening, fail.
    if (!port_.setBaudRate(settings_.rate) || !port_.setParity(settings_.parity)
        || !port_.setDataBits(settings_.dataBits) || !port_.setStopBits(settings_.stopBits)
        || !port_.setFlowControl(QSerialPort::NoFlowControl)) {
        const QString why
            = QStringLiteral("%1 refused the line settings: %2").arg(port_.portName(), port_.errorString());
        qCInfo(lcLink) << why;
        return why;
    }
    if (!port_.open(QIODevice::ReadWrite)) {
        const QString why = QStringLiteral("%1 did not open: %2").arg(port_.portName(), port_.errorString());
        qCInfo(lcLink) << why;
        port_.clearError();
        return why;
    }
    // What waited on the line before the opening is not a reply to anything we sent.
    port_.clear(QSerialPort::AllDirections);
    lastEvent_ = NoEvent;
    return std::nullopt;
}

void QtSerialComponent::close()
{
    if (port_.isOpen())
        port_.close();
    port_.clearError();
    failure_.reset();
}

bool QtSerialComponent::isOpen() const
{
    return port_.isOpen() || failure_.has_value();
}

std::optional<QString> QtSerialComponent::write(const QByteArray &bytes)
{
    if (failure_)
        return QStringLiteral("the port has failed: %1").arg(*failure_);
    if (!port_.isOpen())
        return QStringLiteral("the port is closed");
    if (bytes.isEmpty())
        return QStringLiteral("nothing to send");
    if (port_.write(bytes) != bytes.size())
        return QStringLiteral("%1 took only part of the frame: %2").arg(port_.portName(), port_.errorString());
    return std::nullopt;
}

int QtSerialComponent::lastEvent() const
{
    return lastEvent_;
}

int QtSerialComponent::bytesWaiting() const
{
    return port_.isOpen() ? static_cast<int>(qMin<qint64>(port_.bytesAvailable(), 32767)) : 0;
}

QByteArray QtSerialComponent::read()
{
    return port_.isOpen() ? port_.read(readLimit_) : QByteArray();
}

void QtSerialComponent::onError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError)
        return;
    const QString why = QStringLiteral("%1: %2").arg(port_.portName(), port_.errorString());
    qCInfo(lcLink) << "error on" << why;
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError) {
        port_.clearError();
        return;
    }
    // The device went away (adapter unplugged, far end of a terminal closed): reads would fail
    // on every turn of the event loop. The device is let go, but the port stays open in the
    // window's eyes, refusing every send, until the operator closes it.
    if (failure_)
        return;
    failure_ = why;
    {
        const QSignalBlocker quiet(&port_);
        port_.close();
        port_.clearError();
    }
    emit failed(why);
}

} // namespace morven

#include "moc_qtserialcomponent.cpp"

#include "moc_serialcomponent.cpp"
