// morvenctl against a broken or hostile target: it must resynchronise on the next reply,
// never grow without bound, and exit with the code of what went wrong.
#include "support/cliprocess.h"
#include "support/hostilepeer.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace morven;

class MorvenctlHostile : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QStringList lines;
    QString file;

    int run(test::HostilePeer &peer, QStringList extra = {}, QByteArray *err = nullptr)
    {
        const test::ProcessResult r = test::runProgram(QStringLiteral(MORVENCTL_PATH),
            QStringList{"flash", file, "--no-wait", "--reply-timeout", "1000", "--tcp",
                QStringLiteral("127.0.0.1:%1").arg(peer.port())}
                + extra);
        if (err)
            *err = r.err;
        return r.code;
    }

    QStringList accepted(test::HostilePeer &peer) { return test::acceptedLines(peer.bootloader()); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        lines = test::downloadLines(20);
        const QByteArray text = lines.join(QLatin1String("\r\n")).toLatin1();
        file = dir.filePath(QStringLiteral("fw.txt"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

    void garbageAroundEveryReply()
    {
        test::HostilePeer peer;
        QVERIFY(peer.listen());
        QRandomGenerator random(5);
        peer.setBend([&random](const QByteArray &reply, int) {
            QByteArray before(random.bounded(0, 64), '\0'), after(random.bounded(0, 64), '\0');
            for (QByteArray *junk : {&before, &after})
                for (char &c : *junk) {
                    c = char(random.bounded(256));
                    if (c == ':' || c == ';')
                        c = '#'; // a stray ':' right before the reply would be a frame of its own
                }
            return before + reply + after;
        });
        QCOMPARE(run(peer), 0);
        QCOMPARE(accepted(peer), lines);
    }

    void overlongFramesAndHugeBatches()
    {
        test::HostilePeer peer;
        QVERIFY(peer.listen());
        peer.setBend([](const QByteArray &reply, int n) {
            if (n % 3 == 0)
                return ":W" + QByteArray(2000, '1') + reply; // no ';' for 2000 bytes: dropped
            if (n % 3 == 1)
                return QByteArray(40000, 'x') + reply;
            return reply;
        });
        QCOMPARE(run(peer), 0);
        QCOMPARE(accepted(peer), lines);
    }

    void floodOfLinkTestReplies()
    {
        test::HostilePeer peer;
        QVERIFY(peer.listen());
        QByteArray flood;
        for (int i = 0; i < 500; ++i)
            flood += ":U00000100ABCD;";
        peer.setBend([&flood](const QByteArray &reply, int) { return flood + reply + flood; });
        QCOMPARE(run(peer), 0);
        QCOMPARE(accepted(peer), lines);
    }

    void lineGoesDownMidDownload()
    {
        sim::Options options;
        options.dropAtLine = 7;
        test::HostilePeer peer(options);
        QVERIFY(peer.listen());
        QByteArray err;
        QCOMPARE(run(peer, {}, &err), 7);
        QVERIFY2(err.contains("connection was closed"), err.constData());
        QCOMPARE(accepted(peer), lines.mid(0, 7));
    }

    void replyWithoutItsEndTimesOut()
    {
        test::HostilePeer peer;
        QVERIFY(peer.listen());
        peer.setBend([](const QByteArray &reply, int n) { return n == 4 ? reply.chopped(1) : reply; });
        QCOMPARE(run(peer), 7);
    }

    void randomRejections()
    {
        sim::Options options;
        QRandomGenerator random(8);
        for (int line = 0; line < 20; ++line)
            if (random.bounded(3) == 0)
                options.rejections[line] = random.bounded(1, 11);
        test::HostilePeer peer(options);
        QVERIFY(peer.listen());
        QCOMPARE(run(peer), 0);
        QCOMPARE(accepted(peer), lines);
    }
};

QTEST_GUILESS_MAIN(MorvenctlHostile)
#include "test_morvenctl_hostile.moc"
