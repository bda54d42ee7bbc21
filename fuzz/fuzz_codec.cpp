// The record codec and the record checksum on arbitrary lines.
//
// Input: the whole input is LineStr. It is parsed from two start states of HexData (all
// zero, and a pattern derived from the input) and checked against a reference parse; then
// the parsed record is formatted, completed with DataLrc, formatted again and parsed back.
#include "fuzzcheck.h"

#include "protocol/checksum.h"
#include "protocol/hexcodec.h"
#include "protocol/workspace.h"

#include <algorithm>
#include <cctype>

using morven::Workspace;

namespace {

// Digit value as the codec defines it: a non-hex character keeps its own code.
unsigned codecDigit(unsigned char c)
{
    return fuzzref::isHex(c) ? fuzzref::hexValue(c) : c;
}

// Fills the parts of the workspace that the codec must never touch with a recognisable
// pattern, so a write that strays out of HexData shows up.
void poisonOthers(Workspace &ws, std::uint8_t seed)
{
    for (std::size_t i = 0; i < ws.FrameData.size(); ++i)
        ws.FrameData[i] = static_cast<std::uint8_t>(seed + i * 7);
    ws.FrameLen = static_cast<std::int16_t>(0x1234 + seed);
    ws.CrcLo = static_cast<std::uint8_t>(seed ^ 0x5A);
    ws.CrcHi = static_cast<std::uint8_t>(seed ^ 0xA5);
}

bool othersEqual(const Workspace &a, const Workspace &b)
{
    return a.FrameData == b.FrameData && a.FrameLen == b.FrameLen && a.CrcLo == b.CrcLo && a.CrcHi == b.CrcHi
        && a.LineStr == b.LineStr;
}

// Checks that `text` is ':' followed by the upper-case digits of bytes[0 .. count-1].
void checkFormatted(const std::string &text, const std::uint8_t *bytes, std::size_t count)
{
    FUZZ_CHECK(text.size() == 1 + 2 * count);
    FUZZ_CHECK(text[0] == ':');
    for (std::size_t i = 0; i < count; ++i) {
        const auto hi = static_cast<unsigned char>(text[1 + 2 * i]);
        const auto lo = static_cast<unsigned char>(text[2 + 2 * i]);
        FUZZ_CHECK(fuzzref::isUpperHex(hi) && fuzzref::isUpperHex(lo));
        FUZZ_CHECK(fuzzref::hexValue(hi) * 16 + fuzzref::hexValue(lo) == bytes[i]);
    }
}

void runFrom(const std::string &line, const std::array<std::uint8_t, 129> &start, std::uint8_t seed)
{
    Workspace ws;
    ws.LineStr = line;
    ws.HexData = start;
    ws.OutStr = "untouched";
    poisonOthers(ws, seed);
    const Workspace before = ws;

    // Reference parse: half the length rounded half to even, capped at 128, less the colon's
    // share; pair i at characters 2i-1 and 2i; the low 8 bits of a non-hex pair are kept.
    std::array<std::uint8_t, 129> expected = start;
    int expectedCount = 0;
    int expectedBad = -1;
    if (!line.empty() && line[0] == ':') {
        const std::size_t p = std::min<std::size_t>(fuzzref::halfToEven(line.size()), 128);
        for (std::size_t i = 1; i < p; ++i) {
            const auto hi = static_cast<unsigned char>(line[2 * i - 1]);
            const auto lo = static_cast<unsigned char>(line[2 * i]);
            expected[i - 1] = static_cast<std::uint8_t>((codecDigit(hi) * 16 + codecDigit(lo)) & 0xFF);
            if (expectedBad < 0 && !(fuzzref::isHex(hi) && fuzzref::isHex(lo)))
                expectedBad = static_cast<int>(i - 1);
        }
        expectedCount = p > 0 ? static_cast<int>(p - 1) : 0;
    }

    const morven::ParseReport report = morven::StrtoData(ws);
    FUZZ_CHECK(ws.HexData == expected);
    FUZZ_CHECK(report.converted == expectedCount);
    FUZZ_CHECK(report.converted <= 127);
    FUZZ_CHECK(report.firstBadPair == expectedBad);
    FUZZ_CHECK(ws.OutStr == before.OutStr);
    FUZZ_CHECK(othersEqual(ws, before));

    // The second entry point: same start, same everything.
    Workspace twin = before;
    const morven::ParseReport twinReport = morven::RectoData(twin);
    FUZZ_CHECK(twin.HexData == ws.HexData);
    FUZZ_CHECK(twinReport.converted == report.converted && twinReport.firstBadPair == report.firstBadPair);
    FUZZ_CHECK(othersEqual(twin, before));

    // Format what the parse left, checksum or not.
    const std::size_t n = ws.HexData[0];
    Workspace formatted = ws;
    const bool ok = morven::DatatoStr(formatted);
    FUZZ_CHECK(ok == (n <= 124));
    FUZZ_CHECK(formatted.HexData == ws.HexData);
    FUZZ_CHECK(othersEqual(formatted, ws));
    if (!ok) {
        FUZZ_CHECK(formatted.OutStr == ws.OutStr);
    } else {
        checkFormatted(formatted.OutStr, ws.HexData.data(), n + 5);
        // A line holding a whole record in hex digits comes back as itself, upper-cased.
        if (report.firstBadPair < 0 && static_cast<std::size_t>(report.converted) >= n + 5) {
            std::string upper = line.substr(0, 1 + 2 * (n + 5));
            std::transform(upper.begin(), upper.end(), upper.begin(),
                [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
            FUZZ_CHECK(formatted.OutStr == upper);
        }
    }

    // Complete the record: bytes 0 .. N+4 then add up to a multiple of 256, nothing else moves.
    Workspace summed = ws;
    const bool lrcOk = morven::DataLrc(summed);
    FUZZ_CHECK(lrcOk == (n <= 124));
    FUZZ_CHECK(othersEqual(summed, ws) && summed.OutStr == ws.OutStr);
    if (!lrcOk) {
        FUZZ_CHECK(summed.HexData == ws.HexData);
        return;
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i <= n + 4; ++i)
        sum += summed.HexData[i];
    FUZZ_CHECK(sum % 256 == 0);
    for (std::size_t i = 0; i < summed.HexData.size(); ++i)
        FUZZ_CHECK(i == n + 4 || summed.HexData[i] == ws.HexData[i]);

    // Format the completed record and parse it into a different buffer: the pairs that the
    // parse converts (all k = N+5 pairs when k is odd, k-1 when even, never more than 127)
    // come back unchanged.
    FUZZ_CHECK(morven::DatatoStr(summed));
    checkFormatted(summed.OutStr, summed.HexData.data(), n + 5);
    Workspace back;
    back.HexData.fill(0xA5);
    poisonOthers(back, static_cast<std::uint8_t>(seed + 1));
    back.LineStr = summed.OutStr;
    const Workspace backBefore = back;
    const morven::ParseReport backReport = morven::StrtoData(back);
    const std::size_t pairs = n + 5;
    const std::size_t expectBack = std::min<std::size_t>(pairs % 2 == 1 ? pairs : pairs - 1, 127);
    FUZZ_CHECK(static_cast<std::size_t>(backReport.converted) == expectBack);
    FUZZ_CHECK(backReport.firstBadPair == -1);
    for (std::size_t i = 0; i < back.HexData.size(); ++i)
        FUZZ_CHECK(back.HexData[i] == (i < expectBack ? summed.HexData[i] : 0xA5));
    FUZZ_CHECK(othersEqual(back, backBefore));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string line(reinterpret_cast<const char *>(data), size);

    std::array<std::uint8_t, 129> zero{};
    runFrom(line, zero, 0);

    // A start state the input decides, so bytes left unconverted are told apart from zeros.
    std::uint8_t h = 0x3C;
    for (std::size_t i = 0; i < size; ++i)
        h = static_cast<std::uint8_t>(h * 31 + data[i]);
    std::array<std::uint8_t, 129> pattern{};
    for (std::size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<std::uint8_t>(h + i * 131);
    runFrom(line, pattern, h);
    return 0;
}
