// Timing of the simulated line: when each byte is through at a given rate.
#include "sim/pacedline.h"

#include <QtTest>

using namespace morven::sim;
using namespace std::chrono_literals;

namespace {
const TimePoint t0 = TimePoint{} + 1h;
}

class TestPacedLine : public QObject
{
    Q_OBJECT

private slots:
    void byteTimeIsTenBitsAtTheRate()
    {
        QCOMPARE(PacedLine::byteTimeFor(1200), std::chrono::nanoseconds(8'333'333));
        QCOMPARE(PacedLine::byteTimeFor(115200), std::chrono::nanoseconds(86'805));
        QCOMPARE(PacedLine::byteTimeFor(0), std::chrono::nanoseconds(0));
        QCOMPARE(PacedLine::byteTimeFor(-5), std::chrono::nanoseconds(0));
    }

    void bytesComeThroughOneByteTimeApart()
    {
        PacedLine line(10ms);
        line.push("abc", t0);
        QCOMPARE(line.nextDue(), std::optional<TimePoint>(t0 + 10ms));
        QVERIFY(line.take(t0 + 9ms).empty());
        TimePoint first;
        TimePoint last;
        QCOMPARE(line.take(t0 + 25ms, &first, &last), std::string("ab"));
        QCOMPARE(first, t0 + 10ms);
        QCOMPARE(last, t0 + 20ms);
        QCOMPARE(line.nextDue(), std::optional<TimePoint>(t0 + 30ms));
        QVERIFY(line.take(t0 + 29ms).empty());
        QCOMPARE(line.take(t0 + 30ms, &first, &last), std::string("c"));
        QCOMPARE(first, t0 + 30ms);
        QVERIFY(line.empty());
        QVERIFY(!line.nextDue());
    }

    // A run starts when the line is free, or later when it is pushed later.
    void runsQueueAndKeepTheirPauses()
    {
        PacedLine line(10ms);
        line.push("ab", t0);
        line.push("cd", t0 + 5ms); // the line is busy until t0 + 20 ms
        QCOMPARE(line.freeAt(), t0 + 40ms);
        line.push("ef", line.freeAt() + 50ms);
        QCOMPARE(line.take(t0 + 100ms), std::string("ab"));
        TimePoint first;
        QCOMPARE(line.take(t0 + 100ms, &first), std::string("cd"));
        QCOMPARE(first, t0 + 30ms);
        QVERIFY(line.take(t0 + 99ms).empty());
        QCOMPARE(line.nextDue(), std::optional<TimePoint>(t0 + 100ms));
        QCOMPARE(line.take(t0 + 110ms), std::string("ef"));
    }

    void withoutPacingEverythingIsThroughAtItsStart()
    {
        PacedLine line;
        line.push("frame", t0 + 7ms);
        QVERIFY(line.take(t0 + 6ms).empty());
        QCOMPARE(line.nextDue(), std::optional<TimePoint>(t0 + 7ms));
        TimePoint last;
        QCOMPARE(line.take(t0 + 7ms, nullptr, &last), std::string("frame"));
        QCOMPARE(last, t0 + 7ms);
    }

    void clearForgetsQueuedBytes()
    {
        PacedLine line(10ms);
        line.push("abc", t0);
        line.clear();
        QVERIFY(line.empty());
        line.push("x", t0);
        QCOMPARE(line.take(t0 + 10ms), std::string("x"));
    }
};

QTEST_GUILESS_MAIN(TestPacedLine)
#include "test_pacedline.moc"
