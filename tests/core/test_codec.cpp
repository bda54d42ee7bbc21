// The record codec: which bytes a parse converts, what it does with stray characters, and
// how a record is formatted back into text.
#include "hexcodec.h"
#include "testutil.h"

#include <QtTest>

#include <algorithm>
#include <random>

using morven::ParseReport;
using morven::Workspace;
using testutil::qb;
using testutil::spaced;

namespace {

constexpr std::uint8_t kMarker = 0xEE; // HexData filler that no test line produces

Workspace markedWorkspace(const std::string &line)
{
    Workspace ws;
    ws.HexData.fill(kMarker);
    ws.LineStr = line;
    return ws;
}

} // namespace

class TestCodec : public QObject
{
    Q_OBJECT

private slots:
    // The documented table: a line, the number of bytes it converts and the bytes themselves.
    void parseTable_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("converted");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("empty") << QByteArray() << 0 << QByteArray();
        QTest::newRow("no colon") << QByteArray("0102") << 0 << QByteArray();
        QTest::newRow("colon only") << QByteArray(":") << 0 << QByteArray();
        QTest::newRow("one digit") << QByteArray(":0") << 0 << QByteArray();
        QTest::newRow("one pair") << QByteArray(":01") << 1 << QByteArray("01");
        QTest::newRow("two pairs: last dropped") << QByteArray(":0102") << 1 << QByteArray("01");
        QTest::newRow("three pairs") << QByteArray(":010203") << 3 << QByteArray("01 02 03");
        QTest::newRow("four pairs: last dropped") << QByteArray(":01020304") << 3 << QByteArray("01 02 03");
        QTest::newRow("eof record") << QByteArray(":00000001FF") << 5 << QByteArray("00 00 00 01 FF");
        QTest::newRow("odd data count: no checksum")
            << QByteArray(":0100000041BE") << 5 << QByteArray("01 00 00 00 41");
        QTest::newRow("extended address record")
            << QByteArray(":020000040800F2") << 7 << QByteArray("02 00 00 04 08 00 F2");
        QTest::newRow("mixed case") << QByteArray(":0a0B0c") << 3 << QByteArray("0A 0B 0C");
        QTest::newRow("unpaired digit after pairs") << QByteArray(":0102030") << 3 << QByteArray("01 02 03");
        QTest::newRow("unpaired digit, five pairs") << QByteArray(":01020304050") << 5 << QByteArray("01 02 03 04 05");
        QTest::newRow("colon not first") << QByteArray(" :0102") << 0 << QByteArray();
    }

    void parseTable()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, converted);
        QFETCH(QByteArray, expected);
        const std::vector<std::uint8_t> want = testutil::bytes(expected.constData());

        for (auto parse : {&morven::StrtoData, &morven::RectoData}) {
            Workspace ws = markedWorkspace(testutil::str(line));
            const ParseReport report = parse(ws);
            QCOMPARE(report.converted, converted);
            QCOMPARE(report.firstBadPair, -1);
            QCOMPARE(spaced(ws.HexData.begin(), ws.HexData.begin() + converted), expected);
            // Everything the parse did not reach keeps its old contents.
            QVERIFY(std::all_of(
                ws.HexData.begin() + converted, ws.HexData.end(), [](std::uint8_t b) { return b == kMarker; }));
            QCOMPARE(qb(ws.LineStr), line);
        }
    }

    // Colon plus d digits: k = d/2 complete pairs. An even number of pairs loses its last pair,
    // an odd one keeps all, an unpaired digit is never converted, and 127 bytes is the most.
    void convertedCountForEveryLength()
    {
        std::string digits;
        for (int d = 0; d <= 300; ++d) {
            Workspace ws = markedWorkspace(":" + digits);
            const int k = d / 2;
            int expected = (d % 2 == 1) ? k : (k % 2 == 1 ? k : std::max(k - 1, 0));
            expected = std::min(expected, 127);
            const ParseReport report = morven::StrtoData(ws);
            QVERIFY2(report.converted == expected,
                qPrintable(QString("digits %1: converted %2, want %3").arg(d).arg(report.converted).arg(expected)));
            QCOMPARE(int(std::count(ws.HexData.begin(), ws.HexData.end(), kMarker)), 129 - expected);
            digits += "0123456789"[d % 10];
        }
    }

    void capAt127Bytes()
    {
        std::mt19937 rng(1234);
        std::string line = ":";
        for (int i = 0; i < 300; ++i)
            line += "0123456789abcdefABCDEF"[rng() % 22];
        Workspace ws = markedWorkspace(line);
        const ParseReport report = morven::StrtoData(ws);
        QCOMPARE(report.converted, 127);
        QCOMPARE(report.firstBadPair, -1);
        // The first 254 digits, read pairwise.
        const QByteArray want = QByteArray::fromHex(QByteArray(line.data() + 1, 254));
        QCOMPARE(spaced(ws.HexData.begin(), ws.HexData.begin() + 127), spaced(want.begin(), want.end()));
        QCOMPARE(ws.HexData[127], kMarker);
        QCOMPARE(ws.HexData[128], kMarker);
    }

    void secondParseKeepsBytesBeyondItsReach()
    {
        Workspace ws;
        ws.LineStr = ":020000040800F2";
        morven::StrtoData(ws);
        ws.LineStr = ":AABB";
        QCOMPARE(morven::StrtoData(ws).converted, 1);
        QCOMPARE(spaced(ws.HexData.begin(), ws.HexData.begin() + 8), QByteArray("AA 00 00 04 08 00 F2 00"));
    }

    // A pair with a character other than a hex digit: the character's code is its value, the
    // low 8 bits are stored, and the first such pair is reported.
    void badPairs_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("converted");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("firstBadPair");

        // '0','G' -> 0*16 + 71 = 0x47: fits, stored as computed.
        QTest::newRow("0G fits") << QByteArray(":0G") << 1 << QByteArray("47") << 0;
        // 'G','0' -> 71*16 = 0x470 -> 0x70.
        QTest::newRow("G0 above 255") << QByteArray(":G0") << 1 << QByteArray("70") << 0;
        // 'z','z' -> 122*16 + 122 = 0x81A -> 0x1A, in the second pair.
        QTest::newRow("second pair") << QByteArray(":01zz02") << 3 << QByteArray("01 1A 02") << 1;
        // ':' is not a digit either: 58*16 + 1 = 0x3A1 -> 0xA1.
        QTest::newRow("colon as digit") << QByteArray("::1") << 1 << QByteArray("A1") << 0;
        // Bytes above 0x7F count as unsigned: 0xFF*16 + 0 = 0xFF0 -> 0xF0.
        QTest::newRow("high byte") << QByteArray(":\xFF"
                                                 "0")
                                   << 1 << QByteArray("F0") << 0;
        // A blank: 0x20*16 + 0x20 = 0x220 -> 0x20.
        QTest::newRow("blanks") << QByteArray(":01  03") << 3 << QByteArray("01 20 03") << 1;
        // NUL inside the line is a character like any other: 0*16 + 1.
        QTest::newRow("nul") << QByteArray(":\0"
                                           "1",
            3) << 1 << QByteArray("01")
                             << 0;
        // The first bad pair is reported, not a later one.
        QTest::newRow("two bad pairs") << QByteArray(":01X1Y2") << 3 << QByteArray("01 81 92") << 1;
        // A bad character in the pair that is not converted is not reported.
        QTest::newRow("bad in dropped pair") << QByteArray(":01XY") << 1 << QByteArray("01") << -1;
    }

    void badPairs()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, converted);
        QFETCH(QByteArray, expected);
        QFETCH(int, firstBadPair);
        Workspace ws = markedWorkspace(testutil::str(line));
        const ParseReport report = morven::StrtoData(ws);
        QCOMPARE(report.converted, converted);
        QCOMPARE(report.firstBadPair, firstBadPair);
        QCOMPARE(spaced(ws.HexData.begin(), ws.HexData.begin() + converted), expected);
        QCOMPARE(ws.HexData[static_cast<std::size_t>(converted)], kMarker);
        Workspace again = markedWorkspace(testutil::str(line));
        const ParseReport second = morven::RectoData(again);
        QCOMPARE(second.firstBadPair, firstBadPair);
        QVERIFY(again.HexData == ws.HexData);
    }

    void formatExamples_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("eof record") << QByteArray("00 00 00 01 FF") << QByteArray(":00000001FF");
        QTest::newRow("extended address") << QByteArray("02 00 00 04 08 00 F2") << QByteArray(":020000040800F2");
        QTest::newRow("upper case, leading zeros") << QByteArray("01 0A BC 00 AB 05") << QByteArray(":010ABC00AB05");
    }

    void formatExamples()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, text);
        Workspace ws;
        ws.HexData.fill(0);
        const auto b = testutil::bytes(bytes.constData());
        std::copy(b.begin(), b.end(), ws.HexData.begin());
        ws.HexData[b.size()] = 0x77; // beyond the record: must not appear
        ws.OutStr = "previous text that is longer than the record";
        QVERIFY(morven::DatatoStr(ws));
        QCOMPARE(qb(ws.OutStr), text);
    }

    void formatLengthFollowsByteZero()
    {
        Workspace ws;
        for (std::size_t i = 0; i < ws.HexData.size(); ++i)
            ws.HexData[i] = static_cast<std::uint8_t>(i);
        for (std::uint8_t n : {std::uint8_t(0), std::uint8_t(16), std::uint8_t(123), std::uint8_t(124)}) {
            ws.HexData[0] = n;
            QVERIFY(morven::DatatoStr(ws));
            QCOMPARE(ws.OutStr.size(), std::size_t(2 * (n + 5) + 1));
            // The last pair printed is HexData[n + 4].
            const QByteArray last = QByteArray::number(n + 4, 16).rightJustified(2, '0').toUpper();
            QCOMPARE(qb(ws.OutStr).right(2), last);
        }
    }

    void formatRefusesAbove124()
    {
        Workspace ws;
        for (int n : {125, 200, 255}) {
            ws.HexData[0] = static_cast<std::uint8_t>(n);
            ws.OutStr = "unchanged";
            QVERIFY(!morven::DatatoStr(ws));
            QCOMPARE(qb(ws.OutStr), QByteArray("unchanged"));
        }
    }

    void formatThenParseRoundTrip()
    {
        std::mt19937 rng(99);
        for (int round = 0; round < 200; ++round) {
            Workspace ws;
            const auto n = static_cast<std::uint8_t>(rng() % 123);
            ws.HexData[0] = n;
            for (std::size_t i = 1; i <= n + 4u; ++i)
                ws.HexData[i] = static_cast<std::uint8_t>(rng());
            const auto original = ws.HexData;
            QVERIFY(morven::DatatoStr(ws));
            Workspace back;
            back.LineStr = ws.OutStr;
            const ParseReport report = morven::StrtoData(back);
            // The checksum pair only comes back when the number of pairs (n + 5) is odd.
            const int expected = (n % 2 == 0) ? n + 5 : n + 4;
            QCOMPARE(report.converted, expected);
            QVERIFY(std::equal(original.begin(), original.begin() + expected, back.HexData.begin()));
        }
    }
};

QTEST_APPLESS_MAIN(TestCodec)
#include "test_codec.moc"
