// The simulator's command line, its endpoints and the saved download.
#include "simconfig.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace morven::sim;

namespace {

// Everything a command line can set, in one comparable line.
QString describe(const SimConfig &c)
{
    QStringList rejects;
    for (const auto &[line, times] : c.bootloader.rejections)
        rejects << QStringLiteral("%1:%2").arg(line).arg(times);
    return QStringLiteral("tcp=%1 pty=%2 erase=%3 reject=%4 delay=%5 split=%6 drop=%7 silent=%8 powerup=%9 baud=%10 "
                          "idle=%11 save=%12 verbose=%13 help=%14")
        .arg(c.tcp ? QStringLiteral("%1:%2").arg(c.host.toString()).arg(c.port) : QStringLiteral("-"))
        .arg(int(c.pty))
        .arg(int(c.bootloader.eraseStatus))
        .arg(rejects.join(QLatin1Char(',')))
        .arg(c.transport.replyDelayMs)
        .arg(int(c.transport.splitReplies))
        .arg(c.bootloader.dropAtLine ? QString::number(*c.bootloader.dropAtLine) : QStringLiteral("-"))
        .arg(int(c.bootloader.silent))
        .arg(c.bootloader.powerUpAfter)
        .arg(c.transport.baud)
        .arg(c.bootloader.idle.count())
        .arg(c.saveFile)
        .arg(int(c.verbose))
        .arg(int(c.help));
}

QStringList argv(const QString &line)
{
    QStringList args{QStringLiteral("morven-sim")};
    if (!line.isEmpty())
        args << line.split(QLatin1Char(' '));
    return args;
}

const QString kDefaults
    = QStringLiteral("pty=0 erase=3 reject= delay=0 split=0 drop=- silent=0 powerup=0 baud=0 idle=20 "
                     "save= verbose=0 help=0");

} // namespace

class TestSimConfig : public QObject
{
    Q_OBJECT

private slots:
    void accepted_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("port only") << "--tcp 7776"
                                   << "tcp=127.0.0.1:7776 " + kDefaults;
        QTest::newRow("host and port") << "--tcp 127.0.0.1:0"
                                       << "tcp=127.0.0.1:0 " + kDefaults;
        QTest::newRow("localhost") << "--tcp localhost:5"
                                   << "tcp=127.0.0.1:5 " + kDefaults;
        QTest::newRow("ipv6 loopback") << "--tcp [::1]:7000"
                                       << "tcp=::1:7000 " + kDefaults;
        QTest::newRow("equals form") << "--tcp=7776"
                                     << "tcp=127.0.0.1:7776 " + kDefaults;
        QTest::newRow("pty only") << "--pty" << QString(kDefaults).replace("pty=0", "pty=1").prepend("tcp=- ");
        QTest::newRow("everything")
            << "--tcp 9000 --pty --erase-status 1 --reject 2:3 --reject 0:11 --delay 40 --split --drop-after 7 "
               "--silent --power-up-after 4 --baud 9600 --idle 35 --save out.txt --verbose"
            << "tcp=127.0.0.1:9000 pty=1 erase=1 reject=0:11,2:3 delay=40 split=1 drop=7 silent=1 powerup=4 "
               "baud=9600 idle=35 save=out.txt verbose=1 help=0";
        QTest::newRow("same line rejected twice: the later count")
            << "--pty --reject 2:3 --reject 2:5"
            << QString(kDefaults).replace("pty=0", "pty=1").replace("reject=", "reject=2:5").prepend("tcp=- ");
        QTest::newRow("erase failure status") << "--tcp 1 --erase-status 0"
                                              << "tcp=127.0.0.1:1 " + QString(kDefaults).replace("erase=3", "erase=0");
        QTest::newRow("help needs nothing else") << "--help"
                                                 << "tcp=- " + QString(kDefaults).replace("help=0", "help=1");
    }
    void accepted()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        SimConfig c;
        QString error;
        QVERIFY2(parseSimArguments(argv(line), c, &error), qPrintable(error));
        QCOMPARE(describe(c), expected);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("error");
        QTest::newRow("nothing to serve") << "--delay 5"
                                          << "--tcp";
        QTest::newRow("no arguments") << ""
                                      << "--pty";
        QTest::newRow("tcp without value") << "--tcp"
                                           << "tcp";
        QTest::newRow("port too big") << "--tcp 65536"
                                      << "--tcp";
        QTest::newRow("port not a number") << "--tcp 127.0.0.1:http"
                                           << "--tcp";
        QTest::newRow("empty port") << "--tcp 127.0.0.1:"
                                    << "--tcp";
        QTest::newRow("host not an address") << "--tcp 127.0.0.999:5"
                                             << "--tcp";
        QTest::newRow("unbracketed ipv6") << "--tcp ::1:5"
                                          << "--tcp";
        QTest::newRow("erase status too big") << "--pty --erase-status 256"
                                              << "--erase-status";
        QTest::newRow("erase status not a number") << "--pty --erase-status x"
                                                   << "--erase-status";
        QTest::newRow("reject without times") << "--pty --reject 3"
                                              << "--reject";
        QTest::newRow("reject negative line") << "--pty --reject=-1:2"
                                              << "--reject";
        QTest::newRow("reject three fields") << "--pty --reject 1:2:3"
                                             << "--reject";
        QTest::newRow("negative delay") << "--pty --delay=-5"
                                        << "--delay";
        QTest::newRow("drop not a number") << "--pty --drop-after x"
                                           << "--drop-after";
        QTest::newRow("negative power-up count") << "--pty --power-up-after=-1"
                                                 << "--power-up-after";
        QTest::newRow("baud not a number") << "--pty --baud fast"
                                           << "--baud";
        QTest::newRow("zero idle") << "--pty --idle 0"
                                   << "--idle";
        QTest::newRow("empty save name") << "--pty --save="
                                         << "--save";
        QTest::newRow("unknown option") << "--pty --bogus"
                                        << "bogus";
        QTest::newRow("stray argument") << "--pty extra"
                                        << "extra";
    }
    void refused()
    {
        QFETCH(QString, line);
        QFETCH(QString, error);
        SimConfig c;
        c.verbose = true; // left alone on failure
        QString message;
        QVERIFY(!parseSimArguments(argv(line), c, &message));
        QVERIFY2(message.contains(error), qPrintable(message));
        QVERIFY(c.verbose);
    }

    void usageNamesEveryOption()
    {
        const QString text = simUsage(QStringLiteral("morven-sim"));
        QVERIFY(text.startsWith(QLatin1String("Usage: morven-sim")));
        for (const char *option : {"--tcp", "--pty", "--erase-status", "--reject", "--delay", "--split", "--drop-after",
                 "--silent", "--power-up-after", "--baud", "--idle", "--save", "--verbose", "--help"})
            QVERIFY2(text.contains(QLatin1String(option)), option);
    }

    void startSimNamesItsEndpoints()
    {
        SimConfig c;
        QString error;
        QVERIFY(parseSimArguments(argv(QStringLiteral("--tcp 127.0.0.1:0 --pty")), c, &error));
        SimTarget target;
        QStringList endpoints;
        QVERIFY2(startSim(target, c, &endpoints, &error), qPrintable(error));
        QCOMPARE(endpoints.size(), 2);
        QCOMPARE(endpoints[0], QStringLiteral("listening on 127.0.0.1:%1").arg(target.port()));
        QCOMPARE(endpoints[1], QStringLiteral("serial device %1").arg(target.ptyPath()));
        QVERIFY(QRegularExpression(QStringLiteral("^serial device /dev/\\S+$")).match(endpoints[1]).hasMatch());
    }

    void startSimWritesIpv6InBrackets()
    {
        SimConfig c;
        QString error;
        QVERIFY(parseSimArguments(argv(QStringLiteral("--tcp [::1]:0")), c, &error));
        SimTarget target;
        QStringList endpoints;
        if (!startSim(target, c, &endpoints, &error))
            QSKIP("no IPv6 loopback here");
        QCOMPARE(endpoints, QStringList{QStringLiteral("listening on [::1]:%1").arg(target.port())});
    }

    void startSimReportsAPortInUse()
    {
        SimTarget first;
        QVERIFY(first.listen());
        SimConfig c;
        c.tcp = true;
        c.port = first.port();
        SimTarget second;
        QString error;
        QVERIFY(!startSim(second, c, nullptr, &error));
        QVERIFY2(error.contains(QString::number(first.port())), qPrintable(error));
    }

    void savedLinesEndWithCrLf()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("out.txt"));
        QString error;
        QVERIFY(saveLines({":W0001AA;", ":10000000FF"}, path, &error));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray(":W0001AA;\r\n:10000000FF\r\n"));
        f.close();

        QVERIFY(saveLines({}, path, &error));
        QCOMPARE(QFileInfo(path).size(), 0);

        QVERIFY(!saveLines({"x"}, dir.filePath(QStringLiteral("missing/out.txt")), &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSimConfig)
#include "test_simconfig.moc"
