// The two checksums: CRC16B (CRC-16/MODBUS) and DataLrc (Intel HEX).
#pragma once

#include "protocol/hexcodec.h"

#include <cstdint>
#include <optional>
#include <span>

namespace morven {

// CRC-16/MODBUS (reflected polynomial 0xA001, start 0xFFFF, no final XOR) of the bytes: FF FF
// for none. Every user writes it low byte first (CrcLo, then CrcHi).
std::uint16_t CRC16B(std::span<const std::uint8_t> data);

constexpr std::uint8_t crcLo(std::uint16_t crc)
{
    return static_cast<std::uint8_t>(crc & 0xFFu);
}
constexpr std::uint8_t crcHi(std::uint16_t crc)
{
    return static_cast<std::uint8_t>(crc >> 8);
}

// Intel HEX checksum of the record in HexData: with N = HexData[0], the two's complement of the
// sum of HexData[0 .. N+3], the byte that makes bytes 0 .. N+4 add up to a multiple of 256.
// Nothing when N is above 124, where N+4 would leave HexData.
std::optional<std::uint8_t> DataLrc(const HexRecord &HexData);

} // namespace morven
