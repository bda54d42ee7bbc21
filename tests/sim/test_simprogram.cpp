// The morven-sim program as a script runs it: endpoints on stdout, a signal to end it.
#include "peers.h"

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
    void helpExitsCleanly()
    {
        QProcess p;
        p.start(QStringLiteral(MORVEN_SIM_PATH), {QStringLiteral("--help")});
        QVERIFY(p.waitForFinished(kWaitMs));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        const QByteArray out = p.readAllStandardOutput();
        QVERIFY(out.contains("--tcp"));
        QVERIFY(out.contains("--power-up-after"));
    }

    void badArgumentsFailWithAReason()
    {
        QProcess p;
        p.start(QStringLiteral(MORVEN_SIM_PATH),
            {QStringLiteral("--pty"), QStringLiteral("--reject"), QStringLiteral("x")});
        QVERIFY(p.waitForFinished(kWaitMs));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("--reject"));
        QVERIFY(p.readAllStandardOutput().isEmpty());
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
        QVERIFY(dir.isValid());
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
        pc.send(":U;");
        QCOMPARE(pc.take(15), kU);
        pc.send(":W00000200020401;");
        QCOMPARE(pc.take(15), kAck0);
        pc.send(kLineA);
        QCOMPARE(pc.take(15), QByteArray(":W0001010191B4;"));
        pc.send(kLineB);
        QCOMPARE(pc.take(15), QByteArray(":W0002010161B4;"));
        // A completed download is saved at once.
        QTRY_COMPARE_WITH_TIMEOUT(fileText(save), kLineA + "\r\n" + kLineB + "\r\n", kWaitMs);

        // The serial device answers too.
        PtyPeer serial(pty.captured(1));
        QVERIFY(serial.isOpen());
        QVERIFY(serial.send(":U;"));
        QCOMPARE(serial.take(15), kU);

        // A download cut short is saved as far as it got when the program ends.
        pc.send(":W00000200020401;");
        QCOMPARE(pc.take(15), kAck0);
        pc.send(kLineB);
        QCOMPARE(pc.take(15), QByteArray(":W0001010191B4;"));
        QCOMPARE(::kill(static_cast<pid_t>(p.processId()), signal), 0);
        QVERIFY(p.waitForFinished(kWaitMs));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(fileText(save), kLineB + "\r\n");
    }
};

QTEST_GUILESS_MAIN(TestSimProgram)
#include "test_simprogram.moc"
