// The record codec: an Intel HEX record line to bytes and back.
#include "protocol/hexcodec.h"

#include <cstddef>

namespace morven {

namespace {

// Half the length, rounded half to even: an odd length m + 0.5 goes to whichever of m and
// m + 1 is even.
constexpr std::size_t pairCount(std::size_t length)
{
    const std::size_t m = length / 2;
    if (length % 2 == 0 || m % 2 == 0)
        return m;
    return m + 1;
}

ParseReport parse(std::string_view s, HexRecord &HexData)
{
    ParseReport report;
    if (s.empty() || s[0] != ':')
        return report;

    std::size_t p = pairCount(s.size());
    if (p > 128)
        p = 128;
    // Pair i sits at positions 2i-1 and 2i; the rounding keeps 2i below the length.
    for (std::size_t i = 1; i < p; ++i) {
        const auto hi = static_cast<unsigned char>(s[2 * i - 1]);
        const auto lo = static_cast<unsigned char>(s[2 * i]);
        const unsigned value = recordDigitValue(hi) * 16u + recordDigitValue(lo);
        HexData[i - 1] = static_cast<std::uint8_t>(value & 0xFFu);
        if (report.firstBadPair < 0 && !(isHexDigit(hi) && isHexDigit(lo)))
            report.firstBadPair = static_cast<int>(i - 1);
    }
    report.converted = p > 0 ? static_cast<int>(p - 1) : 0;
    return report;
}

} // namespace

ParseReport StrtoData(std::string_view LineStr, HexRecord &HexData)
{
    return parse(LineStr, HexData);
}

ParseReport RectoData(std::string_view LineStr, HexRecord &HexData)
{
    return parse(LineStr, HexData);
}

std::optional<std::string> DatatoStr(const HexRecord &HexData)
{
    const std::size_t n = HexData[0];
    if (n > 124)
        return std::nullopt;
    const std::size_t count = n + 5;
    std::string OutStr(1 + 2 * count, ':');
    char *out = OutStr.data() + 1;
    for (std::size_t i = 0; i < count; ++i)
        out = writeHexByte(out, HexData[i]);
    return OutStr;
}

} // namespace morven
