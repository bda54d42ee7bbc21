// CRC-16/MODBUS over the frame buffer and the Intel HEX record checksum.
#include "checksum.h"
#include "testutil.h"

#include <QtTest>

#include <cstring>
#include <numeric>
#include <random>

using morven::Workspace;

namespace {

// The register walk written out bit by bit, as the check value definition gives it; the
// library's table must agree with it everywhere.
std::uint16_t bitwiseCrc(const std::uint8_t *data, std::size_t n)
{
    std::uint16_t r = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        r = static_cast<std::uint16_t>(r ^ data[i]);
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = (r & 1) != 0;
            r = static_cast<std::uint16_t>(r >> 1);
            if (carry)
                r = static_cast<std::uint16_t>(r ^ 0xA001);
        }
    }
    return r;
}

Workspace frame(const std::vector<std::uint8_t> &bytes)
{
    Workspace ws;
    std::copy(bytes.begin(), bytes.end(), ws.FrameData.begin());
    ws.FrameLen = static_cast<std::int16_t>(bytes.size());
    return ws;
}

std::vector<std::uint8_t> ascii(const char *s)
{
    return std::vector<std::uint8_t>(s, s + std::strlen(s));
}

} // namespace

class TestChecksum : public QObject
{
    Q_OBJECT

private slots:
    void crcCheckValues_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("lo");
        QTest::addColumn<int>("hi");
        QTest::newRow("123456789") << QByteArray("123456789") << 0x37 << 0x4B;
        QTest::newRow("abc") << QByteArray("abc") << 0x49 << 0x57;
        QTest::newRow("01..05") << QByteArray::fromHex("0102030405") << 0x2A << 0xBB;
        QTest::newRow("chunk line example") << QByteArray::fromHex("00010312AB0F") << 0xA2 << 0xAE;
    }

    void crcCheckValues()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, lo);
        QFETCH(int, hi);
        Workspace ws = frame(std::vector<std::uint8_t>(data.begin(), data.end()));
        // Bytes after FrameLen must not count.
        ws.FrameData[static_cast<std::size_t>(data.size())] = 0x5A;
        morven::CRC16B(ws);
        QCOMPARE(int(ws.CrcLo), lo);
        QCOMPARE(int(ws.CrcHi), hi);
        const auto *p = reinterpret_cast<const std::uint8_t *>(data.constData());
        QCOMPARE(int(morven::crc16Modbus(p, static_cast<std::size_t>(data.size()))), hi * 256 + lo);
    }

    void emptyFrameGivesFFFF_data()
    {
        QTest::addColumn<int>("frameLen");
        QTest::newRow("0") << 0;
        QTest::newRow("-1") << -1;
        QTest::newRow("-32768") << -32768;
    }

    void emptyFrameGivesFFFF()
    {
        QFETCH(int, frameLen);
        Workspace ws = frame(ascii("123456789"));
        ws.FrameLen = static_cast<std::int16_t>(frameLen);
        ws.CrcLo = 1;
        ws.CrcHi = 2;
        morven::CRC16B(ws);
        QCOMPARE(int(ws.CrcLo), 0xFF);
        QCOMPARE(int(ws.CrcHi), 0xFF);
    }

    void frameLenBeyondBufferCoversWholeBufferOnly()
    {
        Workspace ws;
        for (std::size_t i = 0; i < ws.FrameData.size(); ++i)
            ws.FrameData[i] = static_cast<std::uint8_t>(i * 7 + 3);
        const std::uint16_t whole = bitwiseCrc(ws.FrameData.data(), 301);
        for (int len : {301, 302, 1000, 32767}) {
            ws.FrameLen = static_cast<std::int16_t>(len);
            morven::CRC16B(ws);
            QCOMPARE(int(ws.CrcLo | ws.CrcHi << 8), int(whole));
        }
        ws.FrameLen = 300;
        morven::CRC16B(ws);
        QCOMPARE(int(ws.CrcLo | ws.CrcHi << 8), int(bitwiseCrc(ws.FrameData.data(), 300)));
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
        // Every single byte value, so each table entry is looked at.
        for (unsigned b = 0; b < 256; ++b) {
            const auto byte = static_cast<std::uint8_t>(b);
            QCOMPARE(int(morven::crc16Modbus(&byte, 1)), int(bitwiseCrc(&byte, 1)));
        }
    }

    void lrcExamples_data()
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
    }

    void lrcExamples()
    {
        QFETCH(QByteArray, record);
        QFETCH(int, checksum);
        const auto b = testutil::bytes(record.constData());
        Workspace ws;
        ws.HexData.fill(0xEE);
        std::copy(b.begin(), b.end(), ws.HexData.begin());
        QVERIFY(morven::DataLrc(ws));
        const std::size_t n = ws.HexData[0];
        QCOMPARE(int(ws.HexData[n + 4]), checksum);
        // The record is untouched and nothing after the checksum is written.
        QVERIFY(std::equal(b.begin(), b.end(), ws.HexData.begin()));
        QCOMPARE(int(ws.HexData[n + 5]), 0xEE);
    }

    void lrcMakesRecordSumZero()
    {
        std::mt19937 rng(11);
        for (int round = 0; round < 300; ++round) {
            Workspace ws;
            for (auto &b : ws.HexData)
                b = static_cast<std::uint8_t>(rng());
            ws.HexData[0] = static_cast<std::uint8_t>(rng() % 125);
            const auto before = ws.HexData;
            QVERIFY(morven::DataLrc(ws));
            const std::size_t n = ws.HexData[0];
            const unsigned sum = std::accumulate(ws.HexData.begin(), ws.HexData.begin() + n + 5, 0u);
            QCOMPARE(sum % 256, 0u);
            for (std::size_t i = 0; i < ws.HexData.size(); ++i)
                if (i != n + 4)
                    QCOMPARE(ws.HexData[i], before[i]);
        }
    }

    void lrcAt124UsesLastByte()
    {
        Workspace ws;
        ws.HexData.fill(1);
        ws.HexData[0] = 124;
        QVERIFY(morven::DataLrc(ws));
        // 124 + 127 ones = 251 -> 256 - 251.
        QCOMPARE(int(ws.HexData[128]), 5);
    }

    void lrcRefusesAbove124()
    {
        for (int n : {125, 128, 255}) {
            Workspace ws;
            ws.HexData.fill(3);
            ws.HexData[0] = static_cast<std::uint8_t>(n);
            const auto before = ws.HexData;
            QVERIFY(!morven::DataLrc(ws));
            QVERIFY(ws.HexData == before);
        }
    }
};

QTEST_APPLESS_MAIN(TestChecksum)
#include "test_checksum.moc"
