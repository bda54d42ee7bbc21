// Hexadecimal digits and the three rules by which this system reads them: the record codec's
// (any character counts), the reply decoder's (upper case only) and the strict one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace morven {

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

// The reply decoder's digit value: c - 55 above 64 (so 'A'-'F' give 10 to 15, and 'a'-'f' give
// 42 to 47: only upper-case digits are hexadecimal in a reply), c - 48 from 48 to 64, and the
// code itself below 48.
constexpr unsigned replyDigitValue(std::uint8_t c)
{
    if (c > 64)
        return c - 55u;
    if (c >= 48)
        return c - 48u;
    return c;
}

// A hexadecimal digit of either case, 0 to 15; -1 for any other character.
constexpr int strictHexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The two upper-case digits of a byte.
inline std::string hexByte(std::uint8_t b)
{
    return std::string(kHexPairs[b].data(), 2);
}

} // namespace morven
