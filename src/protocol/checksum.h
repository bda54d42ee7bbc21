// The two checksums: CRC16B (CRC-16/MODBUS) and DataLrc (Intel HEX).
#pragma once

#include "protocol/workspace.h"

#include <cstddef>
#include <cstdint>

namespace morven {

// CRC-16/MODBUS (reflected polynomial 0xA001, start 0xFFFF, no final XOR) of n bytes.
std::uint16_t crc16Modbus(const std::uint8_t *data, std::size_t n);

// CRC-16/MODBUS over ws.FrameData[0 .. FrameLen-1] into ws.CrcLo / ws.CrcHi. A FrameLen of 0
// or less gives FF FF; a FrameLen beyond the buffer covers the whole buffer and no more.
void CRC16B(Workspace &ws);

// Intel HEX checksum: with N = HexData[0], stores into HexData[N+4] the two's complement of
// the sum of HexData[0 .. N+3], so that bytes 0 .. N+4 add up to a multiple of 256. Refuses,
// changing nothing and returning false, when N is above 124 (N+4 would leave HexData).
bool DataLrc(Workspace &ws);

} // namespace morven
