#pragma once

#include "protocol/workspace.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace morven {

// What one parse of LineStr did.
struct ParseReport
{
    int converted = 0; // bytes written to HexData, from index 0
    int firstBadPair = -1; // HexData index of the first pair that was not two hex digits, or -1
};

// Parses the record line in ws.LineStr into ws.HexData. A line that does not start with ':'
// is ignored. The number of pairs read comes from the line length (half of it, rounded half
// to even, at most 128, minus the colon's share), so an even count of pairs loses its last
// pair and at most 127 bytes are written. Bytes not reached keep their old contents. A pair
// holding a non-hex character keeps that character's code as its digit value; the low 8 bits
// of the result are stored and the pair is reported.
ParseReport StrtoData(Workspace &ws);
// The same parse under its second name.
ParseReport RectoData(Workspace &ws);

// Formats HexData[0 .. HexData[0]+4] into ws.OutStr as ':' and upper-case digit pairs. The
// checksum is not computed here (see DataLrc). Refuses, leaving OutStr alone and returning
// false, when HexData[0] is above 124, as the record would then run past HexData.
bool DatatoStr(Workspace &ws);

// Two upper-case hex digits for every byte value, high nibble first.
inline constexpr std::array<std::array<char, 2>, 256> kHexPairs = [] {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::array<char, 2>, 256> t{};
    for (std::size_t b = 0; b < 256; ++b)
        t[b] = {digits[b >> 4], digits[b & 15]};
    return t;
}();

// Writes the two digits of b at dst (no terminator) and returns the position after them.
inline char *writeHexByte(char *dst, std::uint8_t b)
{
    dst[0] = kHexPairs[b][0];
    dst[1] = kHexPairs[b][1];
    return dst + 2;
}

// The record codec's digit value of a character: '0'-'9', 'A'-'F' and 'a'-'f' give 0 to 15,
// any other character keeps its own code (so "0G" is 71 and "GG" is worth more than 255).
// A table, as every record byte of a big file passes through here twice.
inline constexpr std::array<std::uint8_t, 256> kRecordDigitValues = [] {
    std::array<std::uint8_t, 256> t{};
    for (unsigned c = 0; c < 256; ++c)
        t[c] = static_cast<std::uint8_t>(c >= '0' && c <= '9' ? c - 48
                : c >= 'A' && c <= 'F'                        ? c - 55
                : c >= 'a' && c <= 'f'                        ? c - 87
                                                              : c);
    return t;
}();
constexpr unsigned recordDigitValue(unsigned char c)
{
    return kRecordDigitValues[c];
}

// A pair of characters read by that rule, high digit first; only its low 8 bits fit a byte.
constexpr std::uint8_t recordPairValue(unsigned char hi, unsigned char lo)
{
    return static_cast<std::uint8_t>((recordDigitValue(hi) * 16u + recordDigitValue(lo)) & 0xFFu);
}

// True for '0'-'9', 'A'-'F' and 'a'-'f'.
constexpr bool isHexDigit(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

} // namespace morven
