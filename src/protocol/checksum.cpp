// The two checksums: CRC16B (CRC-16/MODBUS) and DataLrc (Intel HEX).
#include "protocol/checksum.h"

#include <algorithm>
#include <array>

namespace morven {

namespace {

constexpr std::array<std::uint16_t, 256> kCrcTable = [] {
    std::array<std::uint16_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
        unsigned r = b;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 1u) ? (r >> 1) ^ 0xA001u : r >> 1;
        t[b] = static_cast<std::uint16_t>(r);
    }
    return t;
}();

} // namespace

std::uint16_t crc16Modbus(const std::uint8_t *data, std::size_t n)
{
    unsigned r = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i)
        r = (r >> 8) ^ kCrcTable[(r ^ data[i]) & 0xFFu];
    return static_cast<std::uint16_t>(r);
}

void CRC16B(Workspace &ws)
{
    std::size_t n = 0;
    if (ws.FrameLen > 0)
        n = std::min<std::size_t>(static_cast<std::size_t>(ws.FrameLen), ws.FrameData.size());
    const std::uint16_t crc = crc16Modbus(ws.FrameData.data(), n);
    ws.CrcLo = static_cast<std::uint8_t>(crc & 0xFFu);
    ws.CrcHi = static_cast<std::uint8_t>(crc >> 8);
}

bool DataLrc(Workspace &ws)
{
    const std::size_t n = ws.HexData[0];
    if (n > 124)
        return false;
    unsigned sum = 0;
    for (std::size_t i = 0; i <= n + 3; ++i)
        sum += ws.HexData[i];
    ws.HexData[n + 4] = static_cast<std::uint8_t>((256u - (sum & 0xFFu)) & 0xFFu);
    return true;
}

} // namespace morven
