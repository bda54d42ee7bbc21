// The record codec and the record checksum on arbitrary lines.
//
// Input: the whole input is LineStr, parsed from HexData filled with a pattern the input picks
// and checked against a reference parse; the record parsed is then formatted, completed with
// DataLrc, formatted again and parsed back.
#include "fuzzcheck.h"

#include "protocol/checksum.h"
#include "protocol/hexcodec.h"

#include <algorithm>
#include <cctype>

using morven::Workspace;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string line(reinterpret_cast<const char *>(data), size);
    Workspace ws;
    ws.LineStr = line;
    for (std::size_t i = 0; i < ws.HexData.size(); ++i)
        ws.HexData[i] = static_cast<std::uint8_t>(size + i * 131);
    ws.FrameData.fill(0x5A);
    const Workspace before = ws;

    // Half the length rounded half to even, at most 128, less the colon's share; pair i at
    // characters 2i-1 and 2i; bytes not reached keep their contents.
    auto expected = before.HexData;
    int count = 0;
    int bad = -1;
    if (!line.empty() && line[0] == ':') {
        const std::size_t p = std::min<std::size_t>(fuzzref::halfToEven(line.size()), 128);
        for (std::size_t i = 1; i < p; ++i) {
            const auto hi = static_cast<unsigned char>(line[2 * i - 1]), lo = static_cast<unsigned char>(line[2 * i]);
            expected[i - 1] = fuzzref::codecPair(hi, lo);
            if (bad < 0 && !(fuzzref::isHex(hi) && fuzzref::isHex(lo)))
                bad = int(i - 1);
        }
        count = p > 0 ? int(p - 1) : 0;
    }
    const morven::ParseReport report = morven::StrtoData(ws);
    FUZZ_CHECK(ws.HexData == expected && report.converted == count && report.firstBadPair == bad);
    FUZZ_CHECK(ws.FrameData == before.FrameData && ws.LineStr == line);
    Workspace twin = before;
    FUZZ_CHECK(morven::RectoData(twin).converted == count && twin.HexData == ws.HexData);

    // Format: ':' and the upper-case digits of bytes 0 .. N+4, or refused above N = 124.
    const std::size_t n = ws.HexData[0];
    Workspace formatted = ws;
    FUZZ_CHECK(morven::DatatoStr(formatted) == (n <= 124));
    FUZZ_CHECK(morven::DataLrc(ws) == (n <= 124));
    if (n > 124) {
        FUZZ_CHECK(formatted.OutStr.empty() && ws.HexData == expected);
        return 0;
    }
    std::string text = ":";
    for (std::size_t i = 0; i < n + 5; ++i)
        fuzzref::appendHex(text, expected[i]);
    FUZZ_CHECK(formatted.OutStr == text);

    // DataLrc makes bytes 0 .. N+4 add up to a multiple of 256 and touches nothing else; the
    // record formats and parses back to itself, as far as the parse reaches.
    unsigned sum = 0;
    for (std::size_t i = 0; i < ws.HexData.size(); ++i) {
        FUZZ_CHECK(i == n + 4 || ws.HexData[i] == expected[i]);
        sum += i <= n + 4 ? ws.HexData[i] : 0;
    }
    FUZZ_CHECK(sum % 256 == 0);
    Workspace back;
    FUZZ_CHECK(morven::DatatoStr(ws));
    back.LineStr = ws.OutStr;
    const std::size_t pairs = n + 5, reach = std::min<std::size_t>(pairs % 2 ? pairs : pairs - 1, 127);
    FUZZ_CHECK(std::size_t(morven::StrtoData(back).converted) == reach);
    FUZZ_CHECK(std::equal(back.HexData.begin(), back.HexData.begin() + std::ptrdiff_t(reach), ws.HexData.begin()));
    return 0;
}
