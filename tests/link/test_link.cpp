// The link rules for what the operator types, the serial port set-up, and the port on a terminal.
#include "link/commsetting.h"
#include "link/endpoint.h"
#include "link/qtserialcomponent.h"
#include "link/serialports.h"
#include "support/pty.h"
#include "support/recordingserialcomponent.h"
#include "support/testmain.h"

#include <QSet>
#include <QSignalSpy>

#include <termios.h>

using namespace morven;

class LinkRules : public QObject
{
    Q_OBJECT
private slots:
    // What the operator types, as each rule reads it: the port number (rounded half to even, 0 when
    // no 16-bit number), the line settings (their rate; 0: refused), the TCP port (-1: refused).
    void typedText_data()
    {
        QTest::addColumn<int>("value");
        const std::pair<const char *, int> rows[]
            = {{"port|1", 1}, {"port|-3", -3}, {"port|COM", 0}, {"port|7x", 7}, {"port|  +12", 12}, {"port|2.5", 2},
                {"port|3.5", 4}, {"port|2.51", 3}, {"port|.6", 1}, {"port|32767", 32767}, {"port|32767.5", 0},
                {"port|-32768", -32768}, {"port|-32769", 0}, {"port|0x10", 0}, {"port|1e3", 1}, {"port|-", 0},
                {"port|99999999999999999999999", 0}, {"line|9600,n,8,1", 9600}, {"line|115200,N,8,1", 115200},
                {"line|4800,e,7,2", 4800}, {"line|300,o,5,1.5", 300}, {"line|,n,8,1", 0}, {"line|0,n,8,1", 0},
                {"line|9600.5,n,8,1", 0}, {"line|9600,x,8,1", 0}, {"line|9600,n,9,1", 0}, {"line|9600,n,4,1", 0},
                {"line|9600,n,8,3", 0}, {"line|9600,n,8", 0}, {"line|9600,n,8,1,1", 0}, {"tcp|7776", 7776},
                {"tcp| 80 ", 80}, {"tcp|65535", 65535}, {"tcp|65536", -1}, {"tcp|0", -1}, {"tcp|http", -1}};
        for (const auto &[tag, value] : rows)
            QTest::newRow(tag) << value;
    }
    void typedText()
    {
        QFETCH(int, value);
        const QStringList tag = QString::fromLatin1(QTest::currentDataTag()).split(QLatin1Char('|'));
        const auto line = parseLineSettings(tag[1]);
        const auto tcp = parseTcpPort(tag[1]);
        const int got = tag[0] == QLatin1String("port") ? CommSetting::PortNumberFromText(tag[1])
            : tag[0] == QLatin1String("line")           ? (line ? line->rate : 0)
                                                        : (tcp ? int(*tcp) : -1);
        QCOMPARE(got, value);
    }

    // Settings, port, buffers, clear, open, in that order: refused settings choose no device. An
    // open port is closed first, a port below 1 becomes 1, no settings become the default.
    void openCommSetsUpInOrder()
    {
        test::RecordingSerialComponent comm;
        qint16 port = 0;
        QString settings;
        QCOMPARE(CommSetting::OpenComm(comm, port, settings), std::nullopt);
        QCOMPARE(comm.calls, (QStringList{"settings 9600,n,8,1", "port 1", "buffers 512 512 512", "clear", "open"}));
        comm.calls.clear();
        port = 3;
        settings = QStringLiteral("19200,n,8,1");
        QCOMPARE(CommSetting::OpenComm(comm, port, settings), std::nullopt);
        QCOMPARE(comm.calls.first(), QStringLiteral("close"));
        QCOMPARE(comm.calls.mid(1, 2), (QStringList{"settings 19200,n,8,1", "port 3"}));
        // The first refusal ends it and is the reason given.
        comm.calls.clear();
        comm.rejectSettings = settings;
        QCOMPARE(CommSetting::OpenComm(comm, port, settings), QStringLiteral("settings refused"));
        QCOMPARE(comm.calls, (QStringList{"close", "settings 19200,n,8,1"}));
    }

    void serialDeviceRule_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("device");
        QTest::newRow("usb adapter first")
            << 1 << QStringList{"/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyS0"} << "/dev/ttyUSB0";
        QTest::newRow("then acm") << 2 << QStringList{"/dev/ttyUSB0", "/dev/ttyACM1", "/dev/ttyS1"} << "/dev/ttyACM1";
        QTest::newRow("then built-in") << 3 << QStringList{"/dev/ttyS2"} << "/dev/ttyS2";
        QTest::newRow("nothing there") << 4 << QStringList{} << "/dev/ttyS3";
        QTest::newRow("number picks the index") << 10 << QStringList{"/dev/ttyUSB0", "/dev/ttyUSB9"} << "/dev/ttyUSB9";
    }
    void serialDeviceRule()
    {
        QFETCH(int, number);
        QFETCH(QStringList, present);
        QFETCH(QString, device);
        const QSet<QString> there(present.begin(), present.end());
        const auto exists = [&](const QString &p) { return there.contains(p); };
        QCOMPARE(serialDeviceFor(number, exists), device);
        // The way back, for "morvenctl ports"; a device shadowed by an earlier one has no number.
        if (there.contains(device))
            QCOMPARE(windowPortNumber(device, exists), number);
        for (const QString &p : present)
            if (p.endsWith(QLatin1String("ACM0")) || p.endsWith(QLatin1String("S0")))
                QCOMPARE(windowPortNumber(p, exists), 0);
    }

    void serialByUsbSerialNumber()
    {
        const QList<SerialPortRow> ports{
            {"/dev/ttyUSB0", {}, {}, "A6008isP", 0x0403, 0x6001, 1}, {"/dev/ttyUSB1", {}, {}, "", 0x0403, 0x6001, 2}};
        QString device;
        QVERIFY(!resolveSerialDevice("usb:A6008isP", ports, device));
        QCOMPARE(device, "/dev/ttyUSB0");
        QVERIFY(!resolveSerialDevice("/dev/ttyS3", ports, device));
        QCOMPARE(device, "/dev/ttyS3");
        QVERIFY(resolveSerialDevice("usb:nothere", ports, device).value_or(QString()).contains("morvenctl ports"));
        QVERIFY(resolveSerialDevice("usb:", ports, device)); // an adapter without a serial number is not "usb:"
    }

    // The port opened on a real terminal at 9600 8N1 as the window opens it: raw, so bytes come
    // through unchanged; what waited before the opening is dropped; one read takes at most 512
    // bytes. When the far end goes away the port fails: it stays open, refusing every send,
    // until it is closed. (The window tests open and lose the port; the e2e tests update over a
    // terminal.)
    void serialPortOnATerminal()
    {
        test::Pty pty;
        QVERIFY(pty.isValid());
        QtSerialComponent port([device = pty.slavePath()](int) { return device; });
        QVERIFY(pty.write("stale bytes from before"));
        qint16 number = 1;
        QString settings = QStringLiteral("9600,n,8,1");
        QCOMPARE(CommSetting::OpenComm(port, number, settings), std::nullopt);
        QVERIFY(port.setPortNumber(2)); // not while open
        QVERIFY(QtSerialComponent().setPortNumber(0));
        termios t{};
        QCOMPARE(tcgetattr(pty.slaveFd(), &t), 0);
        QCOMPARE(cfgetispeed(&t), speed_t(B9600));
        QCOMPARE(t.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));
        QVERIFY(!(t.c_lflag & ICANON));
        QSignalSpy events(&port, &SerialComponent::commEvent);
        QVERIFY(pty.write(QByteArray(700, 'A')));
        QVERIFY(events.wait(5000));
        QCOMPARE(port.lastEvent(), int(SerialComponent::Receive));
        QVERIFY(QTest::qWaitFor([&] { return port.bytesWaiting() >= 512; }));
        QCOMPARE(port.read(), QByteArray(512, 'A'));
        QByteArray rest;
        QVERIFY(QTest::qWaitFor([&] { return (rest += port.read()).size() >= 188; }));
        QCOMPARE(rest, QByteArray(188, 'A'));

        QCOMPARE(port.write(":U;"), std::nullopt);
        QCOMPARE(pty.read(3), QByteArray(":U;"));
        QSignalSpy failures(&port, &SerialComponent::failed);
        pty.closeSlave();
        pty.closeMaster();
        QVERIFY2(failures.wait(5000), "the port's failed() after the far end went away");
        QVERIFY(port.isOpen());
        QVERIFY(port.write(":U;").value_or(QString()).contains("failed"));
        QCOMPARE(port.read(), QByteArray());
        QVERIFY(port.open()); // not over a failed port: it is closed first
        port.close();
        QVERIFY(!port.isOpen());
        QCOMPARE(port.write(":U;"), QStringLiteral("the port is closed"));
    }
};
MORVEN_TEST_CLASS(LinkRules)

MORVEN_TEST_MAIN_ALL(QCoreApplication)
#include "test_link.moc"
