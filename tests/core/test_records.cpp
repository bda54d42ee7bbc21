// Chunk line formatters and the record conversions that feed them.
#include "protocol/checksum.h"
#include "records/conversion.h"
#include "records/formatters.h"
#include "core/testutil.h"

#include <QtTest>

#include <cmath>
#include <numeric>
#include <random>

using morven::ConversionResult;
using morven::Format;
using morven::LineStore;
using morven::Workspace;
using testutil::Bytes;
using testutil::qb;
using Lines = std::vector<std::string>;

Q_DECLARE_METATYPE(morven::Format)
Q_DECLARE_METATYPE(Lines)
Q_DECLARE_METATYPE(std::vector<Bytes>)

namespace {

const std::string kEof = ":00000001FF";
const std::string kExtAddr = ":020000040800F2";

std::string hexText(const Bytes &b)
{
    return testutil::str(testutil::hex(b.data(), b.size(), '\0'));
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// An Intel HEX record line with a correct checksum.
std::string record(const Bytes &data, unsigned address = 0, std::uint8_t type = 0)
{
    Bytes b = cat({{std::uint8_t(data.size()), std::uint8_t(address >> 8), std::uint8_t(address & 255), type}, data});
    b.push_back(std::uint8_t(0u - std::accumulate(b.begin(), b.end(), 0u)));
    return ":" + hexText(b);
}

// Data bytes that tell records apart: first, first+1, ...
Bytes block(std::uint8_t first, std::size_t n = 16)
{
    Bytes b(n);
    std::iota(b.begin(), b.end(), first);
    return b;
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

// The chunk line for a sequence number and data bytes, with its own CRC.
QByteArray chunk(char letter, std::uint64_t seq, const Bytes &data)
{
    Bytes body = cat({{static_cast<std::uint8_t>(seq >> 8 & 255), static_cast<std::uint8_t>(seq & 255),
                          static_cast<std::uint8_t>(data.size())},
        data});
    const unsigned crc = bitwiseCrc(body);
    body.push_back(static_cast<std::uint8_t>(crc & 255));
    body.push_back(static_cast<std::uint8_t>(crc >> 8));
    return qb(std::string(":") + letter + hexText(body) + ";");
}

QList<QByteArray> items(const LineStore &store)
{
    QList<QByteArray> out;
    for (std::size_t i = 0; i < store.size(); ++i)
        out << qb(store.at(i));
    return out;
}

ConversionResult run(const Lines &lines, Format f, Workspace *state = nullptr)
{
    LineStore list1;
    for (const auto &l : lines)
        list1.append(l);
    Workspace local;
    return morven::convertRecords(state ? *state : local, list1, f);
}

// The conversion as the algorithm states it, with 16-byte slots per record and its own parse
// and CRC; valid for lists whose short records end their chunk.
QList<QByteArray> reference(const Lines &list1, Format f)
{
    std::uint8_t hex[129] = {};
    std::uint8_t frame[301] = {};
    int frameLen = 0, k = 0, seq = 1, recordIndex = 0, previousSum = 0;
    QList<QByteArray> out;
    auto print = [&] {
        out << chunk(f == Format::O ? 'O' : 'W', std::uint64_t(seq++), Bytes(frame + 3, frame + 3 + frameLen));
        frameLen = 0;
        std::fill(std::begin(hex), std::end(hex), 0);
        k = 0;
    };
    auto value = [](unsigned char c) -> int {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 55 : c >= 'a' && c <= 'f' ? c - 87 : c;
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
        const int pairs = std::min(128, static_cast<int>(std::nearbyint(double(line.size()) / 2.0))); // ties to even
        for (int i = 1; i <= pairs - 1; ++i)
            hex[i - 1] = static_cast<std::uint8_t>(value(static_cast<unsigned char>(line[2 * i - 1])) * 16
                + value(static_cast<unsigned char>(line[2 * i])));
        const int ll = hex[0];
        if (f == Format::PW) {
            if (recordIndex % 8 == 0)
                previousSum = 0;
            ++recordIndex;
            const int sum = std::accumulate(hex + 4, hex + 4 + ll, 0) % 256;
            if (previousSum >= 17 && previousSum <= 239) {
                const int hi = previousSum / 16, lo = previousSum & 15;
                hex[3 + hi] = static_cast<std::uint8_t>(255 - hex[3 + hi]);
                if (lo != 0)
                    hex[3 + lo] = static_cast<std::uint8_t>((hex[3 + lo] & 15) * 16 + hex[3 + lo] / 16);
            }
            previousSum = sum;
        }
        std::copy(hex + 4, hex + 4 + ll, frame + 3 + 16 * k);
        frameLen += ll;
        if (++k == 8)
            print();
    }
    return out;
}

// Random record lists of the kind the reference covers: 16-byte data records in upper or
// lower case, shorter ones only where they end a chunk, non-data records, short junk lines,
// lines without a colon, stray text after the checksum.
Lines randomList(std::mt19937 &rng)
{
    Lines lines;
    int k = 0, n = 0;
    auto randomData = [&](std::size_t count) {
        Bytes b(count);
        std::generate(b.begin(), b.end(), [&] { return std::uint8_t(rng()); });
        return b;
    };
    auto dataRecord = [&](std::size_t ll) {
        std::string line = record(randomData(ll), unsigned(rng() % 65536));
        if (rng() % 4 == 0)
            for (char &ch : line)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (rng() % 8 == 0) { // any character in the address, the data or the checksum
            const std::size_t at = 3 + rng() % (line.size() - 5);
            line[at < 7 ? at : at + 2] = "Gz ;\xB5"[rng() % 5];
        }
        if (rng() % 8 == 0)
            line += std::string(rng() % 5, "Xx0;\n"[rng() % 5]);
        lines.push_back(line);
        n += int(ll);
        if (++k == 8)
            k = n = 0;
    };
    auto closer = [&] {
        const std::string closers[] = {kEof, record(randomData(2), 0, 4),
            record(randomData(rng() % 20), unsigned(rng() % 65536), 2),
            "X123456" + std::string(1, "0G1"[rng() % 3]) + "1 tail", ":10000003" + std::string(2 + rng() % 10, 'Q')};
        lines.push_back(closers[rng() % 5]);
        if (n > 0)
            k = n = 0;
    };
    const int count = int(rng() % 300);
    for (int i = 0; i < count; ++i) {
        const auto pick = rng() % 100;
        if (pick < 60) {
            dataRecord(16);
        } else if (pick < 68) {
            // A short record is the eighth of its chunk, or a closer follows it.
            const bool eighth = k == 7;
            std::size_t ll = rng() % 16;
            if (!eighth && ll == 0 && n == 0)
                ll = 1 + rng() % 15;
            dataRecord(ll);
            if (!eighth)
                closer();
        } else if (pick < 82) {
            closer();
        } else if (pick < 92) {
            const Bytes bytes = randomData(rng() % 11);
            std::string junk(bytes.begin(), bytes.end());
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

    // FrameData from 00 on (the chunk line example: its own bytes), FrameLen and the line
    // printed; the CRC is printed as given.
    void formatter_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("frameLen");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("chunk line example")
            << QByteArray::fromHex("00010312AB0F99") << 6 << QByteArray(":O00010312AB0FA2AE;");
        QByteArray all(301, 0);
        std::iota(all.begin(), all.end(), char(0));
        const std::pair<int, int> lengths[] = {{0, 0}, {-3, 0}, {1, 1}, {131, 131}, {258, 258}, {301, 301}, {400, 301}};
        for (const auto &[frameLen, printed] : lengths)
            QTest::addRow("%d", frameLen) << all << frameLen << ":O" + all.left(printed).toHex().toUpper() + "A2AE;";
    }

    void formatter()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, frameLen);
        QFETCH(QByteArray, line);
        Workspace ws;
        std::copy(frame.begin(), frame.end(), ws.FrameData.begin());
        ws.FrameLen = static_cast<std::int16_t>(frameLen);
        ws.CrcLo = 0xA2;
        ws.CrcHi = 0xAE;
        ws.OutStr = "an older and much longer line that must go away entirely";
        morven::DatatoStr2(ws);
        QCOMPARE(qb(ws.OutStr), line);
    }

    // ---- conversions ----

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
        const Lines list1
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
        // FrameData is not cleared: beyond the 35 bytes of the chunk it holds what it held.
        QVERIFY(std::all_of(ws.FrameData.begin() + 35, ws.FrameData.end(), [](auto b) { return b == 0xEE; }));
        QCOMPARE(qb(ws.OutStr), line);
        QCOMPARE(qb(ws.LineStr), qb(list1[1])); // the end-of-file record is never parsed
        QCOMPARE(qb(hexText({ws.CrcLo, ws.CrcHi})), line.mid(line.size() - 5, 4));
    }

    // Lists the random lists below cannot produce (closers with nothing pending, lines without a
    // colon and PW changes beyond a short record are among what they do cover), and the data
    // bytes of each ":O" chunk printed.
    void chunks_data()
    {
        QTest::addColumn<Lines>("list1");
        QTest::addColumn<std::vector<Bytes>>("chunks");
        const auto add = [](const char *name, const Lines &list1, const std::vector<Bytes> &chunks) {
            QTest::newRow(name) << list1 << chunks;
        };
        const auto b = [](int first, std::size_t n = 16) { return block(std::uint8_t(first), n); };
        const auto r = [&](int first) { return record(b(first)); };
        const std::string empty = record({});

        add("extended address closes early", {r(0x00), r(0x10), r(0x20), kExtAddr, r(0x30), r(0x40), kEof},
            {b(0, 0x30), b(0x30, 0x20)});
        add("10 characters or fewer: passed over, even data records",
            {r(0), ":00000001F", "0123456789", ":", r(16), ":10000000A", kEof}, {b(0, 32)});
        add("eight empty records: a chunk of no bytes", Lines(8, empty), {{}});
        // The end-of-file record finds no bytes pending and prints nothing; the count of
        // records goes on, so the fifth full record after it is the eighth of the chunk.
        add("closer needs pending bytes", {empty, empty, empty, kEof, r(0), r(16), r(32), r(48), r(64)}, {b(0, 0x50)});
        add("odd data count without checksum pair", {":01000000AA", kEof}, {{0xAA}});
        Lines joined(8, r(0x80));
        joined.insert(joined.end(), {record({0x11, 0x22, 0x33, 0x44}), r(0x55), kEof});
        add("a short record joins the next back to back", joined,
            {cat({b(0x80), b(0x80), b(0x80), b(0x80), b(0x80), b(0x80), b(0x80), b(0x80)}),
                cat({{0x11, 0x22, 0x33, 0x44}, b(0x55)})});
        add("largest record, 123 bytes", {record(Bytes(123, 0x42)), kEof}, {Bytes(123, 0x42)});
        Lines full(7, record(Bytes(32, 0x5A)));
        full.push_back(record(Bytes(31, 0xA5)));
        add("largest chunk, 255 bytes", full, {cat({Bytes(224, 0x5A), Bytes(31, 0xA5)})});
    }

    void chunks()
    {
        QFETCH(Lines, list1);
        QFETCH(std::vector<Bytes>, chunks);
        const ConversionResult r = run(list1, Format::O);
        QVERIFY2(!r.error, r.error ? r.error->message.c_str() : "");
        QList<QByteArray> expected;
        for (const Bytes &data : chunks)
            expected << chunk('O', std::uint64_t(expected.size() + 1), data);
        QCOMPARE(items(r.lines), expected);
    }

    // Records still pending at the end print nothing and stay in the buffers.
    void pendingRecordsStayInTheBuffers()
    {
        Workspace ws;
        const ConversionResult r = run(Lines(15, record(block(0))), Format::O, &ws);
        QCOMPARE(r.lines.size(), std::size_t(1));
        QCOMPARE(int(ws.FrameLen), 7 * 16);
    }

    // The data sum of the first record (only its first byte is not 0) and what it does to the
    // second: byte hi inverted, then byte lo with its nibbles exchanged, for sums 17 .. 239.
    void pwFromPreviousSum_data()
    {
        QTest::addColumn<int>("previousSum");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray same("102132435465768798A9BACBDCEDFE0F");
        QTest::newRow("0: unchanged") << 0 << same;
        QTest::newRow("16: unchanged") << 16 << same;
        QTest::newRow("240: unchanged") << 240 << same;
        QTest::newRow("17: invert, swap 1st") << 17 << QByteArray("FE2132435465768798A9BACBDCEDFE0F");
        QTest::newRow("32: invert 2nd") << 32 << QByteArray("10DE32435465768798A9BACBDCEDFE0F");
        QTest::newRow("51: 3rd both") << 0x33 << QByteArray("1021DC435465768798A9BACBDCEDFE0F");
        QTest::newRow("120: invert 7th, swap 8th") << 0x78 << QByteArray("102132435465897898A9BACBDCEDFE0F");
        QTest::newRow("239: invert 14th, swap 15th") << 239 << QByteArray("102132435465768798A9BACBDC12EF0F");
    }

    void pwFromPreviousSum()
    {
        QFETCH(int, previousSum);
        QFETCH(QByteArray, expected);
        const Bytes first = cat({{static_cast<std::uint8_t>(previousSum)}, Bytes(15, 0)});
        const ConversionResult r
            = run({record(first), record(testutil::bytes("102132435465768798A9BACBDCEDFE0F")), kEof}, Format::PW);
        QVERIFY(!r.error);
        QCOMPARE(items(r.lines), QList<QByteArray>{chunk('W', 1, cat({first, testutil::bytes(expected)}))});
    }

    void matchesReferenceOnRandomLists()
    {
        std::mt19937 rng(20240601);
        std::size_t printed = 0;
        for (int file = 0; file < 300; ++file) {
            const Lines list1 = randomList(rng);
            for (Format f : {Format::O, Format::W, Format::PW}) {
                const ConversionResult r = run(list1, f);
                QVERIFY2(!r.error, r.error ? r.error->message.c_str() : "");
                QCOMPARE(items(r.lines), reference(list1, f));
                printed += r.lines.size();
            }
        }
        QVERIFY(printed > 1000); // the lists really produced lines
    }

    // ---- records that are refused ----

    void refusals_data()
    {
        QTest::addColumn<QByteArray>("badLine");
        QTest::addColumn<QByteArray>("message");

        const std::string base = record(block(0)); // characters 10.. are the data
        auto withChar = [&](std::size_t pos1, char ch) {
            std::string l = base;
            l[pos1 - 1] = ch;
            return qb(l);
        };
        auto says = [](int ll, const char *rest) {
            return "the length field says " + QByteArray::number(ll) + " data byte" + (ll == 1 ? "" : "s") + rest;
        };
        // Other characters count by their code: "1G" is 16 + 71, "X0" 88 * 16 (low 8 bits 128).
        QTest::newRow("G in length") << withChar(3, 'G') << says(87, " but the line holds only 17.");
        QTest::newRow("X in length") << withChar(2, 'X')
                                     << QByteArray("record length 128 is above the limit of 125.");
        QTest::newRow("data missing") << qb(":20000000" + hexText(block(0, 12)))
                                      << says(32, " but the line holds only 12.");
        QTest::newRow("one data byte missing") << QByteArray(":02000000AA") << says(2, " but the line holds only 1.");
        QTest::newRow("even length, no checksum") << QByteArray(
            ":02000000AABB") << says(2, " but the line ends before its checksum, so only 1 of them can be read.");
        QTest::newRow("length 200") << QByteArray(":C800000000")
                                    << QByteArray("record length 200 is above the limit of 125.");
        QTest::newRow("length 126") << qb(":7E000000" + hexText(Bytes(126, 1)) + "00")
                                    << QByteArray("record length 126 is above the limit of 125.");
        QTest::newRow("length 124") << qb(record(Bytes(124, 1))) << says(124, " but one line can carry at most 123.");
        QTest::newRow("length 125") << qb(record(Bytes(125, 1))) << says(125, " but one line can carry at most 123.");
    }

    void refusals()
    {
        QFETCH(QByteArray, badLine);
        QFETCH(QByteArray, message);
        // A full chunk (printed), a pending record, then the bad line at line 10.
        Lines list1;
        for (int i = 0; i < 9; ++i)
            list1.push_back(record(block(std::uint8_t(i))));
        list1.push_back(testutil::str(badLine));
        list1.push_back(kEof);
        for (Format f : {Format::O, Format::W, Format::PW}) {
            const ConversionResult r = run(list1, f);
            QVERIFY(r.error.has_value());
            QCOMPARE(r.error->line, std::size_t(10));
            QCOMPARE(qb(r.error->message), message);
            // The line printed before stays.
            QCOMPARE(items(r.lines), reference(Lines(list1.begin(), list1.begin() + 8), f));
        }
    }

    void chunkOverflowIsRefused()
    {
        Lines list1(8, record(block(0))); // one printed line
        list1.insert(list1.end(), 8, record(Bytes(32, 0x5A))); // the eighth would make N 256
        list1.push_back(kEof);
        const ConversionResult r = run(list1, Format::O);
        QVERIFY(r.error);
        QCOMPARE(r.error->line, std::size_t(16));
        QCOMPARE(qb(r.error->message), QByteArray("this record would make the chunk longer than 255 bytes."));
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
        const Bytes b = block(0);
        QCOMPARE(qb(r.lines.at(124999)), chunk('O', 125000, cat({b, b, b, b, b, b, b, b}))); // 0xE848
    }
};

QTEST_APPLESS_MAIN(TestRecords)
#include "test_records.moc"
