// The window against a broken or hostile target: garbage, overlong replies, floods, a line
// that goes down mid-download, silence. It must stay responsive, keep what the operator has,
// and show only what the rules say.
#include "app/windowfixture.h"

#include "support/hostilepeer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QTemporaryDir>

using namespace morven;

namespace {
const QString Success = QStringLiteral("Update program success,please reset power!");
const QStringList Known{"Please power up!", "Enter Update mode,first step Erase flash,second step Download!",
    "Run user program!", "Erase flash failure,please try again!", "Erase flash success!",
    "Erase flash success,but check empty error! please try again!", Success,
    "Update program failure, please reset power and try again !!", "Please open the file to download!"};
} // namespace

class Hostile : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::WindowFixture> f;
    std::unique_ptr<test::HostilePeer> peer;
    QTemporaryDir dir;
    QStringList lines;

    void start(int count, sim::Options options = {})
    {
        peer = std::make_unique<test::HostilePeer>(std::move(options));
        QVERIFY(peer->listen());
        lines.clear();
        QByteArray text;
        for (int i = 1; i <= count; ++i) {
            lines << QStringLiteral(":W%1040011223300;").arg(i, 4, 16, QLatin1Char('0')).toUpper();
            text += lines.last().toLatin1() + "\r\n";
        }
        const QString path = dir.filePath(QStringLiteral("fw.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        f->dialogs->paths.push_back(path);
        f->click("Command10");
        f->click("Option1");
        f->aimAt(peer->port());
        f->click("Command32");
        QTRY_VERIFY_WITH_TIMEOUT(peer->hasClient(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(f->lamp(), FrmMain::LampGreen, 5000);
    }

    // The event loop still turns promptly: a queued call runs, a click still takes effect.
    void expectResponsive()
    {
        QElapsedTimer clock;
        clock.start();
        bool ran = false;
        QMetaObject::invokeMethod(
            this, [&ran] { ran = true; }, Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(ran, 5000);
        QVERIFY2(clock.elapsed() < 2000, "the window's event loop was held up");
        const std::size_t before = f->window->list1Items().count();
        f->click("Command7"); // Clear1 works
        QCOMPARE(f->window->list1Items().count(), std::size_t(0));
        Q_UNUSED(before);
    }

    void expectOnlyKnownMessages()
    {
        for (const QString &m : f->dialogs->messages())
            QVERIFY2(Known.contains(m), qPrintable(m));
    }

    QStringList accepted() const
    {
        QStringList out;
        for (const std::string &l : peer->bootloader().acceptedLines())
            out << QString::fromStdString(l);
        return out;
    }

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        f = std::make_unique<test::WindowFixture>();
    }
    void cleanup()
    {
        QVERIFY(f->socket->refused.isEmpty());
        f.reset();
        peer.reset();
    }

    void garbageBeforeEveryReply()
    {
        start(12);
        QRandomGenerator random(11);
        peer->setBend([&random](const QByteArray &reply, int) {
            QByteArray junk(random.bounded(1, 40), '\0');
            for (char &c : junk)
                c = char(random.bounded(256));
            // Garbage that comes before a reply makes it unreadable: the download stalls
            // there, as the window does not look for the reply inside the batch.
            return junk + reply;
        });
        f->click("Command4");
        QTest::qWait(400);
        expectResponsive();
        expectOnlyKnownMessages();
    }

    void garbageAfterEveryReplyIsIgnored()
    {
        start(12);
        QRandomGenerator random(12);
        peer->setBend([&random](const QByteArray &reply, int) {
            QByteArray junk(random.bounded(1, 300), '\0');
            for (char &c : junk)
                c = char(random.bounded(256));
            return reply + junk;
        });
        f->click("Command4");
        QTRY_VERIFY_WITH_TIMEOUT(f->dialogs->messages().contains(Success), 30000);
        QCOMPARE(accepted(), lines);
        expectResponsive();
    }

    void repliesLongerThan512Bytes()
    {
        start(6);
        peer->setBend([](const QByteArray &reply, int) { return reply.chopped(1) + QByteArray(700, '0') + ";"; });
        f->click("Command4");
        QTRY_VERIFY_WITH_TIMEOUT(f->dialogs->messages().contains(Success), 30000);
        QCOMPARE(accepted(), lines);
    }

    void moreThan32767BytesAtOnce()
    {
        start(3);
        f->click("Command13");
        QTest::qWait(100);
        peer->send(":K00000103ABCD;" + QByteArray(40000, 'Z'));
        QTRY_VERIFY_WITH_TIMEOUT(f->dialogs->messages().contains(QStringLiteral("Erase flash success!")), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!f->timer("Timer5")->isEnabled(), 5000);
        // Nothing was left behind: the next download runs normally.
        f->click("Command4");
        QTRY_VERIFY_WITH_TIMEOUT(f->dialogs->messages().contains(Success), 30000);
        expectResponsive();
    }

    void floodOfLinkTestReplies()
    {
        start(4);
        f->click("Command5");
        QByteArray flood;
        for (int i = 0; i < 3000; ++i)
            flood += ":U00000100ABCD;";
        for (int i = 0; i < 20; ++i) {
            peer->send(flood);
            QTest::qWait(10);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!f->timer("Timer4")->isEnabled(), 10000);
        QTest::qWait(200);
        expectResponsive();
        expectOnlyKnownMessages();
        // Each gathered batch shows the message once, not each reply in it.
        QVERIFY(f->dialogs->messages().size() < 40);
    }

    void lineGoesDownMidDownload()
    {
        sim::Options options;
        options.dropAtLine = 3;
        start(8, options);
        f->click("Command4");
        QTRY_COMPARE_WITH_TIMEOUT(f->lamp(), FrmMain::LampGrey, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(f->enabledLinkControls(), (QStringList{"IP_Addr", "IP_Port", "Command32"}), 5000);
        QCOMPARE(accepted(), lines.mid(0, 3));
        QVERIFY(!f->dialogs->messages().contains(Success));
        QCOMPARE(f->window->list2Items().count(), std::size_t(8)); // the operator's list is intact
        expectResponsive();
    }

    void targetThatNeverAnswers()
    {
        sim::Options options;
        options.silent = true;
        start(5, options);
        f->click("Command4");
        f->click("Command15");
        f->click("Command13");
        QTest::qWait(600);
        QVERIFY(f->dialogs->messages().isEmpty());
        QCOMPARE(f->control<QProgressBar>("ProgressBar1")->value(), 0);
        expectResponsive();
    }

    void randomRejectionsStillGetThrough()
    {
        sim::Options options;
        QRandomGenerator random(21);
        for (int line = 0; line < 15; ++line)
            if (random.bounded(2))
                options.rejections[line] = random.bounded(1, 10);
        start(15, options);
        f->click("Command4");
        QTRY_VERIFY_WITH_TIMEOUT(f->dialogs->messages().contains(Success), 60000);
        QCOMPARE(accepted(), lines);
    }
};

QTEST_MAIN(Hostile)
#include "test_e2e_hostile.moc"
