// The morven-sim program as a script runs it: endpoints on stdout, a signal to end it.
#include "sim/peers.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using simtest::kWaitMs;
using simtest::PtyPeer;
using simtest::TcpPeer;

namespace {

const QByteArray kU(":U0000010001B4;");
const QByteArray kAck0(":W00000101C074;");
const QByteArray kLineA(":W000110000102030405060708090A0B0C0D0E0F10A1B2;");
const QByteArray kLineB(":10000000000102030405060708090A0B0C0D0E0F78");

QByteArray fileText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

// Reads stdout lines until `count` have come.
QStringList readLines(QProcess &p, int count)
{
    QStringList lines;
    QDeadlineTimer deadline(kWaitMs);
    while (lines.size() < count && !deadline.hasExpired()) {
        if (!p.canReadLine() && !p.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime()))))
            break;
        while (p.canReadLine())
            lines << QString::fromLocal8Bit(p.readLine()).trimmed();
    }
    return lines;
}

} // namespace

class TestSimProgram : public QObject
{
    Q_OBJECT

private slots:
    // Arguments the program ends on at once: its exit code and what stdout and stderr hold.
    void endsAtOnce_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::newRow("help") << QStringList{"--help"} << 0 << QByteArray("--power-up-after") << QByteArray();
        QTest::newRow("bad argument") << QStringList{"--pty", "--reject", "x"} << 2 << QByteArray()
                                      << QByteArray("--reject");
    }
    void endsAtOnce()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QProcess p;
        p.start(QStringLiteral(MORVEN_SIM_PATH), args);
        QVERIFY(p.waitForFinished(kWaitMs));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), exitCode);
        const QByteArray stdOut = p.readAllStandardOutput(), stdErr = p.readAllStandardError();
        QVERIFY2(out.isEmpty() ? stdOut.isEmpty() : stdOut.contains(out), stdOut.constData());
        QVERIFY2(stdErr.contains(err), stdErr.constData());
    }

    void servesUntilSignalledAndSaves_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void servesUntilSignalledAndSaves()
    {
        QFETCH(int, signal);
        QTemporaryDir dir;
        const QString save = dir.filePath(QStringLiteral("accepted.txt"));

        QProcess p;
        p.setProcessChannelMode(QProcess::SeparateChannels);
        p.start(QStringLiteral(MORVEN_SIM_PATH),
            {QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--pty"), QStringLiteral("--save"),
                save});
        QVERIFY(p.waitForStarted(kWaitMs));
        const QStringList lines = readLines(p, 2);
        QCOMPARE(lines.size(), 2);
        const QRegularExpressionMatch tcp
            = QRegularExpression(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)$")).match(lines[0]);
        QVERIFY2(tcp.hasMatch(), qPrintable(lines[0]));
        const QRegularExpressionMatch pty
            = QRegularExpression(QStringLiteral("^serial device (/dev/\\S+)$")).match(lines[1]);
        QVERIFY2(pty.hasMatch(), qPrintable(lines[1]));

        TcpPeer pc;
        QVERIFY(pc.connectTo(tcp.captured(1).toUShort()));
        QCOMPARE(pc.ask(":U;"), kU);
        QCOMPARE(pc.ask(":W00000200020401;"), kAck0);
        QCOMPARE(pc.ask(kLineA), QByteArray(":W0001010191B4;"));
        QCOMPARE(pc.ask(kLineB), QByteArray(":W0002010161B4;"));
        // A completed download is saved at once.
        QTRY_COMPARE_WITH_TIMEOUT(fileText(save), kLineA + "\r\n" + kLineB + "\r\n", kWaitMs);

        // The serial device answers too.
        PtyPeer serial(pty.captured(1));
        QCOMPARE(serial.ask(":U;"), kU);

        // A download cut short is saved as far as it got when the program ends.
        QCOMPARE(pc.ask(":W00000200020401;"), kAck0);
        QCOMPARE(pc.ask(kLineB), QByteArray(":W0001010191B4;"));
        QCOMPARE(::kill(static_cast<pid_t>(p.processId()), signal), 0);
        QVERIFY(p.waitForFinished(kWaitMs));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(fileText(save), kLineB + "\r\n");
    }
};

QTEST_GUILESS_MAIN(TestSimProgram)
#include "test_simprogram.moc"
