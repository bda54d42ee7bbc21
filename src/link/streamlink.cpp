// morvenctl's stream links to its targets: a TCP connection or a serial device.
#include "link/streamlink.h"

#include "link/serialports.h"

#include <QDateTime>

namespace morven {

TcpStreamLink::TcpStreamLink(const QString &host, quint16 port, int patienceMs, QObject *parent)
    : StreamLink(parent)
    , host_(host)
    , port_(port)
    , patienceMs_(patienceMs)
{
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &TcpStreamLink::attempt);
    connect(&socket_, &QTcpSocket::connected, this, [this] {
        wasOpen_ = true;
        // Small frames must leave at once, not wait to be gathered with the next.
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        emit opened();
    });
    connect(&socket_, &QTcpSocket::readyRead, this, [this] { emit received(socket_.readAll()); });
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (wasOpen_)
            return; // disconnected() reports it
        if (QDateTime::currentMSecsSinceEpoch() < deadline_)
            retry_.start(100);
        else
            emit openFailed(socket_.errorString());
    });
    connect(&socket_, &QTcpSocket::disconnected, this, [this] {
        if (wasOpen_) {
            wasOpen_ = false;
            emit lost(QStringLiteral("the connection was closed"));
        }
    });
}

QString TcpStreamLink::name() const
{
    return host_.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2").arg(host_).arg(port_)
                                            : QStringLiteral("%1:%2").arg(host_).arg(port_);
}

void TcpStreamLink::open()
{
    deadline_ = QDateTime::currentMSecsSinceEpoch() + patienceMs_;
    attempt();
}

void TcpStreamLink::attempt()
{
    socket_.abort();
    socket_.connectToHost(host_, port_);
}

bool TcpStreamLink::isOpen() const
{
    return socket_.state() == QAbstractSocket::ConnectedState;
}

std::optional<QString> TcpStreamLink::write(const QByteArray &bytes)
{
    if (!isOpen())
        return QStringLiteral("the connection is not open");
    if (socket_.write(bytes) != bytes.size())
        return socket_.errorString();
    return std::nullopt;
}

void TcpStreamLink::close()
{
    retry_.stop();
    wasOpen_ = false;
    socket_.abort();
}

SerialStreamLink::SerialStreamLink(const QString &device, qint32 baud, QObject *parent)
    : StreamLink(parent)
    , device_(device)
    , baud_(baud)
{
    connect(&port_, &QSerialPort::readyRead, this, [this] { emit received(port_.readAll()); });
    connect(&port_, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError) {
            const QString why = port_.errorString();
            port_.close();
            emit lost(why);
        }
    });
}

void SerialStreamLink::open()
{
    port_.setPortName(device_);
    if (!port_.setBaudRate(baud_) || !port_.setDataBits(QSerialPort::Data8) || !port_.setParity(QSerialPort::NoParity)
        || !port_.setStopBits(QSerialPort::OneStop) || !port_.setFlowControl(QSerialPort::NoFlowControl)
        || !port_.open(QIODevice::ReadWrite)) {
        const QString why = explainSerialOpenFailure(device_, port_.error(), port_.errorString());
        QMetaObject::invokeMethod(
            this, [this, why] { emit openFailed(why); }, Qt::QueuedConnection);
        return;
    }
    port_.clear(QSerialPort::AllDirections);
    QMetaObject::invokeMethod(this, &StreamLink::opened, Qt::QueuedConnection);
}

std::optional<QString> SerialStreamLink::write(const QByteArray &bytes)
{
    if (!port_.isOpen())
        return QStringLiteral("the serial port is not open");
    if (port_.write(bytes) != bytes.size())
        return port_.errorString();
    return std::nullopt;
}

void SerialStreamLink::close()
{
    if (port_.isOpen())
        port_.close();
}

} // namespace morven

#include "moc_streamlink.cpp"
