// The companion's side of an update: cutting replies out of a byte stream, and a whole
// session step by step against replies made by hand.
#include "update/flashsession.h"
#include "update/replyframer.h"

#include <QTest>

#include <cstdio>

using namespace morven;

namespace {
std::string reply(char letter, int seq, int status)
{
    char text[32];
    std::snprintf(text, sizeof text, ":%c%04X01%02XABCD;", letter, seq, status);
    return text;
}

LineStore linesOf(std::initializer_list<const char *> items)
{
    LineStore store;
    for (const char *item : items)
        store.append(item);
    return store;
}
} // namespace

class Session : public QObject
{
    Q_OBJECT
private slots:
    void framerCutsCompleteFramesOnly()
    {
        ReplyFramer framer;
        std::vector<std::string> frames;
        framer.feed("noise:U00", frames);
        QVERIFY(frames.empty());
        framer.feed("0000;:K000", frames);
        QCOMPARE(frames, std::vector<std::string>{":U000000;"});
        framer.feed("0103ABCD;junk;", frames);
        QCOMPARE(frames.size(), 2u);
        QCOMPARE(frames[1], std::string(":K0000103ABCD;"));
        QCOMPARE(framer.droppedBytes(), std::size_t(5 + 5));
    }

    void framerRestartsAtAColonAndDropsOverlongFrames()
    {
        ReplyFramer framer(16);
        std::vector<std::string> frames;
        framer.feed(":W00:W000001;", frames);
        QCOMPARE(frames, std::vector<std::string>{":W000001;"});
        frames.clear();
        framer.feed(":" + std::string(40, '0') + ";", frames);
        QVERIFY(frames.empty());
        framer.feed(":S;", frames);
        QCOMPARE(frames, std::vector<std::string>{":S;"});
    }

    void framerByteByByteGivesTheSameFrames()
    {
        const std::string stream = "xx:U000000;:W00010101ABCD;;;:K00000103ABCD;";
        ReplyFramer whole, bytewise;
        std::vector<std::string> a, b;
        whole.feed(stream, a);
        for (char c : stream)
            bytewise.feed(std::string_view(&c, 1), b);
        QCOMPARE(a, b);
        QCOMPARE(a.size(), 3u);
    }

    void fullSession()
    {
        const LineStore lines = linesOf({":Wline0;", ":Wline1;"});
        FlashSession s(lines, {});
        QCOMPARE(s.start().send, std::string(":U;"));
        QCOMPARE(s.onReplyTimeout().send, std::string(":U;")); // still waiting: test again
        QCOMPARE(s.linkTestsSent(), 2);
        QCOMPARE(s.onReply(reply('U', 0, 0)).send, std::string(":K000001028075;"));
        QCOMPARE(s.stage(), FlashSession::Stage::Erase);
        QCOMPARE(s.onReply(reply('K', 0, 3)).send, std::string(":W00000200020401;"));
        QCOMPARE(s.onReply(reply('W', 0, 1)).send, std::string(":Wline0;"));
        QCOMPARE(s.onReply(reply('W', 1, 0)).send, std::string(":Wline0;"));
        QCOMPARE(s.onReply(reply('W', 1, 1)).send, std::string(":Wline1;"));
        QCOMPARE(s.linesDone(), std::size_t(1));
        QCOMPARE(s.bytesDone(), std::size_t(8));
        const auto last = s.onReply(reply('W', 2, 1));
        QVERIFY(last.finished);
        QVERIFY(last.send.empty());
        QCOMPARE(s.stage(), FlashSession::Stage::Done);
        QCOMPARE(s.linesDone(), std::size_t(2));
        QCOMPARE(s.bytesDone(), s.totalBytes());
    }

    void skippingWaitAndEraseStartsWithTheAnnounce()
    {
        const LineStore lines = linesOf({"a"});
        FlashSession s(lines, {false, FlashSession::Erase::None, 'O', 0});
        QCOMPARE(s.start().send, std::string(":O00000200014400;"));
        QCOMPARE(s.onReply(reply('O', 0, 1)).send, std::string("a"));
        QVERIFY(s.onReply(reply('O', 1, 1)).finished);
    }

    void everyLineMayGoOutElevenTimes_data()
    {
        QTest::addColumn<int>("line");
        QTest::newRow("first line") << 0;
        QTest::newRow("second line") << 1;
    }
    void everyLineMayGoOutElevenTimes()
    {
        QFETCH(int, line);
        const LineStore lines = linesOf({"l0", "l1", "l2"});
        FlashSession s(lines, {false, FlashSession::Erase::None, 'W', 0});
        s.start();
        std::string sent = s.onReply(reply('W', 0, 1)).send;
        for (int i = 0; i < line; ++i)
            sent = s.onReply(reply('W', i + 1, 1)).send;
        int sends = 1;
        for (;;) {
            const auto step = s.onReply(reply('W', line + 1, 0));
            if (step.finished)
                break;
            QCOMPARE(step.send, sent);
            ++sends;
        }
        QCOMPARE(sends, MaxSends);
        QCOMPARE(s.failure(), FlashSession::Failure::LineRejected);
        QCOMPARE(s.linesDone(), std::size_t(line));
        QCOMPARE(s.failureText(), "line " + std::to_string(line + 1) + " was rejected 11 times");
    }

    void failures_data()
    {
        QTest::addColumn<int>("eraseStatus");
        QTest::addColumn<int>("failure");
        QTest::newRow("erase failed") << 0 << int(FlashSession::Failure::EraseFailed);
        QTest::newRow("not blank") << 1 << int(FlashSession::Failure::EraseFailed);
    }
    void failures()
    {
        QFETCH(int, eraseStatus);
        QFETCH(int, failure);
        const LineStore lines = linesOf({"a"});
        FlashSession s(lines, {false, FlashSession::Erase::Flash, 'W', 0});
        QCOMPARE(s.start().send, std::string(":K000001028075;"));
        QVERIFY(s.onReply(reply('K', 0, eraseStatus)).finished);
        QCOMPARE(int(s.failure()), failure);
        QCOMPARE(s.stage(), FlashSession::Stage::Failed);
        QVERIFY(!s.failureText().empty());
    }

    void waitingGivesUpAfterTheLastLinkTest()
    {
        const LineStore lines = linesOf({"a"});
        FlashSession s(lines, {true, FlashSession::Erase::Flash, 'W', 3});
        s.start();
        QVERIFY(!s.onReplyTimeout().finished);
        QVERIFY(!s.onReplyTimeout().finished);
        QVERIFY(s.onReplyTimeout().finished);
        QCOMPARE(s.failure(), FlashSession::Failure::NoBootloader);
        QCOMPARE(s.linkTestsSent(), 3);
    }

    void silenceAfterTheWaitIsATimeout()
    {
        const LineStore lines = linesOf({"a"});
        FlashSession s(lines, {false, FlashSession::Erase::None, 'W', 0});
        s.start();
        QVERIFY(s.onReplyTimeout().finished);
        QCOMPARE(s.failure(), FlashSession::Failure::ReplyTimeout);
    }

    void pingAndEraseEndWithoutADownload()
    {
        const LineStore none;
        FlashSession ping(none, {true, FlashSession::Erase::None, 'W', 0, false});
        QCOMPARE(ping.start().send, std::string(":U;"));
        QVERIFY(ping.onReply(reply('U', 0, 0)).finished);
        QCOMPARE(ping.stage(), FlashSession::Stage::Done);

        FlashSession erase(none, {false, FlashSession::Erase::Data, 'W', 0, false});
        QCOMPARE(erase.start().send, std::string(":K00000101C074;"));
        QVERIFY(erase.onReply(reply('K', 0, 3)).finished);
        QCOMPARE(erase.stage(), FlashSession::Stage::Done);
    }

    void strayAcknowledgementsDoNotMoveTheDownload()
    {
        const LineStore lines = linesOf({"l0", "l1"});
        FlashSession s(lines, {false, FlashSession::Erase::Flash, 'W', 0});
        s.start();
        QVERIFY(s.onReply(reply('W', 1, 1)).send.empty()); // before the announce: not ours
        QVERIFY(s.onReply(reply('W', 1, 1)).send.empty());
        QCOMPARE(s.onReply(reply('K', 0, 3)).send.substr(0, 8), std::string(":W000002"));
        QVERIFY(s.onReply(reply('W', 1, 1)).send.empty()); // not the announce's acknowledgement
        QCOMPARE(s.onReply(reply('W', 0, 1)).send, std::string("l0"));
        QCOMPARE(s.onReply(reply('W', 1, 1)).send, std::string("l1"));
        QVERIFY(s.onReply(reply('W', 2, 1)).finished);
        QCOMPARE(s.stage(), FlashSession::Stage::Done);
    }

    void unrelatedRepliesAreIgnored()
    {
        const LineStore lines = linesOf({"a"});
        FlashSession s(lines, {true, FlashSession::Erase::Flash, 'W', 0});
        s.start();
        QVERIFY(s.onReply(reply('K', 0, 3)).send.empty()); // not the answer to a link test
        QCOMPARE(s.stage(), FlashSession::Stage::WaitBootloader);
        s.onReply(reply('U', 0, 0));
        QVERIFY(s.onReply(reply('W', 0, 1)).send.empty()); // the erase is not answered yet
        QCOMPARE(s.stage(), FlashSession::Stage::Erase);
        QVERIFY(s.onReply(":K").send.empty());
    }
};

QTEST_GUILESS_MAIN(Session)
#include "test_session.moc"
