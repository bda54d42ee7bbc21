// The ":O" and ":W" line formatters DatatoStr2 and DatatoStr3.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace morven {

// A data line for the target: the prefix, the chunk's bytes as upper-case digit pairs, their
// CRC16B low byte first, then ';' (2 * size + 7 characters).
std::string DatatoStr2(std::span<const std::uint8_t> FrameData); // ":O" lines
std::string DatatoStr3(std::span<const std::uint8_t> FrameData); // ":W" lines

} // namespace morven
