// The two checksums: CRC16B (CRC-16/MODBUS) and DataLrc (Intel HEX).
#include "protocol/checksum.h"

#include <array>
#include <cstddef>

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

std::uint16_t CRC16B(std::span<const std::uint8_t> data)
{
    unsigned r = 0xFFFF;
    for (const std::uint8_t b : data)
        r = (r >> 8) ^ kCrcTable[(r ^ b) & 0xFFu];
    return static_cast<std::uint16_t>(r);
}

std::optional<std::uint8_t> DataLrc(const HexRecord &HexData)
{
    const std::size_t n = HexData[0];
    if (n > 124)
        return std::nullopt;
    unsigned sum = 0;
    for (std::size_t i = 0; i <= n + 3; ++i)
        sum += HexData[i];
    return static_cast<std::uint8_t>((256u - (sum & 0xFFu)) & 0xFFu);
}

} // namespace morven
