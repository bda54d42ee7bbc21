// The record codec and the two checksums on the examples their rules give; fuzz_codec checks
// every other line against a reference.
#include "protocol/checksum.h"
#include "protocol/hexcodec.h"

#include "support/testmain.h"

#include <QtTest>

using morven::Workspace;

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
        QTest::newRow("no colon") << QByteArray("0102") << QByteArray();
        QTest::newRow(":0") << QByteArray(":0") << QByteArray();
        QTest::newRow(":01") << QByteArray(":01") << QByteArray("01");
        QTest::newRow("even pairs lose the last") << QByteArray(":01020304") << QByteArray("01 02 03");
        QTest::newRow("eof record") << QByteArray(":00000001FF") << QByteArray("00 00 00 01 FF");
        QTest::newRow("checksum not reached") << QByteArray(":0100000041BE") << QByteArray("01 00 00 00 41");
        QTest::newRow("cases mix") << QByteArray(":0a0B0c") << QByteArray("0A 0B 0C");
        QTest::newRow("0G is 71") << QByteArray(":0G") << QByteArray("47");
        QTest::newRow("G0 keeps its low 8 bits") << QByteArray(":G0") << QByteArray("70");
        const QByteArray digits = QByteArray("0123456789ABCDEF").repeated(19).left(300);
        QTest::newRow("300 digits: 127 bytes") << ":" + digits << QByteArray::fromHex(digits.left(254)).toHex(' ').toUpper();
    }
    void parse()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, bytes);
        for (auto parse : {&morven::StrtoData, &morven::RectoData}) {
            Workspace ws;
            ws.HexData.fill(0xEE);
            ws.LineStr = line.toStdString();
            const int converted = parse(ws).converted;
            QCOMPARE(hexDump(ws.HexData, std::size_t(converted)), bytes);
            QCOMPARE(ws.HexData[std::size_t(converted)], std::uint8_t(0xEE));
        }
    }

    // HexData from index 0, and what DatatoStr makes of it (empty: refused, OutStr kept).
    void format_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("eof") << QByteArray::fromHex("00000001FF") << QByteArray(":00000001FF");
        QTest::newRow("upper case, zeros kept") << QByteArray::fromHex("010ABC00AB05") << QByteArray(":010ABC00AB05");
        QTest::newRow("124 reaches the last byte") << "\x7C" + QByteArray(128, '\x11') << ":7C" + QByteArray(256, '1');
        QTest::newRow("125 refused") << QByteArray("\x7D") << QByteArray();
    }
    void format()
    {
        QFETCH(QByteArray, record);
        QFETCH(QByteArray, text);
        Workspace ws;
        std::copy(record.begin(), record.end(), ws.HexData.begin());
        ws.OutStr = "kept";
        QCOMPARE(morven::DatatoStr(ws), !text.isEmpty());
        QCOMPARE(QByteArray::fromStdString(ws.OutStr), text.isEmpty() ? QByteArray("kept") : text);
    }

    // FrameData, FrameLen and the CRC low byte first; a FrameLen of 0 or less gives FF FF and one
    // past the buffer covers the buffer.
    void crc_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("frameLen");
        QTest::addColumn<QByteArray>("crc");
        QTest::newRow("123456789") << QByteArray("123456789") << 9 << QByteArray("374B");
        QTest::newRow("abc") << QByteArray("abc") << 3 << QByteArray("4957");
        QTest::newRow("01..05") << QByteArray::fromHex("0102030405") << 5 << QByteArray("2ABB");
        QTest::newRow("chunk line example") << QByteArray::fromHex("00010312AB0F") << 6 << QByteArray("A2AE");
        QTest::newRow("only FrameLen bytes count") << QByteArray("abcdef") << 3 << QByteArray("4957");
        QTest::newRow("0") << QByteArray("abc") << 0 << QByteArray("FFFF");
        QTest::newRow("negative") << QByteArray("abc") << -32768 << QByteArray("FFFF");

    }
    void crc()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, frameLen);
        QFETCH(QByteArray, crc);
        Workspace ws;
        std::copy(data.begin(), data.end(), ws.FrameData.begin());
        ws.FrameLen = std::int16_t(frameLen);
        morven::CRC16B(ws);
        QCOMPARE(QByteArray::number(ws.CrcLo * 256 + ws.CrcHi, 16).rightJustified(4, '0').toUpper(), crc);
    }

    // A FrameLen past the buffer covers the whole buffer and no more.
    void crcStopsAtTheBuffersEnd()
    {
        QList<int> crcs;
        for (int frameLen : {300, 301, 32767}) {
            Workspace ws;
            ws.FrameData.fill(0x5A);
            ws.FrameLen = std::int16_t(frameLen);
            morven::CRC16B(ws);
            crcs << ws.CrcLo * 256 + ws.CrcHi;
        }
        QVERIFY(crcs[0] != crcs[1]);
        QCOMPARE(crcs[2], crcs[1]);
    }

    // A record up to its data, and the checksum DataLrc puts after it (-1: refused, unchanged).
    void lrc_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<int>("checksum");
        QTest::newRow("16 data bytes") << QByteArray("10010000214601360121470136007EFE09D21901") << 0x40;
        QTest::newRow("eof record") << QByteArray("00000001") << 0xFF;
        QTest::newRow("sum 256") << QByteArray("01001000EF") << 0x00;
        QTest::newRow("sum 255") << QByteArray("000000FF") << 0x01;
        QTest::newRow("124 fills the buffer") << "7C" + QByteArray("01").repeated(127) << 5;
        QTest::newRow("125 refused") << QByteArray("7D") << -1;
    }
    void lrc()
    {
        QFETCH(QByteArray, record);
        QFETCH(int, checksum);
        const QByteArray b = QByteArray::fromHex(record);
        Workspace ws;
        ws.HexData.fill(0xEE);
        std::copy(b.begin(), b.end(), ws.HexData.begin());
        auto expected = ws.HexData;
        if (checksum >= 0)
            expected[std::size_t(b.size())] = std::uint8_t(checksum);
        QCOMPARE(morven::DataLrc(ws), checksum >= 0);
        QCOMPARE(hexDump(ws.HexData, 129), hexDump(expected, 129));
    }
};

MORVEN_TEST_CLASS(Protocol)
#include "test_protocol.moc"
