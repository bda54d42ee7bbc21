// The update rules without a window: reply decoding and dispatch, the engine step and the
// announce frames.
#include "update/dispatcher.h"
#include "update/engine.h"

#include <QTest>

#include <string>

using namespace morven;

namespace {

ReplyAction dispatch(ReplyState &reply, EngineState &engine, const std::string &batch)
{
    return dispatchReply(reply, engine, reinterpret_cast<const std::uint8_t *>(batch.data()), batch.size(),
        std::int16_t(batch.size()));
}

// A reply as the target lays it out: sequence number, length 1, status, two CRC bytes.
std::string replyFrame(char letter, int seq, int status)
{
    char text[32];
    std::snprintf(text, sizeof text, ":%c%04X01%02X0000;", letter, seq, status);
    return text;
}

} // namespace

Q_DECLARE_METATYPE(ReplyAction)

class UpdateRules : public QObject
{
    Q_OBJECT
private slots:
    void decodeCountsPairsHalfToEven_data()
    {
        QTest::addColumn<QByteArray>("batch");
        QTest::addColumn<int>("count");
        QTest::newRow("3 chars") << QByteArray(":U;") << 0;
        QTest::newRow("7 chars") << QByteArray(":U0000;") << 2;
        QTest::newRow("8 chars: 2.5 gives 2") << QByteArray(":U00000;") << 2;
        QTest::newRow("9 chars") << QByteArray(":U000000;") << 3;
        QTest::newRow("10 chars: 3.5 gives 4") << QByteArray(":U0000000;") << 4;
        QTest::newRow("12 chars: 4.5 gives 4") << QByteArray(":U000000000;") << 4;
        QTest::newRow("long batch stops at 128") << QByteArray(":U" + QByteArray(400, '0') + ";") << 128;
    }
    void decodeCountsPairsHalfToEven()
    {
        QFETCH(QByteArray, batch);
        QFETCH(int, count);
        const DecodedReply r = decodeReply(
            reinterpret_cast<const std::uint8_t *>(batch.constData()), std::size_t(batch.size()), qint16(batch.size()));
        QVERIFY(r.hasLetter);
        QCOMPARE(r.letter, std::uint8_t('U'));
        QCOMPARE(r.count, count);
    }

    void decodeDigitRule_data()
    {
        QTest::addColumn<QByteArray>("pair");
        QTest::addColumn<int>("value");
        QTest::newRow("upper case") << QByteArray("AF") << 0xAF;
        QTest::newRow("lower case is not hex: 0a") << QByteArray("0a") << 42;
        QTest::newRow("lower case too big: a0") << QByteArray("a0") << 0;
        QTest::newRow("colon counts as 10") << QByteArray("0:") << 10;
        QTest::newRow("below '0' keeps its code") << QByteArray("0!") << 33;
        QTest::newRow("G") << QByteArray("0G") << 16;
        QTest::newRow("above 255 leaves 0") << QByteArray("G0") << 0;
    }
    void decodeDigitRule()
    {
        QFETCH(QByteArray, pair);
        QFETCH(int, value);
        const QByteArray batch = ":X" + pair + "0000;";
        const DecodedReply r = decodeReply(
            reinterpret_cast<const std::uint8_t *>(batch.constData()), std::size_t(batch.size()), qint16(batch.size()));
        QCOMPARE(int(r.bytes[0]), value);
    }

    void decodeNeverReadsPastTheBuffer()
    {
        const std::string batch = ":W0001";
        // L claims more than the buffer holds: only the buffer is read.
        const DecodedReply r
            = decodeReply(reinterpret_cast<const std::uint8_t *>(batch.data()), batch.size(), std::int16_t(500));
        QVERIFY(r.count <= 2);
        QCOMPARE(decodeReply(nullptr, 0, 0).hasLetter, false);
        QCOMPARE(decodeReply(reinterpret_cast<const std::uint8_t *>(batch.data()), batch.size(), -5).hasLetter, false);
    }

    void dispatchTable_data()
    {
        QTest::addColumn<QByteArray>("batch");
        QTest::addColumn<int>("lineNoBefore");
        QTest::addColumn<ReplyAction>("action");
        QTest::addColumn<int>("lineNoAfter");
        auto row = [](const char *name, const std::string &batch, int before, ReplyAction a, int after) {
            QTest::newRow(name) << QByteArray::fromStdString(batch) << before << a << after;
        };
        row("U without bytes does nothing", ":U;", 5, ReplyAction::None, 5);
        row("U with three bytes", ":U000000;", 5, ReplyAction::UpdateMode, 5);
        row("U of 7 chars not acted on", ":U0000;", 5, ReplyAction::None, 5);
        row("U of 8 chars not acted on", ":U00000;", 5, ReplyAction::None, 5);
        row("S", replyFrame('S', 9, 9), 5, ReplyAction::UserProgram, 5);
        row("K without status fails", ":K000001;", 0, ReplyAction::EraseFailure, 0);
        row("K status 3", replyFrame('K', 0, 3), 0, ReplyAction::EraseSuccess, 0);
        row("K status 1", replyFrame('K', 0, 1), 0, ReplyAction::EraseCheckEmpty, 0);
        row("K status 0", replyFrame('K', 0, 0), 0, ReplyAction::EraseFailure, 0);
        row("K with sequence 1", replyFrame('K', 1, 3), 0, ReplyAction::None, 0);
        row("O announce accepted", replyFrame('O', 0, 1), 7, ReplyAction::StepO, 0);
        row("O announce rejected", replyFrame('O', 0, 0), 7, ReplyAction::None, 7);
        row("O line accepted", replyFrame('O', 3, 1), 7, ReplyAction::StepO, 8);
        row("O line rejected", replyFrame('O', 3, 0), 7, ReplyAction::StepO, 7);
        row("O line status 2", replyFrame('O', 3, 2), 7, ReplyAction::None, 7);
        row("W announce accepted", replyFrame('W', 0, 1), 7, ReplyAction::StepW, 0);
        row("W announce status 0", replyFrame('W', 0, 0), 7, ReplyAction::None, 7);
        row("W line accepted", replyFrame('W', 1, 1), 0, ReplyAction::StepW, 1);
        row("W line rejected", replyFrame('W', 1, 0), 4, ReplyAction::StepW, 4);
        row("W line status 2", replyFrame('W', 1, 2), 4, ReplyAction::None, 4);
        row("W line accepted at the top of the range", replyFrame('W', 1, 1), 32767, ReplyAction::StepW, 32767);
        row("M", replyFrame('M', 1, 1), 4, ReplyAction::None, 4);
        row("T", replyFrame('T', 1, 1), 4, ReplyAction::None, 4);
        row("R", replyFrame('R', 1, 1), 4, ReplyAction::None, 4);
        row("unknown letter", replyFrame('Z', 1, 1), 4, ReplyAction::None, 4);
        row("two replies: only the first letter", replyFrame('W', 2, 1) + replyFrame('U', 0, 0), 4,
            ReplyAction::StepW, 5);
        row("lower-case digits are not hex", ":W0001010a;", 4, ReplyAction::None, 4);
    }
    void dispatchTable()
    {
        QFETCH(QByteArray, batch);
        QFETCH(int, lineNoBefore);
        QFETCH(ReplyAction, action);
        QFETCH(int, lineNoAfter);
        ReplyState reply;
        EngineState engine;
        engine.LineNo = std::int16_t(lineNoBefore);
        QCOMPARE(dispatch(reply, engine, batch.toStdString()), action);
        QCOMPARE(int(engine.LineNo), lineNoAfter);
        QCOMPARE(reply.RecCmd, std::uint8_t(batch[1]));
    }

    void shortBatchChangesNothing()
    {
        ReplyState reply;
        reply.RecCmd = 'Q';
        EngineState engine;
        QCOMPARE(dispatch(reply, engine, ":W"), ReplyAction::None);
        QCOMPARE(reply.RecCmd, std::uint8_t('Q'));
    }

    void sequenceNumberOutOfRangeKeepsThePreviousOne()
    {
        ReplyState reply;
        EngineState engine;
        engine.LineNo = 3;
        dispatch(reply, engine, replyFrame('W', 5, 1));
        QCOMPARE(int(reply.RecNo), 5);
        QCOMPARE(int(engine.LineNo), 4);
        // 0x8000 does not fit: RecNo stays 5, so the row for a positive number is taken.
        QCOMPARE(dispatch(reply, engine, replyFrame('W', 0x8000, 1)), ReplyAction::StepW);
        QCOMPARE(int(reply.RecNo), 5);
        QCOMPARE(int(engine.LineNo), 5);
        // After an announce acknowledgement RecNo is 0; a 0x8123 reply then counts as an announce.
        dispatch(reply, engine, replyFrame('W', 0, 1));
        QCOMPARE(int(engine.LineNo), 0);
        engine.LineNo = 9;
        QCOMPARE(dispatch(reply, engine, replyFrame('W', 0x8123, 1)), ReplyAction::StepW);
        QCOMPARE(int(engine.LineNo), 0);
    }

    void announceFrames_data()
    {
        QTest::addColumn<char>("letter");
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("one line") << 'W' << 1 << QByteArray(":W00000200014400;");
        QTest::newRow("sixteen lines") << 'W' << 16 << QByteArray(":W0000020010840C;");
        QTest::newRow("empty O") << 'O' << 0 << QByteArray(":O000002000085C0;");
    }
    void announceFrames()
    {
        QFETCH(char, letter);
        QFETCH(int, count);
        QFETCH(QByteArray, frame);
        Workspace ws;
        const std::string built = announceFrame(ws, letter, std::size_t(count));
        QCOMPARE(QByteArray::fromStdString(built), frame);
        QCOMPARE(ws.FrameLen, std::int16_t(5));
        QCOMPARE(ws.FrameData[5], ws.CrcLo);
        QCOMPARE(ws.FrameData[6], ws.CrcHi);
    }

    void downloadSendsEachLineOnceAndSucceeds()
    {
        EngineState e;
        const std::size_t n = 4;
        std::vector<std::size_t> sent;
        e.LineNo = 0; // announce accepted
        for (int reply = 0; reply <= int(n); ++reply) {
            const StepOutcome s = engineStep(e, n);
            QVERIFY(s.setProgress);
            QCOMPARE(s.maximum, n);
            QCOMPARE(s.value, std::size_t(reply));
            if (reply < int(n)) {
                QCOMPARE(s.kind, StepOutcome::SendLine);
                sent.push_back(s.line);
                ++e.LineNo; // the line is accepted
            } else {
                QCOMPARE(s.kind, StepOutcome::Success);
            }
        }
        QCOMPARE(sent, (std::vector<std::size_t>{0, 1, 2, 3}));
    }

    void aLineIsSentElevenTimesAtMost()
    {
        EngineState e;
        e.LineNo = 0;
        QCOMPARE(engineStep(e, 5).kind, StepOutcome::SendLine); // line 0 first time: a repeat of 0
        e.LineNo = 1;
        e.LastLineNo = 0;
        e.RetryCnt = 0;
        int sends = 0;
        StepOutcome s;
        while ((s = engineStep(e, 5)).kind == StepOutcome::SendLine) {
            QCOMPARE(s.line, std::size_t(1));
            ++sends;
            QVERIFY(sends <= 20);
        }
        QCOMPARE(sends, 11);
        QCOMPARE(s.kind, StepOutcome::Failure);
        QVERIFY(!s.setProgress);
        // Further rejections fail again; an accepting reply carries on.
        QCOMPARE(engineStep(e, 5).kind, StepOutcome::Failure);
        e.LineNo = 2;
        QCOMPARE(engineStep(e, 5).kind, StepOutcome::SendLine);
    }

    void firstDownloadCountsTheAnnounceAsARepeatOfLineZero()
    {
        EngineState e; // LineNo and LastLineNo both 0 after start
        QCOMPARE(engineStep(e, 3).kind, StepOutcome::SendLine);
        QCOMPARE(int(e.RetryCnt), 1);
    }

    void pastTheEndSendsNothingAndKeepsTheBarInRange()
    {
        EngineState e;
        e.LineNo = 29;
        e.LastLineNo = 3;
        const StepOutcome s = engineStep(e, 10);
        QCOMPARE(s.kind, StepOutcome::Nothing);
        QVERIFY(s.value <= s.maximum);
        e.LineNo = 29;
        e.LastLineNo = 0;
        QCOMPARE(engineStep(e, 29).kind, StepOutcome::Success);
    }

    void emptyListSucceedsAtOnce()
    {
        EngineState e;
        e.LastLineNo = 5;
        const StepOutcome s = engineStep(e, 0);
        QCOMPARE(s.kind, StepOutcome::Success);
        QCOMPARE(s.maximum, std::size_t(0));
    }
};

QTEST_GUILESS_MAIN(UpdateRules)
#include "test_update.moc"
