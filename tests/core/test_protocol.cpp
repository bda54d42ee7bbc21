// The record codec and the two checksums on the examples their rules give; fuzz_codec checks
// every other line against a reference.
#include "protocol/checksum.h"
#include "protocol/hexcodec.h"

#include "support/testmain.h"

#include <QTest>

using morven::HexRecord;

namespace {
QByteArray hexDump(const auto &array, std::size_t n)
{
    return QByteArray(reinterpret_cast<const char *>(array.data()), qsizetype(n)).toHex(' ').toUpper();
}
} // namespace

class Protocol : public QObject
{
    Q_OBJECT
private slots:
    // A line and the bytes its parse leaves at the front of HexData (the rest keeps 0xEE).
    void parse_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("even pairs lose the last") << QByteArray(":01020304") << QByteArray("01 02 03");
        QTest::newRow("eof record") << QByteArray(":00000001FF") << QByteArray("00 00 00 01 FF");
        QTest::newRow("0G is 71") << QByteArray(":0G") << QByteArray("47");
    }
    void parse()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, bytes);
        for (auto parse : {&morven::StrtoData, &morven::RectoData}) {
            HexRecord hexData;
            hexData.fill(0xEE);
            const int converted = parse(line.toStdString(), hexData).converted;
            QCOMPARE(hexDump(hexData, std::size_t(converted)), bytes);
            QCOMPARE(hexData[std::size_t(converted)], std::uint8_t(0xEE));
        }
    }

    // HexData from index 0, and what DatatoStr makes of it (empty: refused).
    void format_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("eof") << QByteArray::fromHex("00000001FF") << QByteArray(":00000001FF");
        QTest::newRow("125 refused") << QByteArray("\x7D") << QByteArray();
    }
    void format()
    {
        QFETCH(QByteArray, record);
        QFETCH(QByteArray, text);
        HexRecord hexData{};
        std::copy(record.begin(), record.end(), hexData.begin());
        QCOMPARE(QByteArray::fromStdString(morven::DatatoStr(hexData).value_or("refused")),
            text.isEmpty() ? QByteArray("refused") : text);
    }

    // Bytes and their CRC, low byte first; no bytes give FF FF.
    void crc_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("crc");
        QTest::newRow("123456789") << QByteArray("123456789") << QByteArray("374B");
        QTest::newRow("chunk line example") << QByteArray::fromHex("00010312AB0F") << QByteArray("A2AE");
        QTest::newRow("none") << QByteArray() << QByteArray("FFFF");
    }
    void crc()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, crc);
        const std::uint16_t c
            = morven::CRC16B(std::span(reinterpret_cast<const std::uint8_t *>(data.constData()), std::size_t(data.size())));
        QCOMPARE(QByteArray::number(morven::crcLo(c) * 256 + morven::crcHi(c), 16).rightJustified(4, '0').toUpper(), crc);
    }

    // A record up to its data, and the checksum DataLrc gives for it (-1: refused).
    void lrc_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<int>("checksum");
        QTest::newRow("16 data bytes") << QByteArray("10010000214601360121470136007EFE09D21901") << 0x40;
        QTest::newRow("eof record") << QByteArray("00000001") << 0xFF;
        QTest::newRow("125 refused") << QByteArray("7D") << -1;
    }
    void lrc()
    {
        QFETCH(QByteArray, record);
        QFETCH(int, checksum);
        const QByteArray b = QByteArray::fromHex(record);
        HexRecord hexData;
        hexData.fill(0xEE); // beyond the record: never summed
        std::copy(b.begin(), b.end(), hexData.begin());
        const std::optional<std::uint8_t> lrc = morven::DataLrc(hexData);
        QCOMPARE(lrc ? int(*lrc) : -1, checksum);
    }
};

MORVEN_TEST_CLASS(Protocol)
#include "test_protocol.moc"
