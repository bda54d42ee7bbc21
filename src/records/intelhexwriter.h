// A memory image written as the Intel HEX records srec_cat writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace morven {

// Writes a memory image as Intel HEX record lines exactly as srec_cat -intel -obs=16 does:
// an extended linear address record (type 04) before the first data record and before every
// data record whose upper 16 address bits differ from the last one written; every contiguous
// run cut into 16-byte data records counted from the run's first address (so a record may cross
// a 64 KiB boundary), except that srec_cat keeps its image in blocks of 1792 bytes and starts a
// new record at every multiple of 1792; then a start address record (type 05) if there is a
// start address, and the end record.
class IntelHexWriter
{
public:
    using Sink = std::function<void(std::string_view line)>; // one record line, no line end

    explicit IntelHexWriter(Sink sink);

    // Bytes at `address`; calls come in ascending address order and never overlap. Bytes that
    // continue the previous call's run fill its records further.
    void data(std::uint32_t address, std::string_view bytes);
    // Writes what is pending, the start address record if there is one, and the end record.
    void finish(std::optional<std::uint32_t> startAddress);

private:
    void flush();
    void writeRecord(std::uint8_t type, std::uint16_t offset, const unsigned char *bytes, std::size_t count);

    static constexpr std::size_t kRecordBytes = 16;
    static constexpr std::uint64_t kBlockBytes = 7 * 256;

    Sink sink_;
    std::uint64_t recordAddress_ = 0; // of pending_[0]
    unsigned char pending_[kRecordBytes] = {};
    std::size_t pendingCount_ = 0;
    std::optional<std::uint16_t> upper_; // what the last type 04 record said
    std::string line_; // reused for every record
};

} // namespace morven
