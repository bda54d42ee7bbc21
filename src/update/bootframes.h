// The fixed request frames of the bootloader protocol.
#pragma once

#include <string_view>

// The fixed request frames of the bootloader protocol.
namespace morven::frames {

inline constexpr std::string_view LinkTest = ":U;";
// Sequence 0, length 1, selector 2 (program flash), CRC 8075 low byte first.
inline constexpr std::string_view EraseFlash = ":K000001028075;";
// Sequence 0, length 1, selector 1 (data area), CRC C074 low byte first.
inline constexpr std::string_view EraseData = ":K00000101C074;";

} // namespace morven::frames
