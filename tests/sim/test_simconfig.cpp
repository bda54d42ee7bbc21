// The simulator's command line, its endpoints and the saved download.
#include "sim/simconfig.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace morven::sim;

namespace {

const QString kDefaults = QStringLiteral(
    "tcp=- pty=0 erase=3 reject= delay=0 split=0 drop=- silent=0 powerup=0 baud=0 idle=20 save= verbose=0 help=0");

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

// The defaults with the given "key=value" items changed.
QString changed(const QString &changes)
{
    QStringList items = kDefaults.split(QLatin1Char(' '));
    for (const QString &change : changes.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        for (QString &item : items) {
            if (item.section(QLatin1Char('='), 0, 0) == change.section(QLatin1Char('='), 0, 0))
                item = change;
        }
    }
    return items.join(QLatin1Char(' '));
}

QStringList argv(const QString &line)
{
    return QStringList{QStringLiteral("morven-sim")} + line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

} // namespace

class TestSimConfig : public QObject
{
    Q_OBJECT

private slots:
    void accepted_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        const char *rows[][3] = {
            {"port only", "--tcp 7776", "tcp=127.0.0.1:7776"},
            {"host and port", "--tcp 127.0.0.1:0", "tcp=127.0.0.1:0"},
            {"localhost", "--tcp localhost:5", "tcp=127.0.0.1:5"},
            {"ipv6 loopback", "--tcp [::1]:7000", "tcp=::1:7000"},
            {"pty only", "--pty", "pty=1"},
            {"everything",
                "--tcp 9000 --pty --erase-status 1 --reject 3:3 --reject 1:11 --delay 40 --split --drop-after 8 "
                "--silent --power-up-after 4 --baud 9600 --idle 35 --save out.txt --verbose",
                "tcp=127.0.0.1:9000 pty=1 erase=1 reject=0:11,2:3 delay=40 split=1 drop=7 silent=1 powerup=4 "
                "baud=9600 idle=35 save=out.txt verbose=1"},
            {"same line rejected twice: the later count", "--pty --reject 3:3 --reject 3:5", "pty=1 reject=2:5"},
            {"help needs nothing else", "--help", "help=1"},
        };
        for (const auto &r : rows)
            QTest::newRow(r[0]) << QString(r[1]) << changed(r[2]);
    }
    void accepted()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        SimConfig c;
        const auto error = parseSimArguments(argv(line), c);
        QVERIFY2(!error, qPrintable(error.value_or(QString())));
        QCOMPARE(describe(c), expected);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("error"); // what the reason must name
        const char *rows[][3] = {
            {"nothing to serve", "--delay 5", "--tcp"},
            {"no arguments", "", "--pty"},
            {"tcp without value", "--tcp", "tcp"},
            {"port too big", "--tcp 65536", "--tcp"},
            {"port not a number", "--tcp 127.0.0.1:http", "--tcp"},
            {"empty port", "--tcp 127.0.0.1:", "--tcp"},
            {"host not an address", "--tcp 127.0.0.999:5", "--tcp"},
            {"unbracketed ipv6", "--tcp ::1:5", "--tcp"},
            {"erase status too big", "--pty --erase-status 256", "--erase-status"},
            {"erase status not a number", "--pty --erase-status x", "--erase-status"},
            {"reject without times", "--pty --reject 3", "--reject"},
            {"reject line 0: lines count from 1", "--pty --reject=0:2", "--reject"},
            {"reject three fields", "--pty --reject 1:2:3", "--reject"},
            {"negative delay", "--pty --delay=-5", "--delay"},
            {"drop not a number", "--pty --drop-after x", "--drop-after"},
            {"negative power-up count", "--pty --power-up-after=-1", "--power-up-after"},
            {"baud not a number", "--pty --baud fast", "--baud"},
            {"zero idle", "--pty --idle 0", "--idle"},
            {"empty save name", "--pty --save=", "--save"},
            {"unknown option", "--pty --bogus", "bogus"},
            {"stray argument", "--pty extra", "extra"},
        };
        for (const auto &r : rows)
            QTest::newRow(r[0]) << QString(r[1]) << QString(r[2]);
    }
    void refused()
    {
        QFETCH(QString, line);
        QFETCH(QString, error);
        SimConfig c;
        c.verbose = true; // left alone on failure
        const QString message = parseSimArguments(argv(line), c).value_or(QString());
        QVERIFY2(message.contains(error), qPrintable(message));
        QVERIFY(c.verbose);
    }

    // The option list comes from the parser; the first line names the program as called.
    void usageNamesTheProgram()
    {
        const QString text = simUsage(QStringLiteral("morven-sim"));
        QVERIFY2(text.startsWith(QLatin1String("Usage: morven-sim [options]\n")), qPrintable(text));
        QVERIFY(text.contains(QLatin1String("--power-up-after")));
    }

    void startSimNamesItsEndpoints_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("tcp and pty") << "--tcp 127.0.0.1:0 --pty"
                                     << "listening on 127.0.0.1:PORT, serial device PTY";
        QTest::newRow("ipv6 in brackets") << "--tcp [::1]:0"
                                          << "listening on [::1]:PORT";
    }
    void startSimNamesItsEndpoints()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        SimConfig c;
        QVERIFY(!parseSimArguments(argv(line), c));
        SimTarget target;
        QStringList endpoints;
        if (startSim(target, c, &endpoints) && c.host.protocol() == QAbstractSocket::IPv6Protocol)
            QSKIP("no IPv6 loopback here");
        QCOMPARE(endpoints.join(", "),
            expected.replace("PORT", QString::number(target.port())).replace("PTY", target.ptyPath()));
    }

    void startSimReportsAPortInUse()
    {
        SimTarget first;
        QVERIFY(first.listen());
        SimConfig c;
        c.tcp = true;
        c.port = first.port();
        SimTarget second;
        const QString error = startSim(second, c, nullptr).value_or(QString());
        QVERIFY2(error.contains(QString::number(first.port())), qPrintable(error));
        QVERIFY(!second.isListening());
    }

    void savedLinesEndWithCrLf()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.txt"));
        QVERIFY(!saveLines({":W0001AA;", ":10000000FF"}, path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray(":W0001AA;\r\n:10000000FF\r\n"));
        QVERIFY(!saveLines({}, path));
        QCOMPARE(QFileInfo(path).size(), 0);
        QVERIFY(!saveLines({"x"}, dir.filePath(QStringLiteral("missing/out.txt"))).value_or(QString()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSimConfig)
#include "test_simconfig.moc"
