// Chunk line formatters and the record conversions that feed them.
#include "checksum.h"
#include "conversion.h"
#include "formatters.h"
#include "testutil.h"

#include <QtTest>

#include <cmath>
#include <cstdio>
#include <random>

using morven::ConversionResult;
using morven::Format;
using morven::LineStore;
using morven::Workspace;
using testutil::qb;

Q_DECLARE_METATYPE(morven::Format)

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string hexText(const Bytes &b)
{
    std::string out;
    char pair[3];
    for (std::uint8_t v : b) {
        std::snprintf(pair, sizeof pair, "%02X", v);
        out += pair;
    }
    return out;
}

// An Intel HEX record line with a correct checksum.
std::string record(const Bytes &data, unsigned address = 0, std::uint8_t type = 0)
{
    Bytes b{static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
        static_cast<std::uint8_t>(address & 255), type};
    b.insert(b.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (std::uint8_t v : b)
        sum += v;
    b.push_back(static_cast<std::uint8_t>((256 - sum % 256) % 256));
    return ":" + hexText(b);
}

// Sixteen data bytes that tell records apart: first, first+1, ...
Bytes block(std::uint8_t first, std::size_t n = 16)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(first + i);
    return b;
}

const std::string kEof = ":00000001FF";
const std::string kExtAddr = ":020000040800F2";

LineStore listOf(const std::vector<std::string> &lines)
{
    LineStore store;
    for (const auto &l : lines)
        store.append(l);
    return store;
}

QList<QByteArray> items(const LineStore &store)
{
    QList<QByteArray> out;
    for (std::size_t i = 0; i < store.size(); ++i)
        out << qb(store.at(i));
    return out;
}

std::uint16_t bitwiseCrc(const Bytes &b)
{
    unsigned r = 0xFFFF;
    for (std::uint8_t v : b) {
        r ^= v;
        for (int i = 0; i < 8; ++i)
            r = (r & 1) ? (r >> 1) ^ 0xA001 : r >> 1;
    }
    return static_cast<std::uint16_t>(r);
}

// One printed chunk line taken apart. `ok` is false unless the line is well formed: prefix,
// upper-case digit pairs, N matching the length, the CRC (low byte first) matching the bytes.
struct Chunk
{
    bool ok = false;
    char letter = 0;
    int seq = -1;
    int n = -1;
    Bytes data;
};

Chunk decode(std::string_view line)
{
    Chunk c;
    if (line.size() < 13 || line[0] != ':' || line.back() != ';' || line.size() % 2 == 0)
        return c;
    c.letter = line[1];
    Bytes all;
    for (std::size_t i = 2; i + 1 < line.size() - 1; i += 2) {
        auto digit = [](char ch) { return ch >= 'A' ? ch - 'A' + 10 : ch - '0'; };
        for (char ch : {line[i], line[i + 1]})
            if (!((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F')))
                return c;
        all.push_back(static_cast<std::uint8_t>(digit(line[i]) * 16 + digit(line[i + 1])));
    }
    const Bytes body(all.begin(), all.end() - 2);
    const unsigned crc = all[all.size() - 2] | all[all.size() - 1] << 8;
    c.seq = body[0] * 256 + body[1];
    c.n = body[2];
    c.data.assign(body.begin() + 3, body.end());
    c.ok = (c.letter == 'O' || c.letter == 'W') && int(c.data.size()) == c.n && crc == bitwiseCrc(body);
    return c;
}

ConversionResult run(const std::vector<std::string> &lines, Format f, Workspace *state = nullptr)
{
    Workspace local;
    return morven::convertRecords(state ? *state : local, listOf(lines), f);
}

// The conversion as the algorithm states it, with 16-byte slots per record and its own parse
// and CRC; valid for lists whose short records end their chunk.
QList<QByteArray> reference(const std::vector<std::string> &list1, Format f)
{
    std::uint8_t hex[129] = {};
    std::uint8_t frame[301] = {};
    int frameLen = 0, k = 0, seq = 1, recordIndex = 0, previousSum = 0;
    QList<QByteArray> out;
    auto print = [&] {
        frame[1] = static_cast<std::uint8_t>(seq & 255);
        frame[0] = static_cast<std::uint8_t>((seq / 256) & 255);
        ++seq;
        frame[2] = static_cast<std::uint8_t>(frameLen);
        frameLen += 3;
        const Bytes body(frame, frame + frameLen);
        const unsigned crc = bitwiseCrc(body);
        const std::string line = std::string(f == Format::O ? ":O" : ":W") + hexText(body)
            + hexText({static_cast<std::uint8_t>(crc & 255), static_cast<std::uint8_t>(crc >> 8)}) + ";";
        out << qb(line);
        frameLen = 0;
        std::fill(std::begin(hex), std::end(hex), 0);
        k = 0;
    };
    auto value = [](unsigned char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return c;
    };
    for (const std::string &line : list1) {
        if (line.size() <= 10)
            continue;
        if (line[7] != '0' || line[8] != '0') {
            if (frameLen > 0)
                print();
            continue;
        }
        if (line[0] != ':')
            continue;
        int pairs = static_cast<int>(std::nearbyint(double(line.size()) / 2.0)); // ties to even
        if (pairs > 128)
            pairs = 128;
        for (int i = 1; i <= pairs - 1; ++i)
            hex[i - 1] = static_cast<std::uint8_t>(value(static_cast<unsigned char>(line[2 * i - 1])) * 16
                + value(static_cast<unsigned char>(line[2 * i])));
        const int ll = hex[0];
        if (f == Format::PW) {
            if (recordIndex % 8 == 0)
                previousSum = 0;
            ++recordIndex;
            int sum = 0;
            for (int j = 0; j < ll; ++j)
                sum += hex[4 + j];
            sum %= 256;
            if (previousSum >= 17 && previousSum <= 239) {
                const int hi = previousSum / 16, lo = previousSum & 15;
                hex[3 + hi] = static_cast<std::uint8_t>(255 - hex[3 + hi]);
                if (lo != 0)
                    hex[3 + lo] = static_cast<std::uint8_t>((hex[3 + lo] & 15) * 16 + hex[3 + lo] / 16);
            }
            previousSum = sum;
        }
        for (int j = 0; j < ll; ++j) {
            frame[3 + 16 * k + j] = hex[4 + j];
            ++frameLen;
        }
        ++k;
        if (k == 8)
            print();
    }
    return out;
}

// Random record lists of the kind the reference covers: 16-byte data records in upper or
// lower case, shorter ones only where they end a chunk, non-data records, short junk lines,
// lines without a colon, stray text after the checksum.
std::vector<std::string> randomList(std::mt19937 &rng)
{
    std::vector<std::string> lines;
    int k = 0, n = 0;
    auto randomData = [&](std::size_t count) {
        Bytes b(count);
        for (auto &v : b)
            v = static_cast<std::uint8_t>(rng());
        return b;
    };
    auto dataRecord = [&](std::size_t ll) {
        std::string line = record(randomData(ll), unsigned(rng() % 65536));
        if (rng() % 4 == 0)
            for (char &ch : line)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (rng() % 8 == 0)
            line[line.size() - 1 - rng() % 2] = "Gz ;"[rng() % 4]; // checksum
        if (rng() % 8 == 0)
            line += std::string(rng() % 5, "Xx0;\n"[rng() % 5]);
        lines.push_back(line);
        ++k;
        n += int(ll);
        if (k == 8)
            k = n = 0;
    };
    auto closer = [&] {
        switch (rng() % 5) {
        case 0:
            lines.push_back(kEof);
            break;
        case 1:
            lines.push_back(record(randomData(2), 0, 4));
            break;
        case 2:
            lines.push_back(record(randomData(rng() % 20), unsigned(rng() % 65536), 2));
            break;
        case 3:
            lines.push_back("X123456" + std::string(1, "0G1"[rng() % 3]) + "1 tail");
            break;
        default:
            lines.push_back(":10000003" + std::string(2 + rng() % 10, 'Q'));
            break;
        }
        if (n > 0)
            k = n = 0;
    };
    const int count = int(rng() % 300);
    for (int i = 0; i < count; ++i) {
        const auto pick = rng() % 100;
        if (pick < 60) {
            dataRecord(16);
        } else if (pick < 68) {
            std::size_t ll = rng() % 16;
            if (k == 7) {
                dataRecord(ll);
            } else {
                if (ll == 0 && n == 0)
                    ll = 1 + rng() % 15;
                dataRecord(ll);
                closer();
            }
        } else if (pick < 82) {
            closer();
        } else if (pick < 92) {
            std::string junk(rng() % 11, 'x');
            for (char &ch : junk)
                ch = static_cast<char>(rng() % 256);
            if (!junk.empty() && rng() % 2)
                junk[0] = ':';
            lines.push_back(junk);
        } else {
            std::string noColon = "1000000000112233445566"; // "00" at characters 8 and 9
            noColon[0] = "X;0 "[rng() % 4];
            lines.push_back(noColon);
        }
    }
    if (rng() % 2)
        lines.push_back(kEof);
    return lines;
}

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    // ---- line formatters ----

    void formatterExample()
    {
        Workspace ws;
        const Bytes frame = testutil::bytes("00 01 03 12 AB 0F");
        std::copy(frame.begin(), frame.end(), ws.FrameData.begin());
        ws.FrameData[6] = 0x99; // beyond FrameLen
        ws.FrameLen = 6;
        morven::CRC16B(ws);
        ws.OutStr = "an older and much longer line that must go away entirely";
        morven::DatatoStr2(ws);
        QCOMPARE(qb(ws.OutStr), QByteArray(":O00010312AB0FA2AE;"));
        morven::DatatoStr3(ws);
        QCOMPARE(qb(ws.OutStr), QByteArray(":W00010312AB0FA2AE;"));
    }

    void formatterPrintsCrcAsGiven()
    {
        Workspace ws;
        ws.FrameLen = 0;
        ws.CrcLo = 0x05;
        ws.CrcHi = 0xAB;
        morven::DatatoStr2(ws);
        QCOMPARE(qb(ws.OutStr), QByteArray(":O05AB;"));
        ws.FrameLen = -3;
        morven::DatatoStr3(ws);
        QCOMPARE(qb(ws.OutStr), QByteArray(":W05AB;"));
    }

    void formatterLengths_data()
    {
        QTest::addColumn<int>("frameLen");
        QTest::addColumn<int>("length");
        QTest::newRow("1") << 1 << 9;
        QTest::newRow("full chunk 131") << 131 << 269;
        QTest::newRow("largest chunk 258") << 258 << 523;
        QTest::newRow("whole buffer 301") << 301 << 609;
        QTest::newRow("beyond the buffer") << 400 << 609;
    }

    void formatterLengths()
    {
        QFETCH(int, frameLen);
        QFETCH(int, length);
        Workspace ws;
        for (std::size_t i = 0; i < ws.FrameData.size(); ++i)
            ws.FrameData[i] = static_cast<std::uint8_t>(i);
        ws.FrameLen = static_cast<std::int16_t>(frameLen);
        ws.CrcLo = 0xC3;
        ws.CrcHi = 0x3C;
        morven::DatatoStr2(ws);
        QCOMPARE(int(ws.OutStr.size()), length);
        const int printed = (length - 7) / 2;
        // Every byte i prints as its own two digits, in order, then the CRC and ';'.
        Bytes expect(ws.FrameData.begin(), ws.FrameData.begin() + printed);
        QCOMPARE(qb(ws.OutStr), qb(":O" + hexText(expect) + "C33C;"));
    }

    // ---- conversions: the worked example and the chunk rules ----

    void workedExample_data()
    {
        QTest::addColumn<Format>("format");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("O") << Format::O
                           << QByteArray(
                                  ":O000120000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FD5E3;");
        QTest::newRow("W") << Format::W
                           << QByteArray(
                                  ":W000120000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FD5E3;");
        QTest::newRow("PW") << Format::PW
                            << QByteArray(
                                   ":W000120000102030405060708090A0B0C0D0E0F101112131415E97118191A1B1C1D1E1F63B2;");
    }

    void workedExample()
    {
        QFETCH(Format, format);
        QFETCH(QByteArray, line);
        const std::vector<std::string> list1
            = {":10000000000102030405060708090A0B0C0D0E0F78", ":10001000101112131415161718191A1B1C1D1E1F68", kEof};
        // Leftovers of an earlier run must not matter.
        Workspace ws;
        ws.HexData.fill(0xEE);
        ws.FrameData.fill(0xEE);
        ws.FrameLen = 77;
        const ConversionResult r = run(list1, format, &ws);
        QVERIFY(!r.error);
        QCOMPARE(items(r.lines), QList<QByteArray>{line});
        QCOMPARE(int(ws.FrameLen), 0);
        QVERIFY(std::all_of(ws.HexData.begin(), ws.HexData.end(), [](auto b) { return b == 0; }));
        QCOMPARE(qb(ws.OutStr), line);
        QCOMPARE(qb(ws.LineStr), qb(list1[1])); // the end-of-file record is never parsed
        QCOMPARE(qb(hexText({ws.CrcLo, ws.CrcHi})), line.mid(line.size() - 5, 4));
    }

    void emptyListGivesNothing()
    {
        const ConversionResult r = run({}, Format::O);
        QVERIFY(!r.error);
        QVERIFY(r.lines.empty());
    }

    void eightRecordsPrintOnce()
    {
        std::vector<std::string> list1;
        Bytes all;
        for (int i = 0; i < 8; ++i) {
            list1.push_back(record(block(std::uint8_t(i * 16)), unsigned(i * 16)));
            const Bytes b = block(std::uint8_t(i * 16));
            all.insert(all.end(), b.begin(), b.end());
        }
        list1.push_back(kEof);
        const ConversionResult r = run(list1, Format::O);
        QVERIFY(!r.error);
        QCOMPARE(r.lines.size(), std::size_t(1));
        const Chunk c = decode(r.lines.at(0));
        QVERIFY(c.ok);
        QCOMPARE(c.seq, 1);
        QCOMPARE(c.n, 0x80);
        QVERIFY(c.data == all);
        QCOMPARE(r.lines.at(0).size(), std::size_t(269));
    }

    void seventeenRecordsPrintThreeLines()
    {
        std::vector<std::string> list1;
        for (int i = 0; i < 17; ++i)
            list1.push_back(record(block(std::uint8_t(i)), unsigned(i * 16)));
        list1.push_back(kEof);
        const ConversionResult r = run(list1, Format::W);
        QVERIFY(!r.error);
        QCOMPARE(r.lines.size(), std::size_t(3));
        const int seqs[] = {1, 2, 3};
        const int counts[] = {0x80, 0x80, 0x10};
        for (int i = 0; i < 3; ++i) {
            const Chunk c = decode(r.lines.at(std::size_t(i)));
            QVERIFY(c.ok);
            QCOMPARE(c.letter, 'W');
            QCOMPARE(c.seq, seqs[i]);
            QCOMPARE(c.n, counts[i]);
            QCOMPARE(qb(r.lines.at(std::size_t(i))).mid(2, 6),
                QByteArray::number(seqs[i]).rightJustified(4, '0') + QByteArray::number(counts[i], 16).toUpper());
        }
        QVERIFY(decode(r.lines.at(2)).data == block(16));
    }

    void pendingRecordsWithoutCloserPrintNothing()
    {
        for (int count : {1, 7, 15}) {
            std::vector<std::string> list1;
            for (int i = 0; i < count; ++i)
                list1.push_back(record(block(std::uint8_t(i))));
            Workspace ws;
            const ConversionResult r = run(list1, Format::O, &ws);
            QVERIFY(!r.error);
            QCOMPARE(r.lines.size(), std::size_t(count / 8));
            QCOMPARE(int(ws.FrameLen), (count % 8) * 16); // what is left unprinted
        }
    }

    void extendedAddressClosesEarly()
    {
        const std::vector<std::string> list1 = {record(block(0x00)), record(block(0x10)), record(block(0x20)), kExtAddr,
            record(block(0x30)), record(block(0x40)), kEof};
        const ConversionResult r = run(list1, Format::O);
        QVERIFY(!r.error);
        QCOMPARE(r.lines.size(), std::size_t(2));
        const Chunk first = decode(r.lines.at(0));
        const Chunk second = decode(r.lines.at(1));
        QVERIFY(first.ok && second.ok);
        QCOMPARE(first.seq, 1);
        QCOMPARE(first.n, 0x30);
        QVERIFY(first.data == block(0x00, 0x30));
        QCOMPARE(second.seq, 2);
        QCOMPARE(second.n, 0x20);
        QVERIFY(second.data == block(0x30, 0x20)); // starts again at the front
    }

    void nonDataRecordWithNothingPendingPrintsNothing()
    {
        const ConversionResult r = run({kExtAddr, kEof, record(block(1)), kExtAddr, kExtAddr, kEof}, Format::O);
        QVERIFY(!r.error);
        QCOMPARE(r.lines.size(), std::size_t(1));
        QCOMPARE(decode(r.lines.at(0)).n, 16);
    }

    void shortLinesNeverClose()
    {
        const ConversionResult r = run(
            {record(block(0)), ":00000001F", "0123456789", ":", record(block(16)), ":10000000A", kEof}, Format::O);
        QVERIFY(!r.error); // a 10-character data record is passed over, not refused
        QCOMPARE(r.lines.size(), std::size_t(1));
        QCOMPARE(decode(r.lines.at(0)).n, 0x20);
    }

    void linesWithoutColon()
    {
        // Eleven characters or more: "00" at characters 8 and 9 means ignore, anything else closes.
        const ConversionResult ignored = run({record(block(0)), "ABCDEFG00XY", record(block(16)), kEof}, Format::O);
        QVERIFY(!ignored.error);
        QCOMPARE(ignored.lines.size(), std::size_t(1));
        QCOMPARE(decode(ignored.lines.at(0)).n, 0x20);

        const ConversionResult closed = run({record(block(0)), "ABCDEFG01XY", record(block(16)), kEof}, Format::O);
        QVERIFY(!closed.error);
        QCOMPARE(closed.lines.size(), std::size_t(2));
        QCOMPARE(decode(closed.lines.at(0)).n, 0x10);
        QCOMPARE(decode(closed.lines.at(1)).seq, 2);
    }

    void addressesPlayNoPart()
    {
        const ConversionResult r = run(
            {record(block(0xA0), 0x8000), record(block(0x10), 0x0000), record(block(0x50), 0x1230), kEof}, Format::O);
        QVERIFY(!r.error);
        Bytes expect = block(0xA0);
        for (auto b : {block(0x10), block(0x50)})
            expect.insert(expect.end(), b.begin(), b.end());
        QVERIFY(decode(r.lines.at(0)).data == expect);
    }

    void emptyRecordsCountTowardsEight()
    {
        // Seven full records and an empty one: the empty one is the eighth and prints the chunk.
        std::vector<std::string> list1;
        for (int i = 0; i < 7; ++i)
            list1.push_back(record(block(std::uint8_t(i * 16))));
        list1.push_back(record({}));
        list1.push_back(record(block(0xF0)));
        const ConversionResult r = run(list1, Format::O);
        QVERIFY(!r.error);
        QCOMPARE(r.lines.size(), std::size_t(1));
        QCOMPARE(decode(r.lines.at(0)).n, 0x70);

        // Eight empty records: a chunk of no data bytes.
        const ConversionResult empty = run(std::vector<std::string>(8, ":0000000000"), Format::O);
        QVERIFY(!empty.error);
        QCOMPARE(empty.lines.size(), std::size_t(1));
        QCOMPARE(qb(empty.lines.at(0)).left(8), QByteArray(":O000100"));
        QVERIFY(decode(empty.lines.at(0)).ok);
        QCOMPARE(empty.lines.at(0).size(), std::size_t(13));
    }

    void closerNeedsPendingBytes()
    {
        // Empty records leave N at 0, so the end-of-file record prints nothing and the count of
        // records goes on: the fifth full record after it is the eighth of the chunk.
        std::vector<std::string> list1(3, record({}));
        list1.push_back(kEof);
        for (int i = 0; i < 5; ++i)
            list1.push_back(record(block(std::uint8_t(i * 16))));
        const ConversionResult r = run(list1, Format::O);
        QVERIFY(!r.error);
        QCOMPARE(r.lines.size(), std::size_t(1));
        const Chunk c = decode(r.lines.at(0));
        QCOMPARE(c.n, 0x50);
        QVERIFY(c.data == block(0, 0x50));
    }

    void frameBufferIsNotClearedYetNoStaleBytePrinted()
    {
        std::vector<std::string> list1;
        for (int i = 0; i < 8; ++i)
            list1.push_back(record(Bytes(16, 0xAA)));
        // A short record, then a full one: they join back to back.
        list1.push_back(record({0x11, 0x22, 0x33, 0x44}));
        list1.push_back(record(Bytes(16, 0x55)));
        list1.push_back(kEof);
        Workspace ws;
        const ConversionResult r = run(list1, Format::O, &ws);
        QVERIFY(!r.error);
        QCOMPARE(r.lines.size(), std::size_t(2));
        const Chunk second = decode(r.lines.at(1));
        QVERIFY(second.ok);
        QCOMPARE(second.n, 20);
        Bytes expect{0x11, 0x22, 0x33, 0x44};
        expect.insert(expect.end(), 16, 0x55);
        QVERIFY(second.data == expect);
        // The first chunk's bytes are still in the buffer behind the second one.
        for (std::size_t i = 3 + 20; i < 3 + 128; ++i)
            QCOMPARE(int(ws.FrameData[i]), 0xAA);
    }

    void formatsDifferOnlyInLetter()
    {
        std::mt19937 rng(3);
        const std::vector<std::string> list1 = randomList(rng);
        const ConversionResult o = run(list1, Format::O);
        const ConversionResult w = run(list1, Format::W);
        QCOMPARE(o.lines.size(), w.lines.size());
        for (std::size_t i = 0; i < o.lines.size(); ++i) {
            QByteArray line = qb(o.lines.at(i));
            line[1] = 'W';
            QCOMPARE(qb(w.lines.at(i)), line);
        }
    }

    void matchesReferenceOnRandomLists()
    {
        std::mt19937 rng(20240601);
        std::size_t printed = 0;
        for (int file = 0; file < 300; ++file) {
            const std::vector<std::string> list1 = randomList(rng);
            for (Format f : {Format::O, Format::W, Format::PW}) {
                const ConversionResult r = run(list1, f);
                QVERIFY2(!r.error, r.error ? r.error->message.c_str() : "");
                QCOMPARE(items(r.lines), reference(list1, f));
                printed += r.lines.size();
            }
        }
        QVERIFY(printed > 1000); // the lists really produced lines
    }

    // ---- PW scrambling ----

    void pwFromPreviousSum_data()
    {
        QTest::addColumn<int>("previousSum");
        QTest::addColumn<QByteArray>("expected"); // the second record's 16 data bytes
        // Second record: 10 21 32 43 54 65 76 87 98 A9 BA CB DC ED FE 0F
        QTest::newRow("16: unchanged") << 16 << QByteArray("102132435465768798A9BACBDCEDFE0F");
        QTest::newRow("240: unchanged") << 240 << QByteArray("102132435465768798A9BACBDCEDFE0F");
        QTest::newRow("0: unchanged") << 0 << QByteArray("102132435465768798A9BACBDCEDFE0F");
        QTest::newRow("32: invert 2nd") << 32 << QByteArray("10DE32435465768798A9BACBDCEDFE0F");
        QTest::newRow("17: invert, swap 1st") << 17 << QByteArray("FE2132435465768798A9BACBDCEDFE0F");
        QTest::newRow("51: 3rd both") << 0x33 << QByteArray("1021DC435465768798A9BACBDCEDFE0F");
        QTest::newRow("239: invert 14th, swap 15th") << 239 << QByteArray("102132435465768798A9BACBDC12EF0F");
        QTest::newRow("120: invert 7th, swap 8th") << 0x78 << QByteArray("102132435465897898A9BACBDCEDFE0F");
    }

    void pwFromPreviousSum()
    {
        QFETCH(int, previousSum);
        QFETCH(QByteArray, expected);
        Bytes first(16, 0);
        first[0] = static_cast<std::uint8_t>(previousSum & 255);
        const Bytes second = testutil::bytes("10 21 32 43 54 65 76 87 98 A9 BA CB DC ED FE 0F");
        const ConversionResult r = run({record(first), record(second), kEof}, Format::PW);
        QVERIFY(!r.error);
        const Chunk c = decode(r.lines.at(0));
        QVERIFY(c.ok);
        QVERIFY(Bytes(c.data.begin(), c.data.begin() + 16) == first); // the first record never changes
        QCOMPARE(qb(hexText(Bytes(c.data.begin() + 16, c.data.end()))), expected);
    }

    void pwChangeBeyondRecordHasNoEffect()
    {
        Bytes first(16, 0);
        first[0] = 0x78; // would change data bytes 7 and 8
        const ConversionResult r = run({record(first), record({1, 2, 3, 4}), kEof}, Format::PW);
        QVERIFY(!r.error);
        const Chunk c = decode(r.lines.at(0));
        QCOMPARE(c.n, 20);
        QVERIFY(Bytes(c.data.begin() + 16, c.data.end()) == Bytes({1, 2, 3, 4}));
    }

    void pwSumIsTakenBeforeScrambling()
    {
        // Record 1 sums to 0x20: record 2 gets its 2nd byte inverted. Record 2 as parsed sums to
        // 0x11 (after scrambling it would not), so record 3 gets its 1st byte inverted and swapped.
        Bytes r1(16, 0);
        r1[0] = 0x20;
        Bytes r2(16, 0);
        r2[0] = 0x11;
        const Bytes r3 = block(0x30);
        const ConversionResult r = run({record(r1), record(r2), record(r3), kEof}, Format::PW);
        QVERIFY(!r.error);
        const Chunk c = decode(r.lines.at(0));
        Bytes expect2 = r2;
        expect2[1] = 0xFF;
        Bytes expect3 = r3;
        expect3[0] = 0xFC; // 255 - 0x30 = 0xCF, nibbles exchanged
        QVERIFY(Bytes(c.data.begin() + 16, c.data.begin() + 32) == expect2);
        QVERIFY(Bytes(c.data.begin() + 32, c.data.end()) == expect3);
    }

    void pwEveryEighthRecordOfTheRunIsUntouched()
    {
        // Every record sums to 0x23 (so it would change the next one: invert the 2nd data byte,
        // swap the 3rd). An extended address record after record 3 closes a chunk early; the
        // groups of eight go on counting over the whole run regardless.
        Bytes data(16, 0x01);
        data[0] = 0x14;
        Bytes changed = data;
        changed[1] = 0xFE;
        changed[2] = 0x10;
        std::vector<std::string> list1;
        for (int i = 1; i <= 17; ++i) {
            list1.push_back(record(data));
            if (i == 3)
                list1.push_back(kExtAddr);
        }
        list1.push_back(kEof);
        const ConversionResult r = run(list1, Format::PW);
        QVERIFY(!r.error);
        QCOMPARE(r.lines.size(), std::size_t(3)); // records 1-3, 4-11, 12-17
        std::vector<Bytes> records;
        for (std::size_t l = 0; l < 3; ++l) {
            const Chunk c = decode(r.lines.at(l));
            QVERIFY(c.ok);
            for (std::size_t off = 0; off < c.data.size(); off += 16)
                records.emplace_back(c.data.begin() + std::ptrdiff_t(off), c.data.begin() + std::ptrdiff_t(off) + 16);
        }
        QCOMPARE(records.size(), std::size_t(17));
        for (std::size_t i = 0; i < 17; ++i) {
            const int number = int(i) + 1;
            const bool untouched = number % 8 == 1;
            QVERIFY2(records[i] == (untouched ? data : changed), qPrintable(QString("record %1").arg(number)));
        }
    }

    void pwWithSmallSumsEqualsW()
    {
        std::vector<std::string> list1;
        for (int i = 0; i < 20; ++i) {
            Bytes b(16, 0);
            b[i % 16] = static_cast<std::uint8_t>(i % 3 == 0 ? 16 : (i % 3 == 1 ? 0 : 0xF5));
            list1.push_back(record(b));
        }
        list1.push_back(kEof);
        QCOMPARE(items(run(list1, Format::PW).lines), items(run(list1, Format::W).lines));
    }

    // ---- records that are refused ----

    void refusals_data()
    {
        QTest::addColumn<QByteArray>("badLine");
        QTest::addColumn<QByteArray>("message");

        std::string base = record(block(0)); // characters 10.. are the data
        auto withChar = [&](std::size_t pos1, char ch) {
            std::string l = base;
            l[pos1 - 1] = ch;
            return qb(l);
        };
        QTest::newRow("G in data") << withChar(16, 'G')
                                   << QByteArray("Line 10: 'G' (character 16) is not a hexadecimal digit.");
        QTest::newRow("X in length") << withChar(2, 'X')
                                     << QByteArray("Line 10: 'X' (character 2) is not a hexadecimal digit.");
        QTest::newRow("g in address") << withChar(5, 'g')
                                      << QByteArray("Line 10: 'g' (character 5) is not a hexadecimal digit.");
        QTest::newRow("blank in last data byte")
            << withChar(41, ' ') << QByteArray("Line 10: ' ' (character 41) is not a hexadecimal digit.");
        QTest::newRow("control byte") << withChar(
            11, '\x01') << QByteArray("Line 10: the byte 0x01 (character 11) is not a hexadecimal digit.");
        QTest::newRow("high byte") << withChar(12, '\xB5')
                                   << QByteArray("Line 10: the byte 0xB5 (character 12) is not a hexadecimal digit.");
        QTest::newRow("data missing") << qb(":20000000"
            + hexText(block(
                0, 12))) << QByteArray("Line 10: the length field says 32 data bytes but the line holds only 12.");
        QTest::newRow("one data byte missing") << QByteArray(
            ":02000000AA") << QByteArray("Line 10: the length field says 2 data bytes but the line holds only 1.");
        QTest::newRow("even length, no checksum")
            << QByteArray(":02000000AABB")
            << QByteArray("Line 10: the length field says 2 data bytes but the line ends before its checksum, so only "
                          "1 of them can be read.");
        QTest::newRow("length 200") << QByteArray(":C800000000")
                                    << QByteArray("Line 10: record length 200 is above the limit of 125.");
        QTest::newRow("length 126") << qb(":7E000000" + hexText(Bytes(126, 1)) + "00")
                                    << QByteArray("Line 10: record length 126 is above the limit of 125.");
        QTest::newRow("length 124") << qb(record(Bytes(124,
            1))) << QByteArray("Line 10: the length field says 124 data bytes but one line can carry at most 123.");
        QTest::newRow("length 125") << qb(record(Bytes(125,
            1))) << QByteArray("Line 10: the length field says 125 data bytes but one line can carry at most 123.");
    }

    void refusals()
    {
        QFETCH(QByteArray, badLine);
        QFETCH(QByteArray, message);
        // A full chunk (printed), a pending record, then the bad line at line 10.
        std::vector<std::string> list1;
        for (int i = 0; i < 9; ++i)
            list1.push_back(record(block(std::uint8_t(i))));
        list1.push_back(testutil::str(badLine));
        list1.push_back(kEof);
        for (Format f : {Format::O, Format::W, Format::PW}) {
            const ConversionResult r = run(list1, f);
            QVERIFY(r.error.has_value());
            QCOMPARE(r.error->line, std::size_t(10));
            QCOMPARE(qb(r.error->message), message);
            QCOMPARE(r.lines.size(), std::size_t(1)); // the line printed before stays
            QCOMPARE(items(r.lines), reference(std::vector<std::string>(list1.begin(), list1.begin() + 8), f));
        }
    }

    void refusalOnFirstLine()
    {
        const ConversionResult r = run({":1000000000Z102030405060708090A0B0C0D0E0F78", kEof}, Format::O);
        QVERIFY(r.error);
        QCOMPARE(r.error->line, std::size_t(1));
        QVERIFY(r.lines.empty());
    }

    void chunkOverflowIsRefused()
    {
        std::vector<std::string> list1;
        for (int i = 0; i < 8; ++i)
            list1.push_back(record(block(0))); // one printed line
        for (int i = 0; i < 7; ++i)
            list1.push_back(record(Bytes(32, 0x5A))); // N = 224
        list1.push_back(record(Bytes(32, 0x5A))); // would be 256
        list1.push_back(kEof);
        const ConversionResult r = run(list1, Format::O);
        QVERIFY(r.error);
        QCOMPARE(r.error->line, std::size_t(16));
        QCOMPARE(qb(r.error->message), QByteArray("Line 16: this record would make the chunk longer than 255 bytes."));
        QCOMPARE(r.lines.size(), std::size_t(1));
    }

    // ---- records that are accepted ----

    void largestRecordsAndChunksConvert()
    {
        const ConversionResult big = run({record(Bytes(123, 0x42)), kEof}, Format::O);
        QVERIFY(!big.error);
        QCOMPARE(big.lines.size(), std::size_t(1));
        QCOMPARE(decode(big.lines.at(0)).n, 123);
        QVERIFY(decode(big.lines.at(0)).data == Bytes(123, 0x42));

        std::vector<std::string> list1(7, record(Bytes(32, 0x5A)));
        list1.push_back(record(Bytes(31, 0xA5))); // N = 255 exactly
        const ConversionResult full = run(list1, Format::W);
        QVERIFY(!full.error);
        QCOMPARE(full.lines.size(), std::size_t(1));
        QCOMPARE(full.lines.at(0).size(), std::size_t(523));
        const Chunk c = decode(full.lines.at(0));
        QVERIFY(c.ok);
        QCOMPARE(c.n, 255);
        Bytes expect(224, 0x5A);
        expect.insert(expect.end(), 31, 0xA5);
        QVERIFY(c.data == expect);
    }

    void checksumAndTailAreNotExamined()
    {
        const std::string clean = record(block(0x40));
        std::string badSum = clean;
        badSum[badSum.size() - 2] = 'Z';
        badSum[badSum.size() - 1] = '\xFF';
        std::string lower = clean;
        for (char &ch : lower)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        const QList<QByteArray> expected = items(run({clean, kEof}, Format::O).lines);
        QCOMPARE(expected.size(), 1);
        QCOMPARE(items(run({badSum, kEof}, Format::O).lines), expected);
        QCOMPARE(items(run({clean + " ; trailing words\n", kEof}, Format::O).lines), expected);
        QCOMPARE(items(run({lower, kEof}, Format::O).lines), expected);
        // An odd data count converts without the checksum pair being there.
        const ConversionResult r = run({":01000000AA", kEof}, Format::O);
        QVERIFY(!r.error);
        QVERIFY(decode(r.lines.at(0)).data == Bytes{0xAA});
    }

    void noDataRecordIsRefusedForItsContent()
    {
        // Only data records are checked: others just close the chunk, whatever they hold.
        const ConversionResult r = run({record(block(0)), ":ZZZZZZZ01 not hex at all", kEof}, Format::O);
        QVERIFY(!r.error);
        QCOMPARE(r.lines.size(), std::size_t(1));
    }

    // ---- large lists ----

    void millionRecordsAndSequenceWrap()
    {
        const std::string line = record(block(0));
        LineStore list1;
        list1.reserve(1000001, 1000001 * line.size());
        for (int i = 0; i < 1000000; ++i)
            list1.append(line);
        list1.append(kEof);
        Workspace ws;
        const ConversionResult r = morven::convertRecords(ws, list1, Format::O);
        QVERIFY(!r.error);
        QCOMPARE(r.lines.size(), std::size_t(125000));
        auto seqText = [&](std::size_t i) { return qb(r.lines.at(i)).mid(2, 4); };
        QCOMPARE(seqText(0), QByteArray("0001"));
        QCOMPARE(seqText(255), QByteArray("0100"));
        QCOMPARE(seqText(65534), QByteArray("FFFF"));
        QCOMPARE(seqText(65535), QByteArray("0000")); // number 65536: printed as its low 16 bits
        QCOMPARE(seqText(65536), QByteArray("0001"));
        QCOMPARE(seqText(124999), QByteArray("E848")); // 125000 - 65536
        QVERIFY(decode(r.lines.at(124999)).ok);
    }
};

QTEST_APPLESS_MAIN(TestRecords)
#include "test_records.moc"
