// The frames that cross the link: ':', a command letter, bytes as upper-case digit pairs, their
// CRC-16/MODBUS low byte first, and ';'.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace morven {

std::string buildFrame(char letter, std::span<const std::uint8_t> bytes);

} // namespace morven
