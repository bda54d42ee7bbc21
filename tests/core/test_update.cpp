// The update rules without a window: reply decoding and dispatch, the announce frames and
// morvenctl's session, on the cases the rules name; fuzz_reply (dispatch and the engine step) and
// fuzz_framer check arbitrary replies and streams against references.
#include "update/dispatcher.h"
#include "update/flashsession.h"
#include "update/replyframer.h"

#include "support/testmain.h"

#include <QTest>

using namespace morven;

Q_DECLARE_METATYPE(ReplyAction)

namespace {

ReplyAction dispatch(ReplyState &reply, EngineState &engine, const std::string &batch)
{
    return dispatchReply(reply, engine, reinterpret_cast<const std::uint8_t *>(batch.data()), batch.size(),
        std::int16_t(batch.size()));
}

// A reply as the target lays it out: sequence number, length 1, status, two CRC bytes.
std::string reply(char letter, int seq, int status)
{
    char text[32];
    std::snprintf(text, sizeof text, ":%c%04X01%02XABCD;", letter, seq, status);
    return text;
}

} // namespace

class Update : public QObject
{
    Q_OBJECT
private slots:
    void dispatchTable_data()
    {
        QTest::addColumn<QByteArray>("batch");
        QTest::addColumn<int>("lineNoBefore");
        QTest::addColumn<ReplyAction>("action");
        QTest::addColumn<int>("lineNoAfter");
        auto row = [](const char *name, const std::string &batch, int before, ReplyAction a, int after) {
            QTest::newRow(name) << QByteArray::fromStdString(batch) << before << a << after;
        };
        using A = ReplyAction;
        row("U without bytes", ":U;", 5, A::None, 5);
        row("U with three bytes", ":U000000;", 5, A::UpdateMode, 5);
        row("S", reply('S', 9, 9), 5, A::UserProgram, 5);
        row("K status 3", reply('K', 0, 3), 0, A::EraseSuccess, 0);
        row("K status 1", reply('K', 0, 1), 0, A::EraseCheckEmpty, 0);
        row("K status 0", reply('K', 0, 0), 0, A::EraseFailure, 0);
        row("K sequence 1", reply('K', 1, 3), 0, A::None, 0);
        row("O announce accepted", reply('O', 0, 1), 7, A::StepO, 0);
        row("O line accepted", reply('O', 3, 1), 7, A::StepO, 8);
        row("O line rejected", reply('O', 3, 0), 7, A::StepO, 7);
        row("W line status 2", reply('W', 1, 2), 4, A::None, 4);
        row("two replies: the first letter", reply('W', 2, 1) + reply('U', 0, 0), 4, A::StepW, 5);
        row("lower-case digits are not hex: 0a is 42", ":W0001010a;", 4, A::None, 4);
        row("sequence 0x8000 keeps RecNo (0): an announce", reply('W', 0x8000, 1), 9, A::StepW, 0);
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
        // Shorter than 3 characters: nothing changes.
        QCOMPARE(dispatch(reply, engine, batch.left(2).toStdString()), ReplyAction::None);
        QCOMPARE(reply.RecCmd, std::uint8_t(batch[1]));
        QCOMPARE(decodeReply(reinterpret_cast<const std::uint8_t *>(batch.constData()), 2, 500).hasLetter, false);
    }

    void announceFrames()
    {
        QCOMPARE(announceFrame('W', 1), std::string(":W00000200014400;"));
        QCOMPARE(announceFrame('W', 16), std::string(":W0000020010840C;"));
        QCOMPARE(announceFrame('O', 0), std::string(":O000002000085C0;"));
        QCOMPARE(announceFrame('W', 0x10001), std::string(":W00000200014400;")); // low 16 bits
    }

    void framerCutsWholeFramesOnly()
    {
        ReplyFramer framer(16);
        std::vector<std::string> frames;
        for (const char *piece : {"noise:U00", "0000;:K0", "001:W000001;", ":" "00000000000000000000;", ":S;"})
            framer.feed(piece, frames);
        QCOMPARE(frames, (std::vector<std::string>{":U000000;", ":W000001;", ":S;"}));
        QCOMPARE(framer.droppedBytes(), std::size_t(5 + 6 + 22)); // noise, a frame cut by a colon, an overlong one
    }

    // morvenctl's session: what it sends on each event ("T" a reply that did not come, "-"
    // nothing expected, "end" the session ends, "fail:N" it fails with that failure).
    void session_data()
    {
        QTest::addColumn<int>("options"); // bit 0 wait, bits 1-2 erase, bit 3 'O', bit 4 no download
        QTest::addColumn<QStringList>("script"); // event, then what is sent
        const QString w0 = QString::fromStdString(reply('W', 0, 1));
        auto r = [](char l, int seq, int st) { return QString::fromStdString(reply(l, seq, st)); };
        QTest::newRow("whole update") << 0b011 << QStringList{"start", ":U;", "T", ":U;", r('U', 0, 0), ":K000001028075;",
            r('K', 0, 3), ":W00000200020401;", w0, ":Wl0;", r('W', 1, 0), ":Wl0;", r('W', 1, 1), ":Wl1;", r('W', 2, 1), "end"};
        QTest::newRow("O download, no wait, no erase")
            << 0b1000 << QStringList{"start", ":O00000200020401;", r('O', 0, 1), ":Ol0;", r('O', 1, 1), ":Wl1;"};
        QTest::newRow("stray acknowledgements do not move it")
            << 0b010 << QStringList{"start", ":K000001028075;", r('W', 1, 1), "-", r('K', 0, 3), ":W00000200020401;",
                   r('W', 1, 1), "-", w0, ":Wl0;"};
        QTest::newRow("erase failed") << 0b010 << QStringList{"start", ":K000001028075;", r('K', 0, 0), "fail:2"};
        QTest::newRow("not blank") << 0b010 << QStringList{"start", ":K000001028075;", r('K', 0, 1), "fail:2"};
        QTest::newRow("erase data, then done") << 0b10100 << QStringList{"start", ":K00000101C074;", r('K', 0, 3), "end"};
        QTest::newRow("ping") << 0b10001 << QStringList{"start", ":U;", r('K', 0, 3), "-", r('S', 0, 0), "end"};
        QTest::newRow("silence after the wait") << 0 << QStringList{"start", ":W00000200020401;", "T", "fail:4"};
        QTest::newRow("third link test unanswered") << 0b1000001 << QStringList{"start", ":U;", "T", ":U;", "T", ":U;", "T", "fail:1"};
    }
    void session()
    {
        QFETCH(int, options);
        QFETCH(QStringList, script);
        LineStore lines;
        lines.append(options & 8 ? ":Ol0;" : ":Wl0;");
        lines.append(":Wl1;");
        FlashSession::Options o;
        o.waitForBootloader = options & 1;
        o.erase = FlashSession::Erase((options >> 1) & 3);
        o.kind = options & 8 ? 'O' : 'W';
        o.download = !(options & 16);
        o.maxLinkTests = options & 64 ? 3 : 0;
        FlashSession s(lines, o);
        for (qsizetype i = 0; i + 1 < script.size(); i += 2) {
            const QString &event = script[i];
            const FlashSession::Step step = event == QLatin1String("start") ? s.start()
                : event == QLatin1String("T")                           ? s.onReplyTimeout()
                                                                        : s.onReply(event.toStdString());
            const QString &want = script[i + 1];
            if (want == QLatin1String("end") || want.startsWith(QLatin1String("fail"))) {
                QVERIFY(step.finished);
                QCOMPARE(int(s.failure()), want == QLatin1String("end") ? 0 : want.mid(5).toInt());
            } else {
                QVERIFY(!step.finished);
                QCOMPARE(QString::fromStdString(step.send), want == QLatin1String("-") ? QString() : want);
            }
        }
    }

    // Every line, the first too, goes out 11 times at most, and the failure names it.
    void sessionSendsALineElevenTimes()
    {
        LineStore lines;
        lines.append("l0");
        lines.append("l1");
        for (int line : {0, 1}) {
            FlashSession s(lines, {false, FlashSession::Erase::None, 'W', 0});
            s.start();
            s.onReply(reply('W', 0, 1));
            if (line == 1)
                s.onReply(reply('W', 1, 1));
            int sends = 1;
            // Bounded, so that a session that never gives up fails here rather than loops.
            while (sends <= MaxSends && !s.onReply(reply('W', line + 1, 0)).finished)
                ++sends;
            QCOMPARE(sends, MaxSends);
            QCOMPARE(s.linesDone(), std::size_t(line));
            QCOMPARE(s.failureText(), "line " + std::to_string(line + 1) + " was rejected 11 times");
        }
    }
};

MORVEN_TEST_CLASS(Update)
#include "test_update.moc"
