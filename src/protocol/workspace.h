// The buffers the window's routines share.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace morven {

// The buffers the window's routines share instead of passing arguments: the record codec,
// the checksums, the line formatters and the conversions all read and write these.
struct Workspace
{
    std::string LineStr, OutStr; // 8-bit text: bytes, Latin-1 when shown
    std::array<std::uint8_t, 129> HexData{};
    std::array<std::uint8_t, 301> FrameData{};
    std::int16_t FrameLen = 0;
    std::uint8_t CrcLo = 0, CrcHi = 0;
};

} // namespace morven
