// The record conversions: Intel HEX records to packed, CRC-protected download lines.
#include "records/conversion.h"

#include "records/formatters.h"

#include <string>

namespace morven {

namespace {

constexpr std::size_t kMaxRecordLength = 125; // HexData[4 + LL - 1] must stay within 128

std::string dataBytes(std::size_t n)
{
    return std::to_string(n) + (n == 1 ? " data byte" : " data bytes");
}

// Decides whether the data record just parsed from `line` can go into the chunk. The
// algorithm itself would copy stale HexData bytes for a short line and write past the buffers
// for oversized lengths or chunks; those stop the run instead.
std::optional<std::string> checkDataRecord(std::string_view line, const ParseReport &report, const HexRecord &HexData,
    std::size_t chunkBytes, std::size_t maxChunkBytes)
{
    const std::size_t ll = HexData[0];
    if (ll > kMaxRecordLength)
        return "record length " + std::to_string(ll) + " is above the limit of " + std::to_string(kMaxRecordLength)
            + ".";
    // Every byte copied must come from this line, never from what HexData held before.
    const std::size_t needed = 4 + ll;
    if (report.converted < 0 || static_cast<std::size_t>(report.converted) < needed) {
        const std::size_t inText = (line.size() - 9) / 2; // complete data pairs in the text
        if (inText < ll)
            return "the length field says " + dataBytes(ll) + " but the line holds only " + std::to_string(inText)
                + ".";
        if (needed > 127)
            return "the length field says " + dataBytes(ll) + " but one line can carry at most 123.";
        const std::size_t readable = static_cast<std::size_t>(report.converted) - 4;
        return "the length field says " + dataBytes(ll) + " but the line ends before its checksum, so only "
            + std::to_string(readable) + " of them can be read.";
    }
    if (chunkBytes + ll > maxChunkBytes)
        return "this record would make the chunk longer than " + std::to_string(maxChunkBytes) + " bytes.";
    return std::nullopt;
}

} // namespace

RecordConverter::RecordConverter(Format format, Sink sink)
    : format_(format)
    , sink_(std::move(sink))
{
}

void RecordConverter::printChunk()
{
    frameData_[1] = static_cast<std::uint8_t>(sequence_ & 255u);
    frameData_[0] = static_cast<std::uint8_t>((sequence_ / 256) & 255u);
    ++sequence_;
    frameData_[2] = static_cast<std::uint8_t>(chunkBytes_);
    const std::span<const std::uint8_t> chunk(frameData_.data(), 3 + chunkBytes_);
    sink_(format_ == Format::O ? DatatoStr2(chunk) : DatatoStr3(chunk));
    chunkBytes_ = 0;
    hexData_.fill(0);
    k_ = 0;
    firstPending_ = 0;
}

void RecordConverter::scramble()
{
    if (recordIndex_ % 8 == 0)
        previousSum_ = 0;
    ++recordIndex_;
    const std::size_t ll = hexData_[0];
    unsigned sum = 0;
    for (std::size_t j = 0; j < ll; ++j)
        sum += hexData_[4 + j];
    sum &= 0xFFu;
    if (previousSum_ >= 17 && previousSum_ <= 239) {
        const std::size_t hi = previousSum_ / 16; // 1 .. 14
        const std::size_t lo = previousSum_ & 15u; // 0 .. 15
        hexData_[3 + hi] = static_cast<std::uint8_t>(255 - hexData_[3 + hi]);
        if (lo != 0) {
            const unsigned b = hexData_[3 + lo];
            hexData_[3 + lo] = static_cast<std::uint8_t>(((b & 15u) << 4) | (b >> 4));
        }
    }
    previousSum_ = sum;
}

std::optional<InputError> RecordConverter::feed(std::string_view line, std::size_t lineNo)
{
    if (line.size() <= 10)
        return std::nullopt;
    if (line[7] != '0' || line[8] != '0') { // any non-data record closes the chunk
        if (chunkBytes_ > 0)
            printChunk();
        return std::nullopt;
    }
    if (line[0] != ':')
        return std::nullopt;

    const ParseReport report = StrtoData(line, hexData_);
    if (auto message = checkDataRecord(line, report, hexData_, chunkBytes_, kMaxChunkBytes))
        return InputError{lineNo, std::move(*message)};
    if (format_ == Format::PW)
        scramble();

    // Packed back to back; for 16-byte records this is the 16-byte slot of record k.
    const std::size_t ll = hexData_[0];
    const std::size_t base = 3 + chunkBytes_;
    for (std::size_t j = 0; j < ll; ++j)
        frameData_[base + j] = hexData_[4 + j];
    chunkBytes_ += ll;
    if (k_ == 0)
        firstPending_ = lineNo;
    if (++k_ == 8)
        printChunk();
    return std::nullopt;
}

ConversionResult convertRecords(const LineStore &list1, Format f)
{
    ConversionResult result;
    // A printed chunk is never longer than the record lines it came from, so the input size
    // bounds the output and the blob never has to grow and copy itself.
    result.lines.reserve(list1.size() / 8 + 1, list1.byteSize());
    RecordConverter converter(f, [&](std::string_view line) { result.lines.append(line); });
    for (std::size_t i = 0; i < list1.size(); ++i) {
        if ((result.error = converter.feed(list1.at(i), i + 1)))
            break;
    }
    return result;
}

} // namespace morven
