// The rules that turn what the operator typed into port settings, and the order in which
// the serial port is set up.
#include "link/commsetting.h"
#include "link/qtserialport.h"
#include "link/qttcpsocket.h"
#include "support/recordingserialport.h"
#include "link/serialports.h"

#include <QDir>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace morven;

class LinkRules : public QObject
{
    Q_OBJECT
private slots:
    void portNumberFromText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("port");
        QTest::newRow("default") << "1" << 1;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("negative") << "-3" << -3;
        QTest::newRow("letters") << "COM" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("digits then letters") << "7x" << 7;
        QTest::newRow("leading blanks") << "  12" << 12;
        QTest::newRow("plus sign") << "+5" << 5;
        QTest::newRow("half rounds to even, down") << "2.5" << 2;
        QTest::newRow("half rounds to even, up") << "3.5" << 4;
        QTest::newRow("above half") << "2.51" << 3;
        QTest::newRow("fraction only") << ".6" << 1;
        QTest::newRow("largest") << "32767" << 32767;
        QTest::newRow("rounds past the largest") << "32767.5" << 0;
        QTest::newRow("too large") << "99999" << 0;
        QTest::newRow("smallest") << "-32768" << -32768;
        QTest::newRow("too small") << "-32769" << 0;
        QTest::newRow("no hex") << "0x10" << 0;
        QTest::newRow("no exponent") << "1e3" << 1;
        QTest::newRow("sign alone") << "-" << 0;
        QTest::newRow("huge") << QString(400, QLatin1Char('9')) << 0;
    }
    void portNumberFromText()
    {
        QFETCH(QString, text);
        QFETCH(int, port);
        QCOMPARE(int(CommSetting::PortNumberFromText(text)), port);
    }

    void openCommSetsUpInOrderAndOpens()
    {
        test::RecordingSerialPort comm;
        qint16 port = 3;
        QString settings = QStringLiteral("19200,n,8,1");
        QVERIFY(CommSetting::OpenComm(comm, port, settings));
        QCOMPARE(comm.calls, (QStringList{"settings 19200,n,8,1", "port 3", "buffers 512 512 512", "clear", "open"}));
        QVERIFY(comm.isOpen());
    }

    void openCommRaisesPortAndDefaultsSettings_data()
    {
        QTest::addColumn<int>("given");
        QTest::addColumn<int>("used");
        QTest::newRow("zero") << 0 << 1;
        QTest::newRow("negative") << -3 << 1;
        QTest::newRow("one") << 1 << 1;
    }
    void openCommRaisesPortAndDefaultsSettings()
    {
        QFETCH(int, given);
        QFETCH(int, used);
        test::RecordingSerialPort comm;
        qint16 port = qint16(given);
        QString settings;
        CommSetting::OpenComm(comm, port, settings);
        QCOMPARE(int(port), used);
        QCOMPARE(settings, QStringLiteral("9600,n,8,1"));
        QVERIFY(comm.calls.contains(QStringLiteral("port %1").arg(used)));
    }

    void openCommClosesAnOpenPortFirst()
    {
        test::RecordingSerialPort comm;
        qint16 port = 1;
        QString settings = QStringLiteral("9600,n,8,1");
        QVERIFY(CommSetting::OpenComm(comm, port, settings));
        comm.calls.clear();
        QVERIFY(CommSetting::OpenComm(comm, port, settings));
        QCOMPARE(comm.calls.first(), QStringLiteral("close"));
        QCOMPARE(comm.calls.last(), QStringLiteral("open"));
    }

    void rejectedSettingsEndTheSetUpClosed()
    {
        test::RecordingSerialPort comm;
        comm.rejectSettings = QStringLiteral(",n,8,1");
        qint16 port = 1;
        QString settings = QStringLiteral(",n,8,1");
        QVERIFY(!CommSetting::OpenComm(comm, port, settings));
        QCOMPARE(comm.calls, QStringList{"settings ,n,8,1"});
        QVERIFY(!comm.isOpen());
    }

    void lineSettings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<int>("rate");
        QTest::newRow("default") << "9600,n,8,1" << true << 9600;
        QTest::newRow("every listed rate parses") << "128000,n,8,1" << true << 128000;
        QTest::newRow("upper case parity") << "115200,N,8,1" << true << 115200;
        QTest::newRow("even parity, 7 bits, 2 stop") << "4800,e,7,2" << true << 4800;
        QTest::newRow("one and a half stop bits") << "300,o,5,1.5" << true << 300;
        QTest::newRow("empty rate") << ",n,8,1" << false << 0;
        QTest::newRow("rate not a number") << "fast,n,8,1" << false << 0;
        QTest::newRow("zero rate") << "0,n,8,1" << false << 0;
        QTest::newRow("negative rate") << "-9600,n,8,1" << false << 0;
        QTest::newRow("fraction rate") << "9600.5,n,8,1" << false << 0;
        QTest::newRow("unknown parity") << "9600,x,8,1" << false << 0;
        QTest::newRow("nine data bits") << "9600,n,9,1" << false << 0;
        QTest::newRow("three stop bits") << "9600,n,8,3" << false << 0;
        QTest::newRow("missing field") << "9600,n,8" << false << 0;
        QTest::newRow("extra field") << "9600,n,8,1,1" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
    }
    void lineSettings()
    {
        QFETCH(QString, text);
        QFETCH(bool, usable);
        QFETCH(int, rate);
        const auto parsed = parseLineSettings(text);
        QCOMPARE(parsed.has_value(), usable);
        if (parsed)
            QCOMPARE(parsed->rate, rate);
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
        const QList<SerialPortRow> ports{{"/dev/ttyUSB0", {}, {}, "A6008isP", 0x0403, 0x6001, 1},
            {"/dev/ttyUSB1", {}, {}, "", 0x0403, 0x6001, 2}};
        QString device;
        QVERIFY(!resolveSerialDevice("usb:A6008isP", ports, device));
        QCOMPARE(device, "/dev/ttyUSB0");
        QVERIFY(!resolveSerialDevice("/dev/ttyS3", ports, device));
        QCOMPARE(device, "/dev/ttyS3");
        QVERIFY(resolveSerialDevice("usb:nothere", ports, device).value_or(QString()).contains("morvenctl ports"));
        QVERIFY(resolveSerialDevice("usb:", ports, device)); // an adapter without a serial number is not "usb:"
    }

    void tcpPort_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("port");
        QTest::newRow("default") << "7776" << 7776;
        QTest::newRow("blanks") << " 80 " << 80;
        QTest::newRow("highest") << "65535" << 65535;
        QTest::newRow("too high") << "65536" << -1;
        QTest::newRow("zero") << "0" << -1;
        QTest::newRow("letters") << "http" << -1;
        QTest::newRow("empty") << "" << -1;
    }
    void tcpPort()
    {
        QFETCH(QString, text);
        QFETCH(int, port);
        const auto parsed = parseTcpPort(text);
        QCOMPARE(parsed ? int(*parsed) : -1, port);
    }

    void fileExists()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath(QStringLiteral("fw.hex"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QVERIFY(CommSetting::FileExists(file));
        QVERIFY(CommSetting::FileExists(dir.path()));
        QVERIFY(!CommSetting::FileExists(dir.filePath(QStringLiteral("missing.hex"))));
        QVERIFY(!CommSetting::FileExists(QString()));
    }
};

QTEST_GUILESS_MAIN(LinkRules)
#include "test_link_rules.moc"
