// Whole updates as an operator runs them: the real window, offscreen, its dialogs answered by
// the test, against the simulated target (over loopback TCP or a pseudo-terminal) or a hostile one.
#include "support/windowfixture.h"

#include "sim/simconfig.h"
#include "support/cliprocess.h"
#include "support/hostilepeer.h"
#include "support/testmain.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QTemporaryDir>

using namespace morven;
using Bend = test::HostilePeer::Bend;
Q_DECLARE_METATYPE(Bend)

namespace {
const QMap<QString, QString> Message{{"PowerUp", "Please power up!"},
    {"UpdateMode", "Enter Update mode,first step Erase flash,second step Download!"},
    {"EraseOk", "Erase flash success!"}, {"CheckEmpty", "Erase flash success,but check empty error! please try again!"},
    {"Success", "Update program success,please reset power!"},
    {"Failure", "Update program failure, please reset power and try again !!"}};

// Random bytes before or after every reply, from a fixed seed.
Bend junk(bool before, int most, quint32 seed)
{
    return [before, most, random = QRandomGenerator(seed)](const QByteArray &reply, int) mutable {
        QByteArray bytes(random.bounded(1, most), '\0');
        for (char &c : bytes)
            c = char(random.bounded(256));
        return before ? bytes + reply : reply + bytes;
    };
}
} // namespace

class EndToEnd : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::WindowFixture> f;
    std::unique_ptr<sim::SimTarget> target;
    std::unique_ptr<test::HostilePeer> peer;
    QTemporaryDir dir;
    QStringList lines;

    // The operator opens a file of download lines.
    void openFirmware(int count)
    {
        lines.clear();
        for (int i = 1; i <= count; ++i)
            lines << QStringLiteral(":W%1040011223300;").arg(i, 4, 16, QLatin1Char('0')).toUpper();
        f->dialogs->paths.push_back(
            test::writeFile(dir.filePath(QStringLiteral("fw.txt")), lines.join(QLatin1String("\r\n")).toLatin1() + "\r\n"));
        f->click("Command10");
        QCOMPARE(f->window->list2Items().count(), std::size_t(count));
    }

    // Names and not texts, so that an unknown message shows as itself; repeats in a row count once.
    QString messages() const
    {
        QStringList out;
        for (const QString &m : f->dialogs->messages())
            if (out.isEmpty() || out.last() != Message.key(m, m))
                out << Message.key(m, m);
        return out.join(QLatin1Char(' '));
    }

    // The target's frame log in short: U link test, K<selector>, W<count> or O<count> announce,
    // L<index> download line; x<n> for n in a row.
    QString framesSeen(const sim::Bootloader &b) const
    {
        QStringList out;
        int run = 1;
        for (const std::string &s : b.frames()) {
            const QString frame = QString::fromStdString(s);
            QString d = frame == QLatin1String(":U;") ? QStringLiteral("U") : frame;
            if (lines.contains(frame))
                d = QStringLiteral("L%1").arg(lines.indexOf(frame));
            else if (frame.startsWith(QLatin1String(":K")))
                d = QStringLiteral("K%1").arg(frame.mid(8, 2).toInt(nullptr, 16));
            else if (frame.mid(2, 6) == QLatin1String("000002"))
                d = frame.mid(1, 1) + QString::number(frame.mid(8, 4).toInt(nullptr, 16));
            if (!out.isEmpty() && out.last().section(QLatin1Char('x'), 0, 0) == d) {
                out.last() = QStringLiteral("%1x%2").arg(d).arg(++run);
            } else {
                out << d;
                run = 1;
            }
        }
        return out.join(QLatin1Char(' '));
    }

    // Waits for a message while the exchange goes on. Once the target has seen no frame and the
    // window shown no message for 2 s the message can no longer come, and the wait says so at
    // once rather than at its limit.
    void awaitMessage(const QString &name, const sim::Bootloader &b)
    {
        QElapsedTimer quiet;
        quiet.start();
        const QDeadlineTimer limit(10000);
        std::size_t frames = b.frames().size();
        qsizetype shown = f->dialogs->messages().size();
        while (!f->dialogs->messages().contains(Message[name])) {
            QTest::qWait(10);
            if (b.frames().size() != frames || f->dialogs->messages().size() != shown) {
                frames = b.frames().size();
                shown = f->dialogs->messages().size();
                quiet.restart();
            }
            QVERIFY2(!quiet.hasExpired(2000) && !limit.hasExpired(),
                qPrintable(QStringLiteral("waited for %1; the exchange %2 after frames [%3] and messages [%4]")
                               .arg(name, limit.hasExpired() ? QStringLiteral("went on too long") : QStringLiteral("stopped"),
                                   framesSeen(b), messages())));
        }
    }

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        f = std::make_unique<test::WindowFixture>();
    }
    void cleanup()
    {
        QVERIFY2(f->socket->refused.isEmpty(), "a test aimed the socket away from loopback");
        f.reset();
        target.reset();
        peer.reset();
    }

    // A target set up by its command line (a hostile one bends its replies), a file of `lines`
    // download lines, and buttons pressed in turn ("Button>Message" waits for the message, or
    // for the link to fall with ">down"): the messages shown and every frame the target saw.
    void update_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<Bend>("bend");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("messages");
        QTest::addColumn<QString>("frames");
        const auto add = [](const char *name, const char *sim, int count, const char *steps, const char *messages,
                             const char *frames, Bend bend = {}) {
            QTest::newRow(name) << QString(sim) << bend << count << QString(steps) << QString(messages)
                                << QString(frames);
        };
        const char *road = "Command5>UpdateMode Command15>EraseOk Command4>Success";
        add("full road over tcp", "--tcp 0 --power-up-after 3", 5, road, "PowerUp UpdateMode EraseOk Success",
            "Ux4 K2 W5 L0 L1 L2 L3 L4");
        add("full road over pty", "--pty --power-up-after 2", 3, road, "PowerUp UpdateMode EraseOk Success",
            "Ux3 K2 W3 L0 L1 L2");
        add("rejected ten times, then accepted", "--tcp 0 --reject 4:10", 5, "Command4>Success", "Success",
            "W5 L0 L1 L2 L3x11 L4");
        add("rejected eleven times: failure", "--pty --reject 3:11", 4, "Command4>Failure", "Failure",
            "W4 L0 L1 L2x11");
        add("O download", "--tcp 0", 3, "Command1>Success", "Success", "O3 L0 L1 L2");
        add("replies in two pieces over tcp", "--tcp 0 --split", 3, "Command4>Success", "Success", "W3 L0 L1 L2");
        add("replies in two pieces over pty", "--pty --split", 3, "Command4>Success", "Success", "W3 L0 L1 L2");
        add("erase data, blank check fails", "--tcp 0 --erase-status 1", 1, "Command8>CheckEmpty", "CheckEmpty", "K1");
        add("CRC check from line 30", "--tcp 0", 31, "Command9", "", "L29");
        add("CRC check of 29 lines sends nothing", "--tcp 0", 29, "Command9>Success", "Success", "");
        // Garbage before a reply makes it unreadable (the window does not look for it inside the
        // batch): the download stalls there.
        add("garbage before every reply", "--tcp 0", 4, "Command4", "", "W4", junk(true, 40, 11));
        add("garbage after every reply", "--tcp 0", 4, "Command4>Success", "Success", "W4 L0 L1 L2 L3",
            junk(false, 300, 12));
        add("replies longer than 512 bytes", "--tcp 0", 3, "Command4>Success", "Success", "W3 L0 L1 L2",
            [](const QByteArray &reply, int) { return reply.chopped(1) + QByteArray(700, '0') + ";"; });
        // Nothing is left behind: the next download runs normally.
        add("more than 32767 bytes at once", "--tcp 0", 2, "Command13>EraseOk Command4>Success", "EraseOk Success",
            "U W2 L0 L1",
            [](const QByteArray &reply, int n) { return n ? reply : ":K00000103ABCD;" + QByteArray(40000, 'Z'); });
        add("a flood of link-test replies", "--tcp 0", 1, "Command5>UpdateMode", "PowerUp UpdateMode", "U",
            [](const QByteArray &reply, int n) {
                return QByteArray(":U00000100ABCD;").repeated(n ? 0 : 60000) + reply;
            });
        add("line goes down mid-download", "--tcp 0 --drop-after 3", 4, "Command4>down", "", "W4 L0 L1 L2");
        add("target that never answers", "--tcp 0 --silent", 3, "Command4 Command15 Command13", "", "W3 K2 U");
    }
    void update()
    {
        QFETCH(QString, sim);
        QFETCH(Bend, bend);
        QFETCH(int, count);
        QFETCH(QString, steps);
        const sim::SimConfig config = sim::parseSimArguments(QStringList{"morven-sim"} + sim.split(QLatin1Char(' ')));
        openFirmware(count);
        quint16 port = 0;
        if (bend) {
            peer = std::make_unique<test::HostilePeer>(config.bootloader);
            peer->setBend(bend);
            QVERIFY(peer->listen());
            port = peer->port();
        } else {
            target = std::make_unique<sim::SimTarget>(config.bootloader, config.transport);
            sim::startSim(*target, config);
            port = target->port();
            f->device = target->ptyPath();
            if (config.pty)
                f->click("Command12"); // port 1
        }
        if (port) {
            f->click("Option1");
            f->aimAt(port);
            f->click("Command32");
            MORVEN_WAIT_COMPARE(f->lamp(), FrmMain::LampGreen, 5000);
        }
        for (const QString &step : steps.split(QLatin1Char(' '))) {
            f->click(step.section(QLatin1Char('>'), 0, 0).toLatin1().constData());
            const QString awaited = step.section(QLatin1Char('>'), 1);
            if (awaited == QLatin1String("down")) {
                MORVEN_WAIT_COMPARE(f->lamp(), FrmMain::LampGrey, 10000);
                MORVEN_WAIT_COMPARE(f->enabledLinkControls(), (QStringList{"IP_Addr", "IP_Port", "Command32"}), 5000);
            } else if (!awaited.isEmpty()) {
                awaitMessage(awaited, bend ? peer->bootloader() : target->bootloader());
                if (QTest::currentTestFailed())
                    return;
                QVERIFY2(!f->timer("Timer4")->isEnabled(), "the probe goes on after an answer");
            }
        }
        QTest::qWait(200); // time for a frame or message that must not come
        QTEST(messages(), "messages");
        const sim::Bootloader &b = bend ? peer->bootloader() : target->bootloader();
        QTEST(framesSeen(b), "frames");
        for (const sim::Announce &a : b.announces())
            QVERIFY2(a.crcOk, "the announce's CRC is wrong");
        QVERIFY(f->dialogs->messages().size() < 10); // one message for a batch, not one for each reply in it
        QVERIFY(!f->timer("Timer4")->isEnabled() && !f->timer("Timer5")->isEnabled());
        QCOMPARE(f->window->list2Items().count(), std::size_t(count)); // the operator's list is intact
        const auto *bar = f->control<QProgressBar>("ProgressBar1");
        if (messages().endsWith(QLatin1String("Success")))
            QCOMPARE(std::pair(bar->maximum(), bar->value()), std::pair(count, count));
    }

    void probeReconnectsUntilTheTargetIsUp()
    {
        target = std::make_unique<sim::SimTarget>();
        QVERIFY(target->listen());
        const quint16 port = target->port();
        target->stopListening(); // the target is down
        f->click("Option1");
        f->aimAt(port);
        f->click("Command5");
        QVERIFY(QTest::qWaitFor([&] { return f->socket->attempts.size() >= 3; }, 10000));
        QVERIFY(target->listen(QHostAddress::LocalHost, port));
        QVERIFY(QTest::qWaitFor([&] { return f->dialogs->messages().contains(Message["UpdateMode"]); }, 10000));
        // The first frame on the new connection is a link test.
        QCOMPARE(QString::fromStdString(target->bootloader().frames().front()), QStringLiteral(":U;"));
        QVERIFY(!f->timer("Timer4")->isEnabled());
    }
};

QTEST_MAIN(EndToEnd)
#include "test_e2e.moc"
