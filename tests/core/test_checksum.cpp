// CRC-16/MODBUS over the frame buffer and the Intel HEX record checksum.
#include "protocol/checksum.h"
#include "core/testutil.h"

#include <QtTest>

#include <random>

using morven::Workspace;

namespace {

// The register walk written out bit by bit, as the check value definition gives it.
std::uint16_t bitwiseCrc(const std::uint8_t *data, std::size_t n)
{
    unsigned r = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        r ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 1) ? (r >> 1) ^ 0xA001 : r >> 1;
    }
    return static_cast<std::uint16_t>(r);
}

} // namespace

class TestChecksum : public QObject
{
    Q_OBJECT

private slots:
    // The bytes in FrameData, the FrameLen given and the CRC, low byte first. Bytes after
    // FrameLen must not count; a FrameLen of 0 or less gives FF FF.
    void crc_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("frameLen");
        QTest::addColumn<int>("lo");
        QTest::addColumn<int>("hi");
        QTest::newRow("123456789") << QByteArray("123456789") << 9 << 0x37 << 0x4B;
        QTest::newRow("abc") << QByteArray("abc") << 3 << 0x49 << 0x57;
        QTest::newRow("01..05") << QByteArray::fromHex("0102030405") << 5 << 0x2A << 0xBB;
        QTest::newRow("chunk line example") << QByteArray::fromHex("00010312AB0F") << 6 << 0xA2 << 0xAE;
        for (int len : {0, -1, -32768})
            QTest::addRow("FrameLen %d: FF FF", len) << QByteArray("123456789") << len << 0xFF << 0xFF;
        // A FrameLen beyond the buffer covers the whole buffer and no more.
        QByteArray all(301, 0);
        for (int i = 0; i < 301; ++i)
            all[i] = char(i * 7 + 3);
        for (int len : {300, 301, 302, 1000, 32767}) {
            const int crc
                = bitwiseCrc(reinterpret_cast<const std::uint8_t *>(all.constData()), std::size_t(std::min(len, 301)));
            QTest::addRow("FrameLen %d of 301", len) << all << len << (crc & 0xFF) << (crc >> 8);
        }
    }

    void crc()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, frameLen);
        QFETCH(int, lo);
        QFETCH(int, hi);
        Workspace ws;
        ws.FrameData.fill(0x5A);
        std::copy(data.begin(), data.end(), ws.FrameData.begin());
        ws.FrameLen = static_cast<std::int16_t>(frameLen);
        ws.CrcLo = 1;
        ws.CrcHi = 2;
        morven::CRC16B(ws);
        QCOMPARE(int(ws.CrcLo), lo);
        QCOMPARE(int(ws.CrcHi), hi);
        if (frameLen == data.size()) {
            const auto *p = reinterpret_cast<const std::uint8_t *>(data.constData());
            QCOMPARE(int(morven::crc16Modbus(p, std::size_t(data.size()))), hi * 256 + lo);
        }
    }

    void tableAgreesWithBitwiseWalk()
    {
        std::mt19937 rng(7);
        std::vector<std::uint8_t> data(301);
        for (int round = 0; round < 500; ++round) {
            for (auto &b : data)
                b = static_cast<std::uint8_t>(rng());
            const std::size_t n = rng() % 302;
            QCOMPARE(int(morven::crc16Modbus(data.data(), n)), int(bitwiseCrc(data.data(), n)));
        }
    }

    // A record from its length byte on, and the checksum DataLrc puts after it (-1: refused,
    // nothing changed).
    void lrc_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<int>("checksum");
        QTest::newRow("16 data bytes") << QByteArray("10 01 00 00 21 46 01 36 01 21 47 01 36 00 7E FE 09 D2 19 01")
                                       << 0x40;
        QTest::newRow("eof record") << QByteArray("00 00 00 01") << 0xFF;
        QTest::newRow("sum 256") << QByteArray("01 00 10 00 EF") << 0x00;
        QTest::newRow("sum 0") << QByteArray("00 00 00 00") << 0x00;
        QTest::newRow("sum 1") << QByteArray("00 00 01 00") << 0xFF;
        QTest::newRow("sum 255") << QByteArray("00 00 00 FF") << 0x01;
        // 124 + 127 ones = 251: the checksum goes into the last byte, HexData[128].
        QTest::newRow("124 fills the buffer") << "7C" + QByteArray("01").repeated(127) << 5;
        for (int n : {125, 128, 255})
            QTest::addRow("%d refused", n) << QByteArray::number(n, 16) << -1;
    }

    void lrc()
    {
        QFETCH(QByteArray, record);
        QFETCH(int, checksum);
        const testutil::Bytes b = testutil::bytes(record);
        Workspace ws;
        ws.HexData.fill(0xEE);
        std::copy(b.begin(), b.end(), ws.HexData.begin());
        auto expected = ws.HexData;
        if (checksum >= 0)
            expected[b.size()] = static_cast<std::uint8_t>(checksum);
        QCOMPARE(morven::DataLrc(ws), checksum >= 0);
        QCOMPARE(testutil::hex(ws.HexData.data(), 129), testutil::hex(expected.data(), 129));
    }
};

QTEST_APPLESS_MAIN(TestChecksum)
#include "test_checksum.moc"
