// The simulated bootloader without any transport: frames in, replies out.
#include "sim/bootloader.h"

#include <QtTest>

#include <functional>
#include <string>
#include <vector>

using namespace morven::sim;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

Q_DECLARE_METATYPE(morven::sim::Options)
Q_DECLARE_METATYPE(Lines)

namespace {

const TimePoint t0 = TimePoint{} + 1h;

// Replies worked out by hand from the CRC-16/MODBUS definition, not by the code under test.
const std::string kU = ":U0000010001B4;";
const std::string kKSuccess = ":K0000010341B5;";
const std::string kKFailure = ":K0000010001B4;";
const std::string kWAck = ":W00000101C074;"; // announce accepted
const std::string kOAck = ":O00000101C074;";
const std::string kW1 = ":W0001010191B4;";
const std::string kW2 = ":W0002010161B4;";
const std::string kW3 = ":W000301013074;";
const std::string kW1Rejected = ":W000101005074;";
const std::string kW2Rejected = ":W00020100A074;";
const std::string kO1 = ":O0001010191B4;";
const std::string kO2 = ":O0002010161B4;";

const std::string kEraseFlash = ":K000001028075;";
const std::string kEraseData = ":K00000101C074;";
const Lines kLine = {
    ":W000110000102030405060708090A0B0C0D0E0F10A1B2;",
    ":W000210AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA1234;",
    ":W00030155CDEF;",
};

// Announce frame for n lines, with the CRC over 00 00 02 nH nL worked out by hand.
std::string announce(char kind, int n)
{
    static const std::map<int, const char *> crc = {{0, "85C0"}, {1, "4400"}, {2, "0401"}, {3, "C5C1"}};
    return QString::asprintf(":%c000002%04X%s;", kind, n, crc.at(n)).toStdString();
}

Options with(const std::function<void(Options &)> &set)
{
    Options o;
    set(o);
    return o;
}

// Each frame in its own call, 5 ms apart: every reply, and how many calls completed a download.
Lines talk(Bootloader &b, const Lines &frames, int *completed = nullptr)
{
    Lines replies;
    TimePoint now = t0;
    for (const std::string &f : frames) {
        const Bootloader::Output out = b.receive(f, now);
        replies.insert(replies.end(), out.replies.begin(), out.replies.end());
        if (completed)
            *completed += out.downloadComplete;
        now += 5ms;
    }
    return replies;
}

QString show(const Lines &lines)
{
    QStringList out;
    for (const std::string &l : lines)
        out << QString::fromStdString(l);
    return out.join(QLatin1Char(' '));
}

} // namespace

class TestBootloader : public QObject
{
    Q_OBJECT

private slots:
    // The replies below all come from the target; this one shows the sequence number's high
    // byte going first.
    void replyWithAHighSequenceNumber() { QCOMPARE(Bootloader::reply('W', 0x1234, 1), std::string(":W1234010184C2;")); }

    // A target set up with the options is sent the frames one by one: the replies, the lines
    // it keeps, and what it knows afterwards.
    void conversation_data()
    {
        QTest::addColumn<Options>("options");
        QTest::addColumn<Lines>("frames");
        QTest::addColumn<Lines>("replies");
        QTest::addColumn<Lines>("accepted");
        QTest::addColumn<QString>("state");
        const auto add
            = [](const char *name, const Options &o, const Lines &frames, const Lines &replies, const Lines &accepted,
                  const char *state) { QTest::newRow(name) << o << frames << replies << accepted << QString(state); };
        const Options plain;
        const char *idle = "active=0 next=0 completed=0 received= rejected=";
        const std::string w1 = announce('W', 1), w3 = announce('W', 3);

        add("link test during a download", plain, {w3, kLine[0], ":U;", kLine[1]}, {kWAck, kW1, kU, kW2},
            {kLine[0], kLine[1]}, "active=1 next=2 completed=0 received=1,1 rejected=0,0");
        const std::pair<int, std::string> erase[] = {{3, kKSuccess}, {0, kKFailure}, {1, ":K00000101C074;"}};
        for (const auto &[status, reply] : erase) {
            QTest::addRow("erase status %d", status)
                << with([s = status](Options &o) { o.eraseStatus = std::uint8_t(s); }) << Lines{kEraseFlash, kEraseData}
                << Lines{reply, reply} << Lines{} << QString(idle);
        }
        add("announce with a wrong CRC", plain, {":W00000200014401;"}, {kWAck}, {},
            "active=1 next=0 completed=0 received= rejected=");
        for (const char *shape : {":W00000300014400;", ":W00010200014400;", ":W0000020001440;", ":W00000200014400",
                 ":W0000020001440G;", ":X00000200014400;"})
            QTest::addRow("no announce: %s", shape)
                << plain << Lines{shape, ":U;"} << Lines{kU} << Lines{} << QString(idle);
        add("empty download is complete at once", plain, {announce('O', 0)}, {kOAck}, {},
            "active=0 next=0 completed=1 received= rejected=");
        add("three lines", plain, {w3, kLine[0], kLine[1], kLine[2]}, {kWAck, kW1, kW2, kW3}, kLine,
            "active=0 next=3 completed=1 received=1,1,1 rejected=0,0,0");
        add("reply letter is the download's kind", plain, {announce('O', 1), kLine[2]}, {kOAck, kO1}, {kLine[2]},
            "active=0 next=1 completed=1 received=1 rejected=0");
        // Lower-case digits, blanks and a stray CR are the line's business, not ours.
        add("frames are kept as they came", plain, {w1, ":W0001 0aff\r;"}, {kWAck, kW1}, {":W0001 0aff\r;"},
            "active=0 next=1 completed=1 received=1 rejected=0");
        add("data line without announce", plain, {kLine[0]}, {}, {}, idle);
        add("lines beyond the announced count", plain, {w1, kLine[0], kLine[1]}, {kWAck, kW1}, {kLine[0]},
            "active=0 next=1 completed=1 received=1 rejected=0");
        add("new announce restarts", plain, {w3, kLine[0], kLine[1], announce('O', 2), kLine[2], kLine[0]},
            {kWAck, kW1, kW2, kOAck, kO1, kO2}, {kLine[2], kLine[0]},
            "active=0 next=2 completed=1 received=2,2 rejected=0,0");
        add("rejected twice, then accepted", with([](Options &o) { o.rejections[1] = 2; }),
            {w3, kLine[0], kLine[1], kLine[1], kLine[1], kLine[2]}, {kWAck, kW1, kW2Rejected, kW2Rejected, kW2, kW3},
            kLine, "active=0 next=3 completed=1 received=1,3,1 rejected=0,2,0");
        add("a rejected line does not advance", with([](Options &o) { o.rejections[0] = 1; }), {w3, kLine[0], kLine[1]},
            {kWAck, kW1Rejected, kW1}, {kLine[1]}, "active=1 next=1 completed=0 received=2 rejected=1");
        // A download that failed is started again: this time the line goes through.
        Lines frames{w1};
        frames.insert(frames.end(), 11, kLine[0]);
        frames.insert(frames.end(), {w1, kLine[0]});
        Lines replies{kWAck};
        replies.insert(replies.end(), 11, kW1Rejected);
        replies.insert(replies.end(), {kWAck, kW1});
        add("rejections are spent over the target's life", with([](Options &o) { o.rejections[0] = 11; }), frames,
            replies, {kLine[0]}, "active=0 next=1 completed=1 received=12 rejected=11");
        add("the line is dropped once only", with([](Options &o) { o.dropAtLine = 0; }), {w1, kLine[0], kLine[0]},
            {kWAck, kW1}, {kLine[0]}, "active=0 next=1 completed=1 received=2 rejected=0");
        add("silent", with([](Options &o) { o.silent = true; }), {":U;", kEraseFlash, w1, kLine[0]}, {}, {}, idle);
        add("powers up after two link tests", with([](Options &o) { o.powerUpAfter = 2; }),
            {":U;", kEraseFlash, w1, ":U;", ":U;", kEraseFlash}, {kU, kKSuccess}, {}, idle);
    }
    void conversation()
    {
        QFETCH(Options, options);
        QFETCH(Lines, frames);
        QFETCH(Lines, replies);
        QFETCH(Lines, accepted);
        QFETCH(QString, state);
        Bootloader b(options);
        int completed = 0;
        QCOMPARE(show(talk(b, frames, &completed)), show(replies));
        QCOMPARE(show(b.acceptedLines()), show(accepted));
        QCOMPARE(show(b.frames()), show(frames)); // every frame is logged, answered or not
        QStringList received, rejected;
        for (int k = 0; b.timesReceived(k) > 0; ++k) {
            received << QString::number(b.timesReceived(k));
            rejected << QString::number(b.timesRejected(k));
        }
        QCOMPARE(QString("active=%1 next=%2 completed=%3 received=%4 rejected=%5")
                     .arg(int(b.downloadActive()))
                     .arg(b.nextLine())
                     .arg(completed)
                     .arg(received.join(','), rejected.join(',')),
            state);
    }

    void erasesAndAnnouncesAreRecorded()
    {
        Bootloader b;
        // The window's own announce examples, one with a wrong CRC, and the latest download.
        talk(b,
            {kEraseFlash, kEraseData, ":K;", ":W00000200014400;", ":W0000020010840C;", ":O000002000085C0;",
                ":W00000200014401;", announce('O', 2)});
        QCOMPARE(b.eraseSelectors(), (std::vector<int>{2, 1, -1}));
        QCOMPARE(b.announces(),
            (std::vector<Announce>{{'W', 1, true}, {'W', 16, true}, {'O', 0, true}, {'W', 1, false}, {'O', 2, true}}));
        QCOMPARE(b.downloadKind(), 'O');
        QCOMPARE(b.announcedCount(), 2);
    }

    void unansweredFramesLeaveANote()
    {
        Bootloader b;
        const Bootloader::Output out = b.receive(kLine[0], t0);
        QCOMPARE(show(out.notes), QString::fromStdString("no download announced, no reply to " + kLine[0]));
        QCOMPARE(show(b.notes()), show(out.notes));
    }

    // A frame without ';' ends the idle time after its last byte.
    void deadlineFollowsTheLastByte()
    {
        Bootloader b(with([](Options &o) { o.idle = 30ms; }));
        b.receive(":100000", t0);
        b.receive("00AA55", t0 + 20ms);
        QCOMPARE(b.deadline(), std::optional<TimePoint>(t0 + 50ms));
    }

    void dropLineGetsNoReplyAndAsksForAHangUp()
    {
        Bootloader b(with([](Options &o) { o.dropAtLine = 1; }));
        talk(b, {announce('W', 3), kLine[0]});
        // The next frame in the same read never happened: the line was gone.
        const Bootloader::Output out = b.receive(kLine[1] + kLine[2] + ":10000000", t0 + 1s);
        QVERIFY(out.drop);
        QVERIFY(out.replies.empty());
        QVERIFY(b.hasDropped());
        QCOMPARE(b.acceptedLines(), Lines{kLine[0]});
        QCOMPARE(b.timesReceived(1), 1);
        QCOMPARE(b.timesReceived(2), 0);
        QVERIFY(!b.deadline()); // the partial frame went with the line
    }

    void changedOptionsApplyToTheNextFrame()
    {
        Bootloader b;
        talk(b, {announce('W', 3), kLine[0]});
        b.setOptions(with([](Options &o) {
            o.eraseStatus = 0;
            o.rejections[1] = 1;
        }));
        QCOMPARE(show(talk(b, {kEraseFlash, kLine[1]})), show({kKFailure, kW2Rejected}));
        QCOMPARE(b.nextLine(), 1);
    }

    // Cutting the byte stream into frames. Each step is "<ms> <bytes>", "<ms> poll" or
    // "<ms> reset"; each reply is listed with the step's time.
    void stream_data()
    {
        QTest::addColumn<Options>("options");
        QTest::addColumn<Lines>("steps");
        QTest::addColumn<Lines>("replies");
        QTest::addColumn<Lines>("frames");
        QTest::addColumn<int>("ignored");
        const std::string w1 = announce('W', 1), w2 = announce('W', 2);

        Lines steps;
        const std::string all = w1 + kLine[0];
        for (std::size_t i = 0; i < all.size(); ++i)
            steps.push_back(std::to_string(i) + " " + all[i]);
        QTest::newRow("a frame split over many reads")
            << Options{} << steps << Lines{"16 " + kWAck, std::to_string(all.size() - 1) + " " + kW1}
            << Lines{w1, kLine[0]} << 0;
        QTest::newRow("several frames in one read")
            << Options{} << Lines{"0 :U;" + kEraseData + ":U;"} << Lines{"0 " + kU, "0 " + kKSuccess, "0 " + kU}
            << Lines{":U;", kEraseData, ":U;"} << 0;
        QTest::newRow("bytes before a colon are ignored")
            << Options{} << Lines{std::string("0 \r\nnoise;U;\0\xff:U;", 17)} << Lines{"0 " + kU} << Lines{":U;"} << 12;
        QTest::newRow("no ';': the next colon ends a frame")
            << Options{} << Lines{"0 " + w2, "0 :10000000AA55\r\n:00000001FF"} << Lines{"0 " + kWAck, "0 " + kW1}
            << Lines{w2, ":10000000AA55\r\n"} << 0;
        // The quiet time counts from the last byte.
        QTest::newRow("no ';': a quiet line ends a frame")
            << with([](Options &o) { o.idle = 30ms; })
            << Lines{"0 " + w1, "0 :100000", "20 00AA55", "49 poll", "50 poll"} << Lines{"0 " + kWAck, "50 " + kW1}
            << Lines{w1, ":10000000AA55"} << 0;
        // Without a poll in between, the next read still sees that the line went quiet.
        QTest::newRow("late bytes after a quiet line")
            << Options{} << Lines{"0 " + w2, "0 :1000", "25 FF:U;"} << Lines{"0 " + kWAck, "25 " + kW1, "25 " + kU}
            << Lines{w2, ":1000", ":U;"} << 2;
        QTest::newRow("reset forgets a partial frame")
            << Options{} << Lines{"0 :U", "0 reset", "1 ;:U;"} << Lines{"1 " + kU} << Lines{":U;"} << 1;
    }
    void stream()
    {
        QFETCH(Options, options);
        QFETCH(Lines, steps);
        QFETCH(Lines, replies);
        QFETCH(Lines, frames);
        QFETCH(int, ignored);
        Bootloader b(options);
        Lines got;
        for (const std::string &step : steps) {
            const std::size_t space = step.find(' ');
            const std::string ms = step.substr(0, space), bytes = step.substr(space + 1);
            const TimePoint at = t0 + std::chrono::milliseconds(std::stoi(ms));
            Bootloader::Output out;
            if (bytes == "reset")
                b.resetLine();
            else
                out = bytes == "poll" ? b.poll(at) : b.receive(bytes, at);
            for (const std::string &r : out.replies)
                got.push_back(ms + " " + r);
        }
        QCOMPARE(show(got), show(replies));
        QCOMPARE(show(b.frames()), show(frames));
        QCOMPARE(b.ignoredBytes(), std::size_t(ignored));
    }
};

QTEST_GUILESS_MAIN(TestBootloader)
#include "test_bootloader.moc"
