#include "conversion.h"

#include "checksum.h"
#include "formatters.h"
#include "hexcodec.h"

#include <cstdint>
#include <string_view>

namespace morven {

namespace {

constexpr std::size_t kMaxRecordLength = 125; // HexData[4 + LL - 1] must stay within 128
constexpr std::size_t kMaxChunkBytes = 255; // N is sent as one byte

std::string lineLabel(std::size_t lineNo)
{
    return "Line " + std::to_string(lineNo) + ": ";
}

std::string dataBytes(std::size_t n)
{
    return std::to_string(n) + (n == 1 ? " data byte" : " data bytes");
}

std::string describeChar(unsigned char c)
{
    if (c >= 0x20 && c < 0x7F)
        return std::string("'") + static_cast<char>(c) + "'";
    const auto pair = kHexPairs[c];
    return std::string("the byte 0x") + pair[0] + pair[1];
}

// Looks for a non-hex character at 0-based positions [from, to) of the line.
std::optional<std::string> findNonHex(std::string_view line, std::size_t from, std::size_t to, std::size_t lineNo)
{
    for (std::size_t i = from; i < to && i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (!isHexDigit(c))
            return lineLabel(lineNo) + describeChar(c) + " (character " + std::to_string(i + 1)
                + ") is not a hexadecimal digit.";
    }
    return std::nullopt;
}

// Decides whether the data record just parsed from `line` can go into the chunk. The
// algorithm itself would copy stale HexData bytes for a short line, write past the buffers
// for oversized lengths, and misread non-hex characters; all of those stop the run instead.
std::optional<std::string> checkDataRecord(
    std::string_view line, const ParseReport &report, const Workspace &ws, std::size_t lineNo)
{
    // The length field first: nothing else can be judged without it.
    if (auto bad = findNonHex(line, 1, 3, lineNo))
        return bad;
    const std::size_t ll = ws.HexData[0];
    if (ll > kMaxRecordLength)
        return lineLabel(lineNo) + "record length " + std::to_string(ll) + " is above the limit of "
            + std::to_string(kMaxRecordLength) + ".";
    // Address, type and data: characters 2 .. 9 + 2 LL. The checksum is not examined.
    if (auto bad = findNonHex(line, 3, 9 + 2 * ll, lineNo))
        return bad;

    // Every byte copied must come from this line, never from what HexData held before.
    const std::size_t needed = 4 + ll;
    if (report.converted < 0 || static_cast<std::size_t>(report.converted) < needed) {
        const std::size_t inText = (line.size() - 9) / 2; // complete data pairs in the text
        if (inText < ll)
            return lineLabel(lineNo) + "the length field says " + dataBytes(ll) + " but the line holds only "
                + std::to_string(inText) + ".";
        const std::size_t readable = static_cast<std::size_t>(report.converted) - 4;
        if (needed > 127)
            return lineLabel(lineNo) + "the length field says " + dataBytes(ll)
                + " but one line can carry at most 123.";
        return lineLabel(lineNo) + "the length field says " + dataBytes(ll)
            + " but the line ends before its checksum, so only " + std::to_string(readable) + " of them can be read.";
    }

    if (static_cast<std::size_t>(ws.FrameLen) + ll > kMaxChunkBytes)
        return lineLabel(lineNo) + "this record would make the chunk longer than " + std::to_string(kMaxChunkBytes)
            + " bytes.";
    return std::nullopt;
}

// The scrambling of "PW" lines: each record is altered according to the data sum of the
// record before it, the sum restarting at every eighth record of the whole run.
struct PwScrambler
{
    std::uint64_t recordIndex = 0;
    unsigned previousSum = 0;

    void apply(Workspace &ws)
    {
        if (recordIndex % 8 == 0)
            previousSum = 0;
        ++recordIndex;
        const std::size_t ll = ws.HexData[0];
        unsigned sum = 0;
        for (std::size_t j = 0; j < ll; ++j)
            sum += ws.HexData[4 + j];
        sum &= 0xFFu;
        if (previousSum >= 17 && previousSum <= 239) {
            const std::size_t hi = previousSum / 16; // 1 .. 14
            const std::size_t lo = previousSum & 15u; // 0 .. 15
            ws.HexData[3 + hi] = static_cast<std::uint8_t>(255 - ws.HexData[3 + hi]);
            if (lo != 0) {
                const unsigned b = ws.HexData[3 + lo];
                ws.HexData[3 + lo] = static_cast<std::uint8_t>(((b & 15u) << 4) | (b >> 4));
            }
        }
        previousSum = sum;
    }
};

} // namespace

ConversionResult convertRecords(Workspace &ws, const LineStore &list1, Format f)
{
    ConversionResult result;
    // A printed chunk is never longer than the record lines it came from, so the input size
    // bounds the output and the blob never has to grow and copy itself.
    result.lines.reserve(list1.size() / 8 + 1, list1.byteSize());

    ws.HexData.fill(0);
    ws.FrameLen = 0;
    int k = 0;
    // Wider than the two bytes that are printed, so long lists keep converting; the printed
    // number wraps after 65535.
    std::uint64_t sequence = 1;
    PwScrambler pw;

    auto printChunk = [&] {
        ws.FrameData[1] = static_cast<std::uint8_t>(sequence & 255u);
        ws.FrameData[0] = static_cast<std::uint8_t>((sequence / 256) & 255u);
        ++sequence;
        ws.FrameData[2] = static_cast<std::uint8_t>(ws.FrameLen);
        ws.FrameLen = static_cast<std::int16_t>(ws.FrameLen + 3);
        CRC16B(ws);
        if (f == Format::O)
            DatatoStr2(ws);
        else
            DatatoStr3(ws);
        result.lines.append(ws.OutStr);
        ws.FrameLen = 0;
        ws.HexData.fill(0);
        k = 0;
    };

    const std::size_t count = list1.size();
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view line = list1.at(i);
        if (line.size() <= 10)
            continue;
        if (line[7] != '0' || line[8] != '0') { // any non-data record closes the chunk
            if (ws.FrameLen > 0)
                printChunk();
            continue;
        }
        if (line[0] != ':')
            continue;

        ws.LineStr.assign(line);
        const ParseReport report = StrtoData(ws);
        if (auto message = checkDataRecord(line, report, ws, i + 1)) {
            result.error = ConversionError{i + 1, std::move(*message)};
            return result;
        }
        if (f == Format::PW)
            pw.apply(ws);

        // Packed back to back; for 16-byte records this is the 16-byte slot of record k.
        const std::size_t ll = ws.HexData[0];
        const std::size_t base = 3 + static_cast<std::size_t>(ws.FrameLen);
        for (std::size_t j = 0; j < ll; ++j)
            ws.FrameData[base + j] = ws.HexData[4 + j];
        ws.FrameLen = static_cast<std::int16_t>(ws.FrameLen + static_cast<std::int16_t>(ll));

        if (++k == 8)
            printChunk();
    }
    return result;
}

} // namespace morven
