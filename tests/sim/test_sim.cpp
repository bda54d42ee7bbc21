// The simulated target's own rules: the bootloader's replies, frame cutting, line pacing and the
// command line. The window and morvenctl against it are the e2e and cli tests.
#include "cmdline/cmdline.h"
#include "sim/pacedline.h"
#include "sim/simconfig.h"

#include <QTest>

using namespace morven::sim;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
Q_DECLARE_METATYPE(Lines)

namespace {
const TimePoint t0 = TimePoint{} + 1h;

// Frames in short (steps after "@<ms> " as they stand): U link test, E erase flash, D erase data, A<n>/B<n> a W/O
// announce of n lines, 1 to 3 a data line; anything else as it stands. CRCs worked out by hand.
std::string frame(const std::string &s)
{
    static const std::map<std::string, std::string> known{{"U", ":U;"}, {"E", ":K000001028075;"},
        {"D", ":K00000101C074;"}, {"1", ":W000110000102030405060708090A0B0C0D0E0F10A1B2;"},
        {"2", ":W000210AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA1234;"}, {"3", ":W00030155CDEF;"}};
    static const char *crc[] = {"85C0", "4400", "0401", "C5C1"};
    if (s.size() == 2 && (s[0] == 'A' || s[0] == 'B'))
        return QString::asprintf(":%c000002%04X%s;", s[0] == 'A' ? 'W' : 'O', s[1] - '0', crc[s[1] - '0'])
            .toStdString();
    return known.count(s) ? known.at(s) : s;
}

// Replies and data lines in short, the other way round: W2 the W reply accepting line 2, W2-
// rejecting it.
QString name(const std::string &r)
{
    static const QMap<QString, QString> known{{QString::fromStdString(frame("1")), "1"},
        {QString::fromStdString(frame("2")), "2"}, {QString::fromStdString(frame("3")), "3"}, {":U0000010001B4;", "U"},
        {":K0000010341B5;", "K3"}, {":K0000010001B4;", "K0"}, {":K00000101C074;", "K1"}, {":W00000101C074;", "W0"},
        {":O00000101C074;", "O0"}, {":W0001010191B4;", "W1"}, {":W0002010161B4;", "W2"}, {":W000301013074;", "W3"},
        {":W000101005074;", "W1-"}, {":W00020100A074;", "W2-"}, {":O0001010191B4;", "O1"}, {":O0002010161B4;", "O2"}};
    return known.value(QString::fromStdString(r), QString::fromStdString(r));
}

} // namespace

class TestSim : public QObject
{
    Q_OBJECT

private slots:
    // The sequence number's high byte goes first.
    void replyWithAHighSequenceNumber() { QCOMPARE(Bootloader::reply('W', 0x1234, 1), std::string(":W1234010184C2;")); }

    // A target set up with the options is sent the steps 5 ms apart ("@<ms> " sets the time;
    // "poll" lets time pass; "reset" forgets a partial frame): its replies, the lines it keeps
    // and what it knows afterwards (seen: how often each line came / was rejected).
    void bootloader_data()
    {
        QTest::addColumn<QString>("options"); // the simulator's command line
        QTest::addColumn<Lines>("steps");
        QTest::addColumn<QString>("replies");
        QTest::addColumn<QString>("accepted");
        QTest::addColumn<QString>("state");
        const auto add = [](const char *name, const QString &o, const Lines &steps, const char *replies,
                             const char *accepted, const QString &state) {
            QTest::newRow(name) << o << steps << QString(replies) << QString(accepted) << state;
        };
        const QString idle = "idle next=0 done=0 seen=/ frames=";
        add("link test during a download", "", {"A3", "1", "U", "2"}, "W0 W1 U W2", "1 2",
            "active next=2 done=0 seen=1,1/0,0 frames=4");
        for (const auto &[status, name] : {std::pair{3, "K3"}, {0, "K0"}, {1, "K1"}})
            QTest::addRow("erase status %d", status) << QString("--erase-status %1").arg(status) << Lines{"E", "D"}
                                                     << QString("%1 %1").arg(name) << QString() << idle + "2";
        add("announce with a wrong CRC", "", {":W00000200014401;"}, "W0", "", "active next=0 done=0 seen=/ frames=1");
        for (const char *shape : {":W00000300014400;", ":W00010200014400;", ":W0000020001440;", ":W00000200014400",
                 ":W0000020001440G;", ":X00000200014400;"})
            QTest::addRow("no announce: %s", shape) << QString() << Lines{shape, "U"} << "U"
                                                    << "" << idle + "2";
        add("empty download is complete at once", "", {"B0"}, "O0", "", "idle next=0 done=1 seen=/ frames=1");
        add("three lines", "", {"A3", "1", "2", "3"}, "W0 W1 W2 W3", "1 2 3",
            "idle next=3 done=1 seen=1,1,1/0,0,0 frames=4");
        add("reply letter is the download's kind", "", {"B1", "3"}, "O0 O1", "3",
            "idle next=1 done=1 seen=1/0 frames=2");
        // Lower-case digits, blanks and a stray CR are the line's business, not ours.
        add("frames are kept as they came", "", {"A1", ":W0001 0aff\r;"}, "W0 W1", ":W0001 0aff\r;",
            "idle next=1 done=1 seen=1/0 frames=2");
        add("data line without announce", "", {"1"}, "", "", idle + "1");
        add("lines beyond the announced count", "", {"A1", "1", "2"}, "W0 W1", "1",
            "idle next=1 done=1 seen=1/0 frames=3");
        add("new announce restarts", "", {"A3", "1", "2", "B2", "3", "1"}, "W0 W1 W2 O0 O1 O2", "3 1",
            "idle next=2 done=1 seen=2,2/0,0 frames=6");
        add("rejected twice, then accepted", "--reject 2:2", {"A3", "1", "2", "2", "2", "3"}, "W0 W1 W2- W2- W2 W3",
            "1 2 3", "idle next=3 done=1 seen=1,3,1/0,2,0 frames=6");
        add("a rejected line does not advance", "--reject 1:1", {"A3", "1", "2"}, "W0 W1- W1", "2",
            "active next=1 done=0 seen=2/1 frames=3");
        // A download that failed is started again: this time the line goes through.
        Lines steps{"A1"};
        steps.insert(steps.end(), 11, "1");
        steps.insert(steps.end(), {"A1", "1"});
        add("rejections are spent over the target's life", "--reject 1:11", steps,
            "W0 W1- W1- W1- W1- W1- W1- W1- W1- W1- W1- W1- W0 W1", "1", "idle next=1 done=1 seen=12/11 frames=14");
        add("the line is dropped once only", "--drop-after 1", {"A1", "1", "1"}, "W0 W1", "1",
            "idle next=1 done=1 seen=2/0 frames=3");
        // The rest of the read never happened: the line was gone, the open frame with it.
        add("a drop loses the rest of its read", "--drop-after 2",
            {"A3", "1", frame("2") + frame("3") + ":10000000", "@9000 poll"}, "W0 W1 poll", "1",
            "active next=1 done=0 seen=1,1/0,0 frames=3");
        add("silent", "--silent", {"U", "E", "A1", "1"}, "", "", idle + "4");
        add("powers up after two link tests", "--power-up-after 2", {"U", "E", "A1", "U", "U", "E"}, "U K3", "",
            idle + "6");
        // Cutting the byte stream into frames.
        Lines split;
        for (const char c : frame("A1") + frame("1"))
            split.push_back(std::string("@").append(std::to_string(split.size())).append(1, ' ').append(1, c));
        add("a frame split over many reads", "", split, "W0 W1", "1", "idle next=1 done=1 seen=1/0 frames=2");
        add("several frames in one read", "", {":U;:K00000101C074;:U;"}, "U K3 U", "", idle + "3");
        add("bytes before a colon are ignored", "", {std::string("\r\nnoise;U;\0\xff:U;", 15)}, "U", "",
            "idle next=0 done=0 seen=/ frames=1 ignored=12");
        add("no ';': the next colon ends a frame", "", {"A2", ":10000000AA55\r\n:00000001FF"}, "W0 W1",
            ":10000000AA55\r\n", "active next=1 done=0 seen=1/0 frames=2");
        // The quiet time counts from the last byte.
        add("no ';': a quiet line ends a frame", "--idle 30",
            {"A1", "@5 :100000", "@25 00AA55", "@54 poll", "@55 poll"}, "W0 poll poll W1", ":10000000AA55",
            "idle next=1 done=1 seen=1/0 frames=2");
        // Without a poll in between, the next read still sees that the line went quiet.
        add("late bytes after a quiet line", "", {"A2", "@5 :1000", "@30 FF:U;"}, "W0 W1 U", ":1000",
            "active next=1 done=0 seen=1/0 frames=3 ignored=2");
        add("reset forgets a partial frame", "", {":U", "reset", ";:U;"}, "U", "",
            "idle next=0 done=0 seen=/ frames=1 ignored=1");
    }
    void bootloader()
    {
        QFETCH(QString, options);
        QFETCH(Lines, steps);
        const SimConfig config
            = parseSimArguments(QStringList{"morven-sim", "--pty"} + options.split(' ', Qt::SkipEmptyParts));
        Bootloader b(config.bootloader);
        QStringList replies, accepted, received, rejected;
        int done = 0;
        TimePoint now = t0;
        for (const std::string &step : steps) {
            now += 5ms;
            std::string bytes = frame(step);
            if (step[0] == '@') { // as it stands, at that time
                now = t0 + std::chrono::milliseconds(std::stoi(step.substr(1)));
                bytes = step.substr(step.find(' ') + 1);
            }
            if (bytes == "poll")
                replies << "poll";
            if (bytes == "reset")
                b.resetLine();
            const Bootloader::Output out = bytes == "reset" ? Bootloader::Output{}
                : bytes == "poll"                           ? b.poll(now)
                                                            : b.receive(bytes, now);
            for (const std::string &r : out.replies)
                replies << name(r);
            done += out.downloadComplete;
        }
        for (const std::string &line : b.acceptedLines())
            accepted << name(line);
        for (int k = 0; b.timesReceived(k) > 0; ++k) {
            received << QString::number(b.timesReceived(k));
            rejected << QString::number(b.timesRejected(k));
        }
        QTEST(replies.join(' '), "replies");
        QTEST(accepted.join(' '), "accepted");
        QTEST(QString::asprintf("%s next=%d done=%d seen=%s/%s frames=%zu", b.downloadActive() ? "active" : "idle",
                  b.nextLine(), done, qPrintable(received.join(',')), qPrintable(rejected.join(',')), b.frames().size())
                + (b.ignoredBytes() ? QString(" ignored=%1").arg(b.ignoredBytes()) : QString()),
            "state");
    }

    // Bytes leave one byte time apart (ten bits at the rate), a run when the line is free.
    void pacing()
    {
        QCOMPARE(PacedLine::byteTimeFor(1200), std::chrono::nanoseconds(8'333'333));
        QCOMPARE(PacedLine::byteTimeFor(0), std::chrono::nanoseconds(0));
        PacedLine line(10ms);
        line.push("ab", t0);
        line.push("cd", t0 + 5ms); // the line is busy until t0 + 20 ms
        line.push("ef", t0 + 90ms);
        QCOMPARE(line.freeAt(), t0 + 110ms);
        QCOMPARE(line.nextDue(), std::optional<TimePoint>(t0 + 10ms));
        QVERIFY(line.take(t0 + 9ms).empty());
        TimePoint first, last;
        QCOMPARE(line.take(t0 + 35ms, &first, &last), std::string("ab"));
        QCOMPARE(first, t0 + 10ms);
        QCOMPARE(last, t0 + 20ms);
        QCOMPARE(line.take(t0 + 35ms, &first), std::string("c"));
        QCOMPARE(first, t0 + 30ms);
        QCOMPARE(line.take(t0 + 99ms), std::string("d"));
        QCOMPARE(line.nextDue(), std::optional<TimePoint>(t0 + 100ms));
        line.clear();
        QVERIFY(line.empty() && !line.nextDue());
        PacedLine unpaced; // everything is through at its start
        unpaced.push("frame", t0 + 7ms);
        QVERIFY(unpaced.take(t0 + 6ms).empty());
        QCOMPARE(unpaced.take(t0 + 7ms), std::string("frame"));
    }

    // A command line the simulator takes, and what it sets; or a refusal naming what is wrong
    // (how a refusal is printed is the cli test's badCommandLines).
    void commandLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        const char *rows[][2] = {{"--tcp 7776", "127.0.0.1:7776 delay=0 baud=0 idle=20 save= verbose=0 help=0 reject="},
            {"--tcp localhost:5 --delay 40 --baud 9600 --idle 35 --save out.txt --verbose --reject 3:3 --reject 3:5",
                "127.0.0.1:5 delay=40 baud=9600 idle=35 save=out.txt verbose=1 help=0 reject=2:5"},
            {"--tcp [::1]:7000", "::1:7000 delay=0 baud=0 idle=20 save= verbose=0 help=0 reject="},
            {"--help", "-:0 delay=0 baud=0 idle=20 save= verbose=0 help=1 reject="}, {"--delay 5", "--tcp"},
            {"", "--pty"}, {"--tcp", "tcp"}, {"--tcp 65536", "--tcp"}, {"--tcp 127.0.0.1:http", "--tcp"},
            {"--tcp 127.0.0.1:", "--tcp"}, {"--tcp 127.0.0.999:5", "--tcp"}, {"--tcp ::1:5", "--tcp"},
            {"--pty --erase-status 256", "--erase-status"}, {"--pty --erase-status x", "--erase-status"},
            {"--pty --reject 3", "--reject"}, {"--pty --reject=0:2", "--reject"}, {"--pty --reject 1:2:3", "--reject"},
            {"--pty --delay=-5", "--delay"}, {"--pty --drop-after x", "--drop-after"},
            {"--pty --drop-after 0", "--drop-after"}, {"--pty --power-up-after=-1", "--power-up-after"},
            {"--pty --baud fast", "--baud"}, {"--pty --idle 0", "--idle"}, {"--pty --save=", "--save"}};
        for (const auto &r : rows)
            QTest::newRow(r[0]) << QString(r[0]) << QString(r[1]);
    }
    void commandLine()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        SimConfig c;
        try {
            c = parseSimArguments(QStringList{"morven-sim"} + line.split(' ', Qt::SkipEmptyParts));
        } catch (const morven::cli::Failure &f) {
            QVERIFY2(f.usage && f.code == 2 && f.message.contains(expected) && !expected.contains("delay="),
                qPrintable(f.message));
            return;
        }
        QStringList rejects;
        for (const auto &[at, times] : c.bootloader.rejections)
            rejects << QString("%1:%2").arg(at).arg(times);
        QCOMPARE(QString::asprintf("%s:%d delay=%d baud=%d idle=%lld save=%s verbose=%d help=%d reject=%s",
                     c.tcp ? qPrintable(c.host.toString()) : "-", c.port, c.transport.replyDelayMs, c.transport.baud,
                     qlonglong(c.bootloader.idle.count()), qPrintable(c.saveFile), c.verbose, c.help,
                     qPrintable(rejects.join(','))),
            expected);
    }
};

QTEST_MAIN(TestSim)
#include "test_sim.moc"
