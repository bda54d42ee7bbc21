// The frames that cross the link: ':', a command letter, bytes as upper-case digit pairs, their
// CRC-16/MODBUS low byte first, and ';'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace morven {

std::string buildFrame(char letter, const std::uint8_t *bytes, std::size_t n);

} // namespace morven
