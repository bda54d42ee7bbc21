// The simulated bootloader without any transport: frames in, replies out.
#include "bootloader.h"
#include "checksum.h"

#include <QtTest>

#include <string>
#include <vector>

using namespace morven::sim;
using namespace std::chrono_literals;

namespace {

using Lines = std::vector<std::string>;

const TimePoint t0 = TimePoint{} + 1h;

// Replies worked out by hand from the CRC-16/MODBUS definition, not by the code under test.
constexpr const char *kU = ":U0000010001B4;";
constexpr const char *kKSuccess = ":K0000010341B5;";
constexpr const char *kKFailure = ":K0000010001B4;";
constexpr const char *kWAnnounceOk = ":W00000101C074;";
constexpr const char *kOAnnounceOk = ":O00000101C074;";

constexpr const char *kEraseFlash = ":K000001028075;";
constexpr const char *kEraseData = ":K00000101C074;";

// Announce frame for n lines, CRC over 00 00 02 nH nL, low byte first.
std::string announce(char kind, int n)
{
    const std::uint8_t bytes[5] = {0, 0, 2, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n & 0xFF)};
    const std::uint16_t crc = morven::crc16Modbus(bytes, 5);
    char text[18];
    std::snprintf(text, sizeof text, ":%c000002%04X%02X%02X;", kind, n, crc & 0xFF, crc >> 8);
    return text;
}

QString show(const Lines &lines)
{
    QStringList out;
    for (const std::string &l : lines)
        out << QString::fromStdString(l);
    return out.join(QLatin1Char(' '));
}

// Receives each frame in its own call, 5 ms apart, and gathers every reply.
Lines talk(Bootloader &b, const Lines &frames, TimePoint &now)
{
    Lines replies;
    for (const std::string &f : frames) {
        const Bootloader::Output out = b.receive(f, now);
        replies.insert(replies.end(), out.replies.begin(), out.replies.end());
        now += 5ms;
    }
    return replies;
}

Lines talk(Bootloader &b, const Lines &frames)
{
    TimePoint now = t0;
    return talk(b, frames, now);
}

const Lines kThreeLines = {
    ":W000110000102030405060708090A0B0C0D0E0F10A1B2;",
    ":W000210AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA1234;",
    ":W00030155CDEF;",
};

} // namespace

class TestBootloader : public QObject
{
    Q_OBJECT

private slots:
    // ---- reply texts

    void replyTexts_data()
    {
        QTest::addColumn<char>("letter");
        QTest::addColumn<int>("sequence");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("link test") << 'U' << 0 << 0 << QByteArray(kU);
        QTest::newRow("erase success") << 'K' << 0 << 3 << QByteArray(kKSuccess);
        QTest::newRow("erase failure") << 'K' << 0 << 0 << QByteArray(kKFailure);
        QTest::newRow("announce accepted") << 'W' << 0 << 1 << QByteArray(kWAnnounceOk);
        QTest::newRow("line 1 accepted") << 'W' << 1 << 1 << QByteArray(":W0001010191B4;");
        QTest::newRow("line 1 rejected") << 'W' << 1 << 0 << QByteArray(":W000101005074;");
        QTest::newRow("O line 2 accepted") << 'O' << 2 << 1 << QByteArray(":O0002010161B4;");
        QTest::newRow("high sequence byte first") << 'W' << 0x1234 << 1 << QByteArray(":W1234010184C2;");
    }
    void replyTexts()
    {
        QFETCH(char, letter);
        QFETCH(int, sequence);
        QFETCH(int, status);
        QFETCH(QByteArray, expected);
        const std::string r
            = Bootloader::reply(letter, static_cast<std::uint16_t>(sequence), static_cast<std::uint8_t>(status));
        QCOMPARE(QByteArray::fromStdString(r), expected);
        QCOMPARE(r.size(), std::size_t(15));
    }

    // ---- link test and erase

    void linkTestIsAnswered()
    {
        Bootloader b;
        QCOMPARE(show(talk(b, {":U;"})), QString(kU));
        QCOMPARE(b.linkTests(), 1);
    }

    void linkTestDuringADownloadLeavesItAlone()
    {
        Bootloader b;
        talk(b, {announce('W', 3), kThreeLines[0], ":U;", kThreeLines[1]});
        QCOMPARE(b.nextLine(), 2);
        QCOMPARE(show(b.acceptedLines()), show({kThreeLines[0], kThreeLines[1]}));
    }

    void eraseAnswersWithTheConfiguredStatus_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("success") << 3 << QByteArray(kKSuccess);
        QTest::newRow("failure") << 0 << QByteArray(kKFailure);
        QTest::newRow("blank check error") << 1 << QByteArray(":K00000101C074;");
    }
    void eraseAnswersWithTheConfiguredStatus()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, expected);
        Options o;
        o.eraseStatus = static_cast<std::uint8_t>(status);
        Bootloader b(o);
        const Lines replies = talk(b, {kEraseFlash, kEraseData});
        QCOMPARE(show(replies), QString(expected + ' ' + expected));
    }

    void eraseSelectorsAreRecorded()
    {
        Bootloader b;
        talk(b, {kEraseFlash, kEraseData, ":K;"});
        QCOMPARE(b.eraseSelectors(), (std::vector<int>{2, 1, -1}));
    }

    // ---- announce frames

    void announceIsAcknowledgedWithItsKind()
    {
        Bootloader b;
        QCOMPARE(show(talk(b, {announce('W', 1)})), QString(kWAnnounceOk));
        QVERIFY(b.downloadActive());
        QCOMPARE(b.downloadKind(), 'W');
        QCOMPARE(b.announcedCount(), 1);
        QCOMPARE(b.nextLine(), 0);

        Bootloader o;
        QCOMPARE(show(talk(o, {announce('O', 0x1234)})), QString(kOAnnounceOk));
        QCOMPARE(o.downloadKind(), 'O');
        QCOMPARE(o.announcedCount(), 0x1234);
    }

    void announceFramesOfTheWindowAreRecognised()
    {
        // The window's own examples.
        Bootloader b;
        talk(b, {":W00000200014400;", ":W0000020010840C;", ":O000002000085C0;"});
        QCOMPARE(b.announces(), (std::vector<Announce>{{'W', 1, true}, {'W', 16, true}, {'O', 0, true}}));
    }

    void announceWithAWrongCrcIsStillAnAnnounce()
    {
        Bootloader b;
        QCOMPARE(show(talk(b, {":W00000200014401;"})), QString(kWAnnounceOk));
        QCOMPARE(b.announces(), (std::vector<Announce>{{'W', 1, false}}));
        QVERIFY(b.downloadActive());
    }

    void framesOfOtherShapesAreNoAnnounce_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("length 3") << QByteArray(":W00000300014400;");
        QTest::newRow("sequence 1") << QByteArray(":W00010200014400;");
        QTest::newRow("one digit short") << QByteArray(":W0000020001440;");
        QTest::newRow("no terminator") << QByteArray(":W00000200014400");
        QTest::newRow("not hex") << QByteArray(":W0000020001440G;");
        QTest::newRow("other letter") << QByteArray(":X00000200014400;");
    }
    void framesOfOtherShapesAreNoAnnounce()
    {
        QFETCH(QByteArray, frame);
        Bootloader b;
        QVERIFY(talk(b, {frame.toStdString(), ":U;"}).size() == 1); // only the link test
        QVERIFY(b.announces().empty());
        QVERIFY(!b.downloadActive());
        QCOMPARE(b.notes().size(), std::size_t(1));
    }

    void emptyDownloadIsCompleteAtOnce()
    {
        Bootloader b;
        const Bootloader::Output out = b.receive(":O000002000085C0;", t0);
        QCOMPARE(show(out.replies), QString(kOAnnounceOk));
        QVERIFY(out.downloadComplete);
        QVERIFY(!b.downloadActive());
    }

    // ---- download lines

    void downloadAcceptsEachLineInTurn()
    {
        Bootloader b;
        Lines frames{announce('W', 3)};
        frames.insert(frames.end(), kThreeLines.begin(), kThreeLines.end());
        const Lines replies = talk(b, frames);
        QCOMPARE(show(replies), show({kWAnnounceOk, ":W0001010191B4;", ":W0002010161B4;", ":W000301013074;"}));
        QCOMPARE(show(b.acceptedLines()), show(kThreeLines));
        QVERIFY(!b.downloadActive());
        QCOMPARE(b.nextLine(), 3);
        for (int k = 0; k < 3; ++k)
            QCOMPARE(b.timesReceived(k), 1);
        QCOMPARE(b.frames(), frames);
    }

    void lastAcceptedLineCompletesTheDownload()
    {
        Bootloader b;
        TimePoint now = t0;
        talk(b, {announce('W', 2), kThreeLines[0]}, now);
        const Bootloader::Output out = b.receive(kThreeLines[1], now);
        QVERIFY(out.downloadComplete);
        QCOMPARE(out.replies.size(), std::size_t(1));
    }

    void replyLetterIsTheDownloadsKindWhateverTheLineSays()
    {
        Bootloader b;
        const Lines replies = talk(b, {announce('O', 1), ":W00010155CDEF;"});
        QCOMPARE(show(replies), show({kOAnnounceOk, ":O0001010191B4;"}));
    }

    void intelHexRecordsAreDataLinesStoredAsReceived()
    {
        const Lines records = {":10000000000102030405060708090A0B0C0D0E0F78", ":00000001FF"};
        Bootloader b;
        TimePoint now = t0;
        talk(b, {announce('W', 2)}, now);
        Bootloader::Output out = b.receive(records[0], now);
        QVERIFY(out.replies.empty()); // no ';': the line may go on
        out = b.poll(now + 20ms);
        QCOMPARE(show(out.replies), QString(":W0001010191B4;"));
        out = b.receive(records[1], now + 40ms);
        out = b.poll(now + 60ms);
        QCOMPARE(show(out.replies), QString(":W0002010161B4;"));
        QCOMPARE(b.acceptedLines(), records);
    }

    void framesAreStoredExactly()
    {
        // Lower-case digits, blanks and a stray CR are the line's business, not ours.
        const std::string odd = ":W0001 0aff\r;";
        Bootloader b;
        talk(b, {announce('W', 1), odd});
        QCOMPARE(b.acceptedLines(), Lines{odd});
    }

    void dataLineWithoutAnnounceIsNotAnswered()
    {
        Bootloader b;
        QVERIFY(talk(b, {kThreeLines[0]}).empty());
        QVERIFY(b.acceptedLines().empty());
        QCOMPARE(b.frames(), Lines{kThreeLines[0]});
        QCOMPARE(b.notes().size(), std::size_t(1));
        QVERIFY(QString::fromStdString(b.notes()[0]).contains(QLatin1String("no download")));
    }

    void linesBeyondTheAnnouncedCountAreNotAnswered()
    {
        Bootloader b;
        const Lines replies = talk(b, {announce('W', 1), kThreeLines[0], kThreeLines[1]});
        QCOMPARE(replies.size(), std::size_t(2));
        QCOMPARE(b.acceptedLines(), Lines{kThreeLines[0]});
    }

    void newAnnounceRestartsTheDownload()
    {
        Bootloader b;
        const Lines replies = talk(
            b, {announce('W', 3), kThreeLines[0], kThreeLines[1], announce('O', 2), kThreeLines[2], kThreeLines[0]});
        QCOMPARE(replies.back(), std::string(":O0002010161B4;"));
        QCOMPARE(show(b.acceptedLines()), show({kThreeLines[2], kThreeLines[0]}));
        QCOMPARE(b.timesReceived(0), 2);
        QCOMPARE(b.timesReceived(1), 2);
        QCOMPARE(b.announces().size(), std::size_t(2));
    }

    // ---- rejections

    void lineIsRejectedTheGivenTimesThenAccepted()
    {
        Options o;
        o.rejections = {{1, 2}};
        Bootloader b(o);
        const Lines replies = talk(
            b, {announce('W', 3), kThreeLines[0], kThreeLines[1], kThreeLines[1], kThreeLines[1], kThreeLines[2]});
        QCOMPARE(show(replies),
            show({kWAnnounceOk, ":W0001010191B4;", ":W00020100A074;", ":W00020100A074;", ":W0002010161B4;",
                ":W000301013074;"}));
        QCOMPARE(show(b.acceptedLines()), show(kThreeLines));
        QCOMPARE(b.timesReceived(1), 3);
        QCOMPARE(b.timesRejected(1), 2);
        QCOMPARE(b.timesRejected(0), 0);
    }

    void rejectedLineDoesNotAdvance()
    {
        Options o;
        o.rejections = {{0, 1}};
        Bootloader b(o);
        talk(b, {announce('W', 3), kThreeLines[0]});
        QCOMPARE(b.nextLine(), 0);
        QVERIFY(b.acceptedLines().empty());
        // Whatever comes next is still line 0.
        const Lines replies = talk(b, {kThreeLines[1]});
        QCOMPARE(show(replies), QString(":W0001010191B4;"));
        QCOMPARE(b.acceptedLines(), Lines{kThreeLines[1]});
    }

    void rejectionsAreSpentOverTheTargetsLife()
    {
        Options o;
        o.rejections = {{0, 11}};
        Bootloader b(o);
        Lines frames{announce('W', 1)};
        frames.insert(frames.end(), 11, kThreeLines[0]);
        const Lines failed = talk(b, frames);
        QCOMPARE(failed.back(), std::string(":W000101005074;"));
        // The operator starts again: this time the line goes through.
        const Lines again = talk(b, {announce('W', 1), kThreeLines[0]});
        QCOMPARE(show(again), show({kWAnnounceOk, ":W0001010191B4;"}));
        QCOMPARE(b.timesReceived(0), 12);
    }

    // ---- dropping the line

    void dropLineGetsNoReplyAndAsksForAHangUp()
    {
        Options o;
        o.dropAtLine = 1;
        Bootloader b(o);
        TimePoint now = t0;
        talk(b, {announce('W', 3), kThreeLines[0]}, now);
        // The next frame in the same read never happened: the line was gone.
        const Bootloader::Output out = b.receive(kThreeLines[1] + kThreeLines[2] + ":10000000", now);
        QVERIFY(out.drop);
        QVERIFY(out.replies.empty());
        QVERIFY(b.hasDropped());
        QCOMPARE(b.nextLine(), 1);
        QCOMPARE(b.acceptedLines(), Lines{kThreeLines[0]});
        QCOMPARE(b.timesReceived(1), 1);
        QCOMPARE(b.timesReceived(2), 0);
        QVERIFY(!b.deadline()); // the partial frame went with the line
    }

    void dropHappensOnce()
    {
        Options o;
        o.dropAtLine = 0;
        Bootloader b(o);
        TimePoint now = t0;
        talk(b, {announce('W', 1)}, now);
        QVERIFY(b.receive(kThreeLines[0], now).drop);
        const Bootloader::Output again = b.receive(kThreeLines[0], now + 5ms);
        QVERIFY(!again.drop);
        QCOMPARE(show(again.replies), QString(":W0001010191B4;"));
    }

    // ---- silent and powered-off targets

    void silentTargetNeverReplies()
    {
        Options o;
        o.silent = true;
        Bootloader b(o);
        Lines frames{":U;", kEraseFlash, announce('W', 1), kThreeLines[0]};
        QVERIFY(talk(b, frames).empty());
        QCOMPARE(b.frames(), frames);
        QVERIFY(b.acceptedLines().empty());
        QVERIFY(!b.downloadActive());
    }

    void targetAnswersOnlyAfterThePowerUpCount()
    {
        Options o;
        o.powerUpAfter = 2;
        Bootloader b(o);
        QVERIFY(!b.poweredUp());
        QVERIFY(talk(b, {":U;", kEraseFlash, announce('W', 1), ":U;"}).empty());
        QVERIFY(b.eraseSelectors().empty());
        QVERIFY(b.announces().empty());
        QCOMPARE(b.linkTests(), 2);
        QCOMPARE(show(talk(b, {":U;"})), QString(kU));
        QVERIFY(b.poweredUp());
        QCOMPARE(show(talk(b, {kEraseFlash})), QString(kKSuccess));
        QCOMPARE(b.linkTests(), 3);
    }

    void changedOptionsApplyToTheNextFrame()
    {
        Bootloader b;
        talk(b, {announce('W', 3), kThreeLines[0]});
        Options o;
        o.eraseStatus = 0;
        o.rejections = {{1, 1}};
        b.setOptions(o);
        const Lines replies = talk(b, {kEraseFlash, kThreeLines[1]});
        QCOMPARE(show(replies), show({kKFailure, ":W00020100A074;"}));
        QCOMPARE(b.nextLine(), 1);
    }

    // ---- cutting the byte stream into frames

    void frameSplitOverManyReadsIsOneFrame()
    {
        Bootloader b;
        const std::string all = announce('W', 1) + kThreeLines[0];
        Lines replies;
        TimePoint now = t0;
        for (const char c : all) {
            const Bootloader::Output out = b.receive(std::string_view(&c, 1), now);
            replies.insert(replies.end(), out.replies.begin(), out.replies.end());
            now += 1ms;
        }
        QCOMPARE(show(replies), show({kWAnnounceOk, ":W0001010191B4;"}));
        QCOMPARE(b.frames(), (Lines{announce('W', 1), kThreeLines[0]}));
    }

    void severalFramesInOneReadAreAnsweredInOrder()
    {
        Bootloader b;
        const Bootloader::Output out = b.receive(":U;" + std::string(kEraseData) + ":U;", t0);
        QCOMPARE(show(out.replies), show({kU, kKSuccess, kU}));
    }

    void bytesBeforeAColonAreIgnored()
    {
        Bootloader b;
        const std::string bytes("\r\nnoise;U;\0\xff:U;", 15);
        const Bootloader::Output out = b.receive(bytes, t0);
        QCOMPARE(show(out.replies), QString(kU));
        QCOMPARE(b.frames(), Lines{":U;"});
        QCOMPARE(b.ignoredBytes(), std::size_t(12));
    }

    void frameWithoutTerminatorEndsAtTheNextColon()
    {
        Bootloader b;
        TimePoint now = t0;
        talk(b, {announce('W', 2)}, now);
        const Bootloader::Output out = b.receive(":10000000AA55\r\n:00000001FF", now);
        QCOMPARE(out.replies.size(), std::size_t(1));
        QCOMPARE(b.acceptedLines(), Lines{":10000000AA55\r\n"});
        QVERIFY(b.deadline().has_value()); // the second record waits for more or for quiet
    }

    void frameWithoutTerminatorEndsWhenTheLineIsQuiet()
    {
        Options o;
        o.idle = 30ms;
        Bootloader b(o);
        TimePoint now = t0;
        talk(b, {announce('W', 1)}, now);
        b.receive(":100000", now);
        b.receive("00AA55", now + 20ms); // still within the quiet time of the first part
        QCOMPARE(b.deadline(), std::optional<TimePoint>(now + 50ms));
        QVERIFY(b.poll(now + 49ms).replies.empty());
        QCOMPARE(b.poll(now + 50ms).replies.size(), std::size_t(1));
        QCOMPARE(b.acceptedLines(), Lines{":10000000AA55"});
        QVERIFY(!b.deadline());
    }

    void lateBytesStartAfterAQuietLineEndedTheFrame()
    {
        // Without a poll in between, the next read still sees that the line went quiet.
        Bootloader b;
        TimePoint now = t0;
        talk(b, {announce('W', 2)}, now);
        b.receive(":1000", now);
        const Bootloader::Output out = b.receive("FF:U;", now + 25ms);
        QCOMPARE(show(out.replies), show({":W0001010191B4;", kU}));
        QCOMPARE(b.acceptedLines(), Lines{":1000"});
        QCOMPARE(b.ignoredBytes(), std::size_t(2));
    }

    void resetLineForgetsAPartialFrame()
    {
        Bootloader b;
        b.receive(":U", t0);
        b.resetLine();
        const Bootloader::Output out = b.receive(";:U;", t0 + 1ms);
        QCOMPARE(show(out.replies), QString(kU));
        QCOMPARE(b.frames(), Lines{":U;"});
    }
};

QTEST_GUILESS_MAIN(TestBootloader)
#include "test_bootloader.moc"
