// The window's serial port on QSerialPort, and the port number and line settings rules.
#include "link/qtserialport.h"

#include "link/logging.h"

#include <QFileInfo>
#include <QStringList>

Q_LOGGING_CATEGORY(lcLink, "morven.link", QtWarningMsg)

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

QtSerialPort::QtSerialPort(DeviceResolver resolver, QObject *parent)
    : SerialPort(parent)
    , resolver_(resolver ? std::move(resolver) : DeviceResolver([](int n) { return serialDeviceFor(n); }))
{
    port_.setReadBufferSize(512);
    connect(&port_, &QSerialPort::readyRead, this, [this] {
        lastEvent_ = Receive;
        emit commEvent();
    });
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
}

bool QtSerialPort::setPortNumber(int number)
{
    if (port_.isOpen() || number < 1)
        return false;
    number_ = number;
    return true;
}

bool QtSerialPort::setSettings(const QString &settings)
{
    const auto parsed = parseLineSettings(settings);
    if (!parsed) {
        qCInfo(lcLink) << "line settings refused:" << settings;
        return false;
    }
    settings_ = *parsed;
    return true;
}

void QtSerialPort::setBufferSizes(int readLimit, int inputSize, int /*outputSize: writes are queued by Qt*/)
{
    readLimit_ = readLimit;
    port_.setReadBufferSize(inputSize);
}

void QtSerialPort::clearBuffers()
{
    // A closed port holds nothing; open() starts with empty buffers as well.
    if (port_.isOpen())
        port_.clear(QSerialPort::AllDirections);
}

bool QtSerialPort::open()
{
    if (port_.isOpen())
        return true;
    port_.setPortName(resolver_(number_));
    // A rate the driver cannot set makes one of these, or the opening, fail.
    if (!port_.setBaudRate(settings_.rate) || !port_.setParity(settings_.parity)
        || !port_.setDataBits(settings_.dataBits) || !port_.setStopBits(settings_.stopBits)
        || !port_.setFlowControl(QSerialPort::NoFlowControl)) {
        qCInfo(lcLink) << port_.portName() << "refused the line settings:" << port_.errorString();
        return false;
    }
    if (!port_.open(QIODevice::ReadWrite)) {
        qCInfo(lcLink) << port_.portName() << "did not open"; // onError() has logged why
        port_.clearError();
        return false;
    }
    // What waited on the line before the opening is not a reply to anything we sent.
    port_.clear(QSerialPort::AllDirections);
    lastEvent_ = NoEvent;
    return true;
}

void QtSerialPort::close()
{
    if (port_.isOpen())
        port_.close();
    port_.clearError();
}

bool QtSerialPort::isOpen() const
{
    return port_.isOpen();
}

bool QtSerialPort::write(const QByteArray &bytes)
{
    if (!port_.isOpen() || bytes.isEmpty())
        return false;
    return port_.write(bytes) == bytes.size();
}

int QtSerialPort::lastEvent() const
{
    return lastEvent_;
}

int QtSerialPort::bytesWaiting() const
{
    return port_.isOpen() ? static_cast<int>(qMin<qint64>(port_.bytesAvailable(), 32767)) : 0;
}

QByteArray QtSerialPort::read()
{
    return port_.isOpen() ? port_.read(readLimit_) : QByteArray();
}

void QtSerialPort::onError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError)
        return;
    // The device went away (adapter unplugged, far end of a terminal closed): reads then fail
    // on every turn of the event loop. Close once, quietly, instead.
    qCInfo(lcLink) << port_.portName() << "reported an error:" << port_.errorString();
    if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError)
        close();
    else
        port_.clearError();
}

} // namespace morven
