// The record codec and the record checksum on arbitrary lines.
//
// Input: the whole input is the line, parsed into a record filled with a pattern the input picks
// and checked against a reference parse; the record parsed is then formatted, completed with
// DataLrc, formatted again and parsed back.
#include "fuzzcheck.h"

#include "protocol/checksum.h"
#include "protocol/hexcodec.h"

#include <algorithm>
#include <cctype>

using morven::HexRecord;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string line(reinterpret_cast<const char *>(data), size);
    HexRecord before;
    for (std::size_t i = 0; i < before.size(); ++i)
        before[i] = static_cast<std::uint8_t>(size + i * 131);

    // Half the length rounded half to even, at most 128, less the colon's share; pair i at
    // characters 2i-1 and 2i; bytes not reached keep their contents.
    HexRecord expected = before;
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
    HexRecord hexData = before;
    const morven::ParseReport report = morven::StrtoData(line, hexData);
    FUZZ_CHECK(hexData == expected && report.converted == count && report.firstBadPair == bad);
    HexRecord twin = before;
    FUZZ_CHECK(morven::RectoData(line, twin).converted == count && twin == hexData);

    // Format: ':' and the upper-case digits of bytes 0 .. N+4, or refused above N = 124.
    const std::size_t n = hexData[0];
    const std::optional<std::string> formatted = morven::DatatoStr(hexData);
    const std::optional<std::uint8_t> lrc = morven::DataLrc(hexData);
    FUZZ_CHECK(formatted.has_value() == (n <= 124) && lrc.has_value() == (n <= 124));
    if (n > 124)
        return 0;
    std::string text = ":";
    for (std::size_t i = 0; i < n + 5; ++i)
        fuzzref::appendHex(text, expected[i]);
    FUZZ_CHECK(*formatted == text);

    // The record checksum makes bytes 0 .. N+4 add up to a multiple of 256; the completed record
    // formats and parses back to itself, as far as the parse reaches.
    hexData[n + 4] = *lrc;
    unsigned sum = 0;
    for (std::size_t i = 0; i <= n + 4; ++i)
        sum += hexData[i];
    FUZZ_CHECK(sum % 256 == 0);
    const std::optional<std::string> again = morven::DatatoStr(hexData);
    FUZZ_CHECK(again.has_value());
    HexRecord back{};
    const std::size_t pairs = n + 5, reach = std::min<std::size_t>(pairs % 2 ? pairs : pairs - 1, 127);
    FUZZ_CHECK(std::size_t(morven::StrtoData(*again, back).converted) == reach);
    FUZZ_CHECK(std::equal(back.begin(), back.begin() + std::ptrdiff_t(reach), hexData.begin()));
    return 0;
}
