// The record conversions: Intel HEX records to packed, CRC-protected download lines.
#pragma once

#include "records/inputerror.h"
#include "records/linestore.h"
#include "protocol/hexcodec.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace morven {

// Which button's conversion: ":O" lines, ":W" lines, or ":W" lines with scrambled data.
enum class Format { O, W, PW };

// Turns Intel HEX record lines into chunk lines one line at a time, so a file of any size
// converts in constant memory: the data bytes of up to eight data records are gathered into a
// chunk behind a 16-bit chunk number and a byte count, and every full chunk, or one closed by a
// non-data record, is printed by DatatoStr2 (Format::O) or DatatoStr3 (W, PW) and handed to the
// sink. The converter owns the record being read and the chunk being gathered, so nothing of an
// earlier conversion can reach a line of this one.
//
// Record fields are read with the record codec's digit rule, so a pair such as "0G" counts as
// 71. A data record is refused only where it cannot be converted safely: a length above 125,
// a length that promises more data bytes than the line holds, or a chunk past 255 bytes.
class RecordConverter
{
public:
    using Sink = std::function<void(std::string_view line)>;

    RecordConverter(Format format, Sink sink);

    // The next line of the record list (lineNo counts from 1). After an error the run is over.
    [[nodiscard]] std::optional<InputError> feed(std::string_view line, std::size_t lineNo);

    // Data records gathered since the last printed chunk: they print nothing unless a
    // non-data record follows them.
    int pendingRecords() const { return k_; }
    std::size_t pendingBytes() const { return chunkBytes_; }
    // The line of the first of them (0 when none is pending).
    std::size_t firstPendingLine() const { return firstPending_; }
    std::uint64_t linesPrinted() const { return sequence_ - 1; }

private:
    void printChunk();
    void scramble();

    static constexpr std::size_t kMaxChunkBytes = 255; // the byte count is sent as one byte

    Format format_;
    Sink sink_;
    HexRecord hexData_{}; // the record just read; bytes a short line does not reach stay 0
    // Chunk number (2 bytes), byte count, then the data bytes gathered so far.
    std::array<std::uint8_t, 3 + kMaxChunkBytes> frameData_{};
    std::size_t chunkBytes_ = 0;
    int k_ = 0;
    std::size_t firstPending_ = 0;
    // Wider than the two bytes that are printed, so long lists keep converting; the printed
    // number wraps after 65535.
    std::uint64_t sequence_ = 1;
    // The PW scrambling: each record is altered according to the data sum of the record before
    // it, the sum restarting at every eighth record of the whole run.
    std::uint64_t recordIndex_ = 0;
    unsigned previousSum_ = 0;
};

struct ConversionResult
{
    LineStore lines; // the lines printed, up to any refused line
    std::optional<InputError> error; // set when a line was refused
};

// The window's conversion of a whole list (see RecordConverter). Records still pending at the
// end print nothing. A refused record stops the run; the lines printed before it are kept.
ConversionResult convertRecords(const LineStore &list1, Format f);

} // namespace morven
