// The chunk line formatters and the record conversions on the cases their rules name;
// fuzz_listfile (line lists) and fuzz_conversion check everything else against references.
#include "protocol/checksum.h"
#include "records/conversion.h"
#include "records/formatters.h"
#include "support/cliprocess.h"

#include "support/testmain.h"

#include <QTest>

using morven::ConversionResult;
using morven::Format;
using morven::LineStore;
using L = QList<QByteArray>;

Q_DECLARE_METATYPE(morven::Format)

namespace {

L items(const LineStore &store)
{
    L out;
    for (std::size_t i = 0; i < store.size(); ++i)
        out << QByteArray::fromStdString(std::string(store.at(i)));
    return out;
}

LineStore storeOf(const L &lines)
{
    LineStore store;
    for (const QByteArray &l : lines)
        store.append(l.toStdString());
    return store;
}

QByteArray record(int first, int n = 16, quint16 address = 0)
{
    QByteArray data(n, 0);
    for (int i = 0; i < n; ++i)
        data[i] = char(first + i);
    return morven::test::hexRecord(data, address);
}

// A chunk line as the rules print it: letter, chunk number, byte count, data, CRC, ';'.
QByteArray chunk(char letter, int seq, const QByteArray &data)
{
    QByteArray bytes;
    bytes.append(char(seq >> 8)).append(char(seq)).append(char(data.size())).append(data);
    const std::uint16_t crc
        = morven::CRC16B(std::span(reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size())));
    return ":" + QByteArray(1, letter) + (bytes + char(crc & 0xFF) + char(crc >> 8)).toHex().toUpper() + ";";
}

QByteArray run(const L &list1, Format f, L *lines)
{
    const ConversionResult r = morven::convertRecords(storeOf(list1), f);
    *lines = items(r.lines);
    return r.error ? QByteArray::number(r.error->line) + ": " + QByteArray::fromStdString(r.error->message) : QByteArray();
}

} // namespace

class Records : public QObject
{
    Q_OBJECT
private slots:
    void formatter()
    {
        const std::uint8_t frame[] = {0x00, 0x01, 0x03, 0x12, 0xAB, 0x0F};
        QCOMPARE(morven::DatatoStr2(frame), std::string(":O00010312AB0FA2AE;"));
        QCOMPARE(morven::DatatoStr3(frame), std::string(":W00010312AB0FA2AE;"));
        QCOMPARE(morven::DatatoStr2({}), std::string(":OFFFF;"));
    }

    void workedExample_data()
    {
        QTest::addColumn<Format>("format");
        QTest::addColumn<QByteArray>("line");
        const QByteArray data = "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F";
        QTest::newRow("O") << Format::O << ":O000120" + data + "D5E3;";
        QTest::newRow("W") << Format::W << ":W000120" + data + "D5E3;";
        QTest::newRow("PW") << Format::PW
                            << QByteArray(":W000120000102030405060708090A0B0C0D0E0F101112131415E97118191A1B1C1D1E1F63B2;");
    }
    void workedExample()
    {
        QFETCH(Format, format);
        QFETCH(QByteArray, line);
        L lines;
        QCOMPARE(run({record(0), record(16, 16, 0x10), ":00000001FF"}, format, &lines), QByteArray());
        QCOMPARE(lines, L{line});
    }

    // Record lists and the data bytes of each ":O" chunk they print.
    void chunks_data()
    {
        QTest::addColumn<L>("list1");
        QTest::addColumn<L>("chunks"); // data of each line printed, as hex
        const QByteArray eof = ":00000001FF", ext = ":020000040800F2";
        auto hex = [](int first, int n) { return record(first, n).mid(9, 2 * n); };
        QTest::newRow("eight records print at once") << (L(8, record(0)) << eof) << L{hex(0, 16).repeated(8)};
        QTest::newRow("seventeen records: 80, 80, 10")
            << (L(17, record(0)) << eof) << L{hex(0, 16).repeated(8), hex(0, 16).repeated(8), hex(0, 16)};
        QTest::newRow("an address record closes early") << L{record(0), ext, record(0x30), eof} << L{hex(0, 16), hex(0x30, 16)};
        QTest::newRow("255 bytes, the largest chunk") << (L(7, record(1, 32)) << record(1, 31)) << L{hex(1, 32).repeated(7) + hex(1, 31)};
    }
    void chunks()
    {
        QFETCH(L, list1);
        QFETCH(L, chunks);
        L lines, expected;
        QCOMPARE(run(list1, Format::O, &lines), QByteArray());
        for (const QByteArray &data : chunks)
            expected << chunk('O', int(expected.size() + 1), QByteArray::fromHex(data));
        QCOMPARE(lines, expected);
    }

    // The first record's data sum (only its first byte set), and the second record after it.
    void pwScrambling_data()
    {
        QTest::addColumn<int>("previousSum");
        QTest::addColumn<QByteArray>("second");
        const QByteArray same("102132435465768798A9BACBDCEDFE0F");
        QTest::newRow("16: unchanged") << 16 << same;
        QTest::newRow("17: invert, swap 1st") << 17 << QByteArray("FE2132435465768798A9BACBDCEDFE0F");
        QTest::newRow("120: invert 7th, swap 8th") << 0x78 << QByteArray("102132435465897898A9BACBDCEDFE0F");
    }
    void pwScrambling()
    {
        QFETCH(int, previousSum);
        QFETCH(QByteArray, second);
        const QByteArray first = QByteArray(1, char(previousSum)) + QByteArray(15, 0);
        L lines;
        run({morven::test::hexRecord(first), morven::test::hexRecord(QByteArray::fromHex("102132435465768798A9BACBDCEDFE0F")),
                ":00000001FF"},
            Format::PW, &lines);
        QCOMPARE(lines, L{chunk('W', 1, first + QByteArray::fromHex(second))});
    }

    // Where a conversion stops: the line and why; the chunk printed before it stays.
    void refusals_data()
    {
        QTest::addColumn<QByteArray>("bad");
        QTest::addColumn<int>("pending"); // 123-byte records between the printed chunk and the bad line
        QTest::addColumn<QByteArray>("error");
        QTest::newRow("length 126") << ":7E000000" + QByteArray(254, '1') << 0
                                    << QByteArray("9: record length 126 is above the limit of 125.");
        QTest::newRow("X in length: 88 * 16") << QByteArray(":X000000000") << 0
                                              << QByteArray("9: record length 128 is above the limit of 125.");
        QTest::newRow("data missing") << ":20000000" + QByteArray(24, '1') << 0
                                      << QByteArray("9: the length field says 32 data bytes but the line holds only 12.");
        QTest::newRow("even pairs without checksum")
            << QByteArray(":02000000AABB") << 0
            << QByteArray("9: the length field says 2 data bytes but the line ends before its checksum, so only 1 of them can be read.");
        QTest::newRow("124 bytes") << record(1, 124) << 0
                                   << QByteArray("9: the length field says 124 data bytes but one line can carry at most 123.");
        QTest::newRow("chunk past 255") << record(1) << 2
                                        << QByteArray("11: this record would make the chunk longer than 255 bytes.");
    }
    void refusals()
    {
        QFETCH(QByteArray, bad);
        QFETCH(int, pending);
        QFETCH(QByteArray, error);
        const L list1 = L(8, record(0)) + L(pending, record(1, 123)) + L{bad, ":00000001FF"};
        for (Format f : {Format::O, Format::W, Format::PW}) {
            L lines;
            QCOMPARE(run(list1, f, &lines), error);
            QCOMPARE(lines.size(), 1);
        }
    }

    // Chunk numbers wrap from FFFF to 0000 and a list of any length converts.
    void millionRecords()
    {
        const std::string line = record(0).toStdString();
        LineStore list1;
        for (int i = 0; i < 1000000; ++i)
            list1.append(line);
        list1.append(":00000001FF");
        const ConversionResult r = morven::convertRecords(list1, Format::O);
        QCOMPARE(r.lines.size(), std::size_t(125000));
        QCOMPARE(r.lines.at(65534).substr(2, 4), std::string_view("FFFF"));
        QCOMPARE(r.lines.at(65535).substr(2, 4), std::string_view("0000"));
    }
};

MORVEN_TEST_CLASS(Records)
#include "test_records.moc"
