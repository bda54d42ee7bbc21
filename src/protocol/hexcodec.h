// The record codec: an Intel HEX record line to bytes and back.
#pragma once

#include "protocol/hexdigits.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morven {

// One record as bytes: the length N, the address (high byte first), the type, N data bytes and
// the checksum, at most 129 bytes.
using HexRecord = std::array<std::uint8_t, 129>;

// What one parse of a line did.
struct ParseReport
{
    int converted = 0; // bytes written to HexData, from index 0
    int firstBadPair = -1; // HexData index of the first pair that was not two hex digits, or -1
};

// Parses the record line LineStr into HexData. A line that does not start with ':' is ignored.
// The number of pairs read comes from the line length (half of it, rounded half to even, at
// most 128, minus the colon's share), so an even count of pairs loses its last pair and at most
// 127 bytes are written. Bytes not reached keep what they held: the caller that owns HexData
// decides what that is. A pair holding a non-hex character keeps that character's code as its
// digit value; the low 8 bits of the result are stored and the pair is reported.
ParseReport StrtoData(std::string_view LineStr, HexRecord &HexData);
// The same parse under its second name.
ParseReport RectoData(std::string_view LineStr, HexRecord &HexData);

// HexData[0 .. HexData[0]+4] as ':' and upper-case digit pairs. The checksum is not computed
// here (see DataLrc). Nothing when HexData[0] is above 124, as the record would then run past
// HexData.
std::optional<std::string> DatatoStr(const HexRecord &HexData);

} // namespace morven
