// The serial port against a real pseudo-terminal: what the far end of the line sees.
#include "link/commsetting.h"
#include "support/pty.h"
#include "link/qtserialport.h"

#include <QSignalSpy>
#include <QTest>

#include <termios.h>

using namespace morven;

class SerialPty : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::Pty> pty;
    std::unique_ptr<QtSerialPort> port;

    bool openDefault()
    {
        qint16 number = 1;
        QString settings = QStringLiteral("9600,n,8,1");
        return CommSetting::OpenComm(*port, number, settings);
    }

private slots:
    void init()
    {
        pty = std::make_unique<test::Pty>();
        QVERIFY(pty->isValid());
        const QString device = pty->slavePath();
        port = std::make_unique<QtSerialPort>(
            [device](int n) { return n == 1 ? device : QStringLiteral("/nonexistent/tty%1").arg(n); });
    }
    void cleanup()
    {
        port.reset();
        pty.reset();
    }

    void opensWithTheLineSettings()
    {
        QVERIFY(openDefault());
        QVERIFY(port->isOpen());
        termios t{};
        QCOMPARE(tcgetattr(pty->slaveFd(), &t), 0);
        QCOMPARE(cfgetispeed(&t), speed_t(B9600));
        QCOMPARE(cfgetospeed(&t), speed_t(B9600));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QVERIFY(!(t.c_cflag & PARENB));
        QVERIFY(!(t.c_cflag & CSTOPB));
        QVERIFY(!(t.c_lflag & ICANON)); // bytes come through unchanged, not as lines
    }

    // A terminal keeps only the rate of other settings; the parser tests cover the rest.
    void anotherRateReachesTheLine()
    {
        qint16 number = 1;
        QString settings = QStringLiteral("19200,n,8,1");
        QVERIFY(CommSetting::OpenComm(*port, number, settings));
        termios t{};
        QCOMPARE(tcgetattr(pty->slaveFd(), &t), 0);
        QCOMPARE(cfgetospeed(&t), speed_t(B19200));
    }

    void bytesWaitingBeforeTheOpeningAreDiscarded()
    {
        QVERIFY(pty->write("stale bytes from before"));
        QVERIFY(openDefault());
        QSignalSpy events(port.get(), &SerialPort::commEvent);
        QVERIFY(pty->write(":U;"));
        QVERIFY(events.wait(5000));
        QTRY_COMPARE(port->bytesWaiting(), 3);
        QCOMPARE(port->lastEvent(), int(SerialPort::Receive));
        QCOMPARE(port->read(), QByteArray(":U;"));
        QCOMPARE(port->bytesWaiting(), 0);
    }

    void oneReadReturnsAtMostTheReadLimit()
    {
        QVERIFY(openDefault());
        QVERIFY(pty->write(QByteArray(700, 'A')));
        QTRY_VERIFY(port->bytesWaiting() >= 512);
        QCOMPARE(port->read().size(), 512);
        QByteArray rest;
        QTRY_VERIFY((rest += port->read()).size() >= 188);
        QCOMPARE(rest, QByteArray(188, 'A'));
    }

    void writesReachTheFarEndUnchanged()
    {
        QVERIFY(openDefault());
        const QByteArray frame(":K000001028075;\x00\xff\r\n", 19);
        QVERIFY(port->write(frame));
        QCOMPARE(pty->read(int(frame.size())), frame);
    }

    void closedPortWritesNothing()
    {
        QVERIFY(!port->write(":U;"));
        QVERIFY(openDefault());
        port->close();
        QVERIFY(!port->isOpen());
        QVERIFY(!port->write(":U;"));
        port->close(); // closing a closed port is no error
        QCOMPARE(pty->read(1, 100), QByteArray());
    }

    void missingDeviceDoesNotOpen()
    {
        qint16 number = 2;
        QString settings = QStringLiteral("9600,n,8,1");
        QVERIFY(!CommSetting::OpenComm(*port, number, settings));
        QVERIFY(!port->isOpen());
    }

    void portCannotChangeWhileOpen()
    {
        QVERIFY(openDefault());
        QVERIFY(!port->setPortNumber(2));
    }

    void vanishingDeviceClosesThePortQuietly()
    {
        QVERIFY(openDefault());
        QSignalSpy events(port.get(), &SerialPort::commEvent);
        pty->closeSlave();
        pty->closeMaster();
        QTRY_VERIFY_WITH_TIMEOUT(!port->isOpen(), 5000);
        // Once closed, nothing more is reported.
        const auto seen = events.count();
        QTest::qWait(100);
        QCOMPARE(events.count(), seen);
    }
};

QTEST_GUILESS_MAIN(SerialPty)
#include "test_serial_pty.moc"
