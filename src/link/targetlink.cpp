// morvenctl's links to its targets: a TCP connection or a serial device.
#include "link/targetlink.h"

#include "link/serialports.h"

#include <QDateTime>

namespace morven {

TcpTargetLink::TcpTargetLink(const QString &host, quint16 port, int patienceMs, QObject *parent)
    : TargetLink(parent)
    , host_(host)
    , port_(port)
    , patienceMs_(patienceMs)
{
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &TcpTargetLink::attempt);
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

QString TcpTargetLink::name() const
{
    return host_.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2").arg(host_).arg(port_)
                                            : QStringLiteral("%1:%2").arg(host_).arg(port_);
}

void TcpTargetLink::open()
{
    deadline_ = QDateTime::currentMSecsSinceEpoch() + patienceMs_;
    attempt();
}

void TcpTargetLink::attempt()
{
    socket_.abort();
    socket_.connectToHost(host_, port_);
}

bool TcpTargetLink::isOpen() const
{
    return socket_.state() == QAbstractSocket::ConnectedState;
}

bool TcpTargetLink::write(const QByteArray &bytes)
{
    return isOpen() && socket_.write(bytes) == bytes.size();
}

void TcpTargetLink::close()
{
    retry_.stop();
    wasOpen_ = false;
    socket_.abort();
}

SerialTargetLink::SerialTargetLink(const QString &device, qint32 baud, QObject *parent)
    : TargetLink(parent)
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

void SerialTargetLink::open()
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
    QMetaObject::invokeMethod(this, &TargetLink::opened, Qt::QueuedConnection);
}

bool SerialTargetLink::write(const QByteArray &bytes)
{
    return port_.isOpen() && port_.write(bytes) == bytes.size();
}

void SerialTargetLink::close()
{
    if (port_.isOpen())
        port_.close();
}

} // namespace morven
