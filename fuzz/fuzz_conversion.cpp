// The record conversions on arbitrary record files.
//
// Input: the bytes of a record file, split into lines as "Open file1" does. Each of the three
// conversions runs on it from a workspace full of stale bytes, and its lines are checked for
// their layout and CRC and compared with a reference conversion built from the packing rules:
// data records of up to eight at a time packed back to back behind a chunk number and a byte
// count, a non-data record closing a pending chunk, PW lines scrambled by the previous
// record's data sum. The reference also says which line a conversion must refuse.
#include "fuzzcheck.h"

#include "protocol/checksum.h"
#include "records/conversion.h"
#include "records/linestore.h"
#include "protocol/workspace.h"

#include <optional>
#include <string>
#include <vector>

using morven::Format;

namespace {

struct Reference
{
    std::vector<std::string> lines;
    std::optional<std::size_t> errorLine; // 1-based
    std::size_t pendingBytes = 0; // data bytes of a chunk left unprinted
};

// A pair read the codec's way: a hex digit by its value, any other character by its code; only
// the low 8 bits fit a byte.
std::uint8_t pairValue(unsigned char hi, unsigned char lo)
{
    const auto digit = [](unsigned char c) { return fuzzref::isHex(c) ? fuzzref::hexValue(c) : unsigned(c); };
    return static_cast<std::uint8_t>((digit(hi) * 16 + digit(lo)) & 255);
}

// Whether a data record can go into the chunk: its length is at most 125, the parse reaches all
// its data bytes, and the chunk stays within 255 data bytes. Neither the digits nor the
// checksum are examined.
bool acceptable(std::string_view line, std::size_t chunkBytes, std::size_t &ll)
{
    ll = pairValue(static_cast<unsigned char>(line[1]), static_cast<unsigned char>(line[2]));
    if (ll > 125)
        return false;
    const std::size_t converted = std::min<std::size_t>(fuzzref::halfToEven(line.size()), 128) - 1;
    if (converted < 4 + ll)
        return false;
    return chunkBytes + ll <= 255;
}

Reference referenceConvert(const morven::LineStore &list, Format f)
{
    Reference ref;
    std::vector<std::uint8_t> chunk; // data bytes gathered
    int k = 0;
    unsigned sequence = 1;
    unsigned recordIndex = 0;
    unsigned previousSum = 0;
    const char letter = f == Format::O ? 'O' : 'W';

    auto print = [&] {
        std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(sequence >> 8 & 255),
            static_cast<std::uint8_t>(sequence & 255), static_cast<std::uint8_t>(chunk.size())};
        ++sequence;
        bytes.insert(bytes.end(), chunk.begin(), chunk.end());
        const std::uint16_t crc = fuzzref::crcModbus(bytes.data(), bytes.size());
        std::string text = ":";
        text.push_back(letter);
        for (const std::uint8_t b : bytes)
            fuzzref::appendHex(text, b);
        fuzzref::appendHex(text, static_cast<std::uint8_t>(crc & 255));
        fuzzref::appendHex(text, static_cast<std::uint8_t>(crc >> 8));
        text.push_back(';');
        ref.lines.push_back(std::move(text));
        chunk.clear();
        k = 0;
    };

    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string_view line = list.at(i);
        if (line.size() <= 10)
            continue;
        if (line[7] != '0' || line[8] != '0') {
            if (!chunk.empty())
                print();
            continue;
        }
        if (line[0] != ':')
            continue;
        std::size_t ll = 0;
        if (!acceptable(line, chunk.size(), ll)) {
            ref.errorLine = i + 1;
            break;
        }
        std::vector<std::uint8_t> record(ll);
        for (std::size_t j = 0; j < ll; ++j)
            record[j] = pairValue(static_cast<unsigned char>(line[9 + 2 * j]), static_cast<unsigned char>(line[10 + 2 * j]));
        if (f == Format::PW) {
            if (recordIndex % 8 == 0)
                previousSum = 0;
            ++recordIndex;
            unsigned sum = 0;
            for (const std::uint8_t b : record)
                sum += b;
            if (previousSum >= 17 && previousSum <= 239) {
                const std::size_t hi = previousSum / 16;
                const std::size_t lo = previousSum & 15;
                // Positions past the record's data are changed in the buffer but never copied.
                if (hi <= ll)
                    record[hi - 1] = static_cast<std::uint8_t>(255 - record[hi - 1]);
                if (lo != 0 && lo <= ll)
                    record[lo - 1] = static_cast<std::uint8_t>((record[lo - 1] & 15) << 4 | record[lo - 1] >> 4);
            }
            previousSum = sum & 255;
        }
        chunk.insert(chunk.end(), record.begin(), record.end());
        if (++k == 8)
            print();
    }
    ref.pendingBytes = chunk.size();
    return ref;
}

// The layout of one printed line, read back: ':' + letter + 2m upper-case digits + ';' with
// m = 3 + N + 2, the CRC (low byte first) over the m - 2 bytes before it.
void checkLineLayout(std::string_view line, char letter, std::size_t sequence)
{
    FUZZ_CHECK(line.size() >= 2 + 2 * 5 + 1);
    FUZZ_CHECK(line[0] == ':' && line[1] == letter && line.back() == ';');
    FUZZ_CHECK((line.size() - 3) % 2 == 0);
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 2; i + 1 < line.size() - 1; i += 2) {
        const auto hi = static_cast<unsigned char>(line[i]);
        const auto lo = static_cast<unsigned char>(line[i + 1]);
        FUZZ_CHECK(fuzzref::isUpperHex(hi) && fuzzref::isUpperHex(lo));
        bytes.push_back(static_cast<std::uint8_t>(fuzzref::hexValue(hi) * 16 + fuzzref::hexValue(lo)));
    }
    const std::size_t n = bytes[2];
    FUZZ_CHECK(bytes.size() == 3 + n + 2);
    FUZZ_CHECK(bytes[0] * 256u + bytes[1] == (sequence & 0xFFFF));
    const std::uint16_t crc = morven::crc16Modbus(bytes.data(), 3 + n);
    FUZZ_CHECK(bytes[3 + n] == (crc & 255) && bytes[4 + n] == crc >> 8);
}

morven::ConversionResult runConversion(const morven::LineStore &list, Format f, std::uint8_t stale)
{
    // Stale bytes everywhere: nothing of an earlier run may leak into a line.
    morven::Workspace ws;
    ws.HexData.fill(stale);
    ws.FrameData.fill(static_cast<std::uint8_t>(~stale));
    ws.FrameLen = 77;
    ws.CrcLo = ws.CrcHi = stale;
    ws.LineStr = ":10000000FFFF";
    ws.OutStr = "stale";
    morven::ConversionResult result = morven::convertRecords(ws, list, f);

    const Reference ref = referenceConvert(list, f);
    const char letter = f == Format::O ? 'O' : 'W';
    FUZZ_CHECK(result.lines.size() == ref.lines.size());
    for (std::size_t i = 0; i < result.lines.size(); ++i) {
        checkLineLayout(result.lines.at(i), letter, i + 1);
        FUZZ_CHECK(result.lines.at(i) == ref.lines[i]);
    }
    FUZZ_CHECK(result.error.has_value() == ref.errorLine.has_value());
    if (result.error) {
        FUZZ_CHECK(result.error->line >= 1 && result.error->line <= list.size());
        FUZZ_CHECK(result.error->line == *ref.errorLine);
        FUZZ_CHECK(!result.error->message.empty());
    } else {
        // What is left in the buffer is the chunk still pending.
        FUZZ_CHECK(static_cast<std::size_t>(ws.FrameLen) == ref.pendingBytes);
    }

    // Every printed line needs at least one input line of 11 or more characters of its own,
    // and a chunk line is never longer than the record lines it came from.
    std::size_t longLines = 0;
    for (std::size_t i = 0; i < list.size(); ++i)
        longLines += list.at(i).size() > 10;
    FUZZ_CHECK(result.lines.size() <= longLines);
    FUZZ_CHECK(result.lines.byteSize() <= list.byteSize());
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    morven::LineStore list;
    list.appendFileBytes(std::string_view(reinterpret_cast<const char *>(data), size));
    const std::uint8_t stale = size > 0 ? data[size / 2] : 0;

    const morven::ConversionResult o = runConversion(list, Format::O, stale);
    const morven::ConversionResult w = runConversion(list, Format::W, static_cast<std::uint8_t>(stale + 1));
    const morven::ConversionResult pw = runConversion(list, Format::PW, static_cast<std::uint8_t>(stale + 2));

    // The three differ only in the letter (O against W) and in the scrambled data and its CRC
    // (PW against W); they refuse the same line.
    FUZZ_CHECK(o.lines.size() == w.lines.size() && w.lines.size() == pw.lines.size());
    for (std::size_t i = 0; i < w.lines.size(); ++i) {
        const std::string_view lo = o.lines.at(i), lw = w.lines.at(i), lp = pw.lines.at(i);
        FUZZ_CHECK(lo.substr(2) == lw.substr(2));
        FUZZ_CHECK(lp.size() == lw.size() && lp.substr(0, 8) == lw.substr(0, 8));
    }
    FUZZ_CHECK(o.error.has_value() == w.error.has_value() && w.error.has_value() == pw.error.has_value());
    if (w.error)
        FUZZ_CHECK(o.error->line == w.error->line && pw.error->line == w.error->line);
    return 0;
}
