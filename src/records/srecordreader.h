// Motorola S-record input turned into the Intel HEX records srec_cat writes for it.
#pragma once

#include "records/inputerror.h"
#include "records/intelhexwriter.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace morven {

// Motorola S-records (S0 header, S1/S2/S3 data, S5/S6 count, S7/S8/S9 start address), one line
// at a time, turned into the Intel HEX record lines srec_cat writes for the same file. Keeps the
// image, sorted by address, until finish(). As srec_cat does: hex digits may be lower case, the
// header is not written, data may come in any order, bytes given twice must agree, an empty data
// record only counts for S5/S6, data running past 0xFFFFFFFF goes on at 0, and the first start
// address is the one written. Unlike srec_cat, a line that is not an S-record is refused rather
// than skipped; empty lines are skipped.
class SrecordReader
{
public:
    // `line` without its line end; `lineNo` from 1, for the error. After an error the reader is
    // of no further use.
    [[nodiscard]] std::optional<InputError> addLine(std::string_view line, std::size_t lineNo);
    // Writes the image, the start address and the end record to `sink`; the image is dropped.
    [[nodiscard]] std::optional<InputError> finish(const IntelHexWriter::Sink &sink);

private:
    // Bytes of one contiguous run, held at bytes[front..]: the room in front makes prepending
    // as cheap as appending, so records in descending order cost no more than ascending ones.
    struct Run
    {
        std::string bytes;
        std::size_t front = 0;
        std::size_t size() const { return bytes.size() - front; }
        const char *data() const { return bytes.data() + front; }
    };

    [[nodiscard]] std::optional<InputError> store(std::uint32_t address, std::string_view bytes, std::size_t lineNo);

    // By first address; runs neither overlap nor touch. Records in address order (either way) cost
    // little more than their bytes; scattered ones cost about 100 bytes per separate run until
    // the gaps between them fill.
    std::map<std::uint32_t, Run> runs_;
    std::optional<std::uint32_t> start_;
    std::uint32_t dataRecords_ = 0; // modulo 2^32, as the count records are compared
};

} // namespace morven
