// A few bytes written over an image at an address, in the Intel HEX records that carry them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace morven {

// Bytes that replace the image's bytes from `address` on, such as a unit's serial number.
struct Patch
{
    std::uint32_t address = 0;
    std::string bytes; // 1 to kMaxPatchBytes

    friend bool operator==(const Patch &, const Patch &) = default;
};
inline constexpr std::size_t kMaxPatchBytes = 64;

// Why a patch fits no image at all (no bytes, too many, past the top of 4 GiB), or nothing.
[[nodiscard]] std::optional<std::string> checkPatch(const Patch &patch);

// Writes a patch into a stream of checked Intel HEX records on their way to the converter. Each
// data record's absolute address is followed through the extended linear (04) and segment (02)
// address records; the patch bytes that fall inside a data record replace its bytes there and
// its checksum is made anew, so whatever is computed from the records later (scrambling, CRCs)
// covers the patched bytes. A record is taken to run on past a 64 KiB boundary, as srec_cat
// writes them.
//
// Download lines carry no address, so bytes can be added only where the image goes on: when the
// patch starts exactly where the last data record ends, the bytes no record carries come as one
// more data record (after a 04 record if its upper address bits differ) just before the
// end-of-file record. Any other patch byte outside the image is refused by finish().
class RecordPatcher
{
public:
    using Sink = std::function<void(std::string_view record)>;

    // `patch` must pass checkPatch.
    RecordPatcher(Patch patch, Sink sink);

    // One record whose checksum is right; it goes to the sink, patched, with any added records.
    void feed(std::string_view record);
    // Why the patch did not land whole: the address outside the image, the image's range.
    [[nodiscard]] std::optional<std::string> finish() const;

private:
    void patchData(std::string_view record, std::uint64_t start, std::size_t count);
    void appendBeforeEnd();
    void writeRecord(std::uint8_t type, std::uint16_t offset, std::string_view bytes);

    Patch patch_;
    Sink sink_;
    std::uint64_t base_ = 0; // what the last 04 or 02 record said
    std::uint64_t covered_ = 0; // bit i: patch byte i was written into a record
    bool seenData_ = false;
    std::uint64_t low_ = 0; // the image's lowest data address
    std::uint64_t high_ = 0; // one past its highest
    std::uint64_t lastEnd_ = 0; // one past the last data record in file order
    bool added_ = false;
    bool dataAfterAdded_ = false; // the added record would no longer follow the last byte
    std::string line_; // reused for every record written
};

} // namespace morven
