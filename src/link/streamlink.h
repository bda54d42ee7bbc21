// morvenctl's stream links to its targets: a TCP connection or a serial device. The window does
// not use them; its links are the components of link/serialcomponent.h and link/socketcomponent.h.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <optional>

namespace morven {

// morvenctl's line to one target: a TCP connection or a serial device. Bytes are handed on the
// moment they arrive, so a reply is acted on as soon as its last byte is in.
class StreamLink : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~StreamLink() override = default;

    virtual QString name() const = 0;
    // Starts opening; opened() or openFailed() follows.
    virtual void open() = 0;
    virtual bool isOpen() const = 0;
    // The reason when the bytes were not all handed to the system.
    [[nodiscard]] virtual std::optional<QString> write(const QByteArray &bytes) = 0;
    virtual void close() = 0;

signals:
    void opened();
    void openFailed(const QString &why);
    void received(const QByteArray &bytes);
    // The link went down after it was open.
    void lost(const QString &why);
};

class TcpStreamLink final : public StreamLink
{
    Q_OBJECT
public:
    // A refused or unanswered connection is tried again until `patienceMs` has passed, since
    // a target's network side may come up with it.
    TcpStreamLink(const QString &host, quint16 port, int patienceMs, QObject *parent = nullptr);

    QString name() const override;
    void open() override;
    bool isOpen() const override;
    std::optional<QString> write(const QByteArray &bytes) override;
    void close() override;

private:
    void attempt();

    QTcpSocket socket_;
    QString host_;
    quint16 port_;
    int patienceMs_;
    QTimer retry_;
    qint64 deadline_ = 0;
    bool wasOpen_ = false;
};

class SerialStreamLink final : public StreamLink
{
    Q_OBJECT
public:
    SerialStreamLink(const QString &device, qint32 baud, QObject *parent = nullptr);

    QString name() const override { return device_; }
    void open() override;
    bool isOpen() const override { return port_.isOpen(); }
    std::optional<QString> write(const QByteArray &bytes) override;
    void close() override;

private:
    QSerialPort port_;
    QString device_;
    qint32 baud_;
};

} // namespace morven
