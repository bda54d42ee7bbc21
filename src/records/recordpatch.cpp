// A few bytes written over an image at an address, in the Intel HEX records that carry them.
#include "records/recordpatch.h"

#include "protocol/hexdigits.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace morven {

namespace {

std::string hexAddress(std::uint64_t a)
{
    std::string digits;
    for (int shift = a > 0xFFFFFFFFu ? 32 : 24; shift >= 0; shift -= 8)
        digits += hexByte(static_cast<std::uint8_t>(a >> shift));
    return "0x" + digits;
}

// Record bytes are read as the converter reads them, by the record codec's digit rule.
std::uint8_t pairAt(std::string_view record, std::size_t i)
{
    return recordPairValue(
        static_cast<unsigned char>(record[1 + 2 * i]), static_cast<unsigned char>(record[2 + 2 * i]));
}

} // namespace

std::optional<std::string> checkPatch(const Patch &patch)
{
    if (patch.bytes.empty())
        return "the patch holds no bytes";
    if (patch.bytes.size() > kMaxPatchBytes)
        return "the patch holds " + std::to_string(patch.bytes.size()) + " bytes, more than "
            + std::to_string(kMaxPatchBytes);
    if (patch.address + std::uint64_t(patch.bytes.size()) > (std::uint64_t(1) << 32))
        return "the patch's " + std::to_string(patch.bytes.size()) + " bytes at " + hexAddress(patch.address)
            + " run past the top of the 4 GiB address space";
    return std::nullopt;
}

RecordPatcher::RecordPatcher(Patch patch, Sink sink)
    : patch_(std::move(patch))
    , sink_(std::move(sink))
{ }

void RecordPatcher::writeRecord(std::uint8_t type, std::uint16_t offset, std::string_view bytes)
{
    line_.assign(11 + 2 * bytes.size(), ':');
    char *p = line_.data() + 1;
    unsigned sum = 0;
    auto put = [&](std::uint8_t b) {
        p = writeHexByte(p, b);
        sum += b;
    };
    put(static_cast<std::uint8_t>(bytes.size()));
    put(static_cast<std::uint8_t>(offset >> 8));
    put(static_cast<std::uint8_t>(offset));
    put(type);
    for (const char c : bytes)
        put(static_cast<std::uint8_t>(c));
    writeHexByte(p, static_cast<std::uint8_t>(0u - sum));
    sink_(line_);
}

void RecordPatcher::patchData(std::string_view record, std::uint64_t start, std::size_t count)
{
    const std::uint64_t from = std::max<std::uint64_t>(start, patch_.address);
    const std::uint64_t to = std::min<std::uint64_t>(start + count, patch_.address + patch_.bytes.size());
    if (from >= to) {
        sink_(record);
        return;
    }
    // Only the patched pairs and the checksum change; anything after the checksum stays as it was.
    line_.assign(record);
    for (std::uint64_t a = from; a < to; ++a) {
        const auto j = static_cast<std::size_t>(a - patch_.address);
        writeHexByte(line_.data() + 1 + 2 * (4 + (a - start)), static_cast<std::uint8_t>(patch_.bytes[j]));
        covered_ |= std::uint64_t(1) << j;
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i < 4 + count; ++i)
        sum += pairAt(line_, i);
    writeHexByte(line_.data() + 1 + 2 * (4 + count), static_cast<std::uint8_t>(0u - sum));
    sink_(line_);
}

void RecordPatcher::appendBeforeEnd()
{
    const std::size_t n = patch_.bytes.size();
    const std::uint64_t all = n == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << n) - 1;
    const std::uint64_t missing = all & ~covered_;
    // One record can carry only a run from the patch's start that follows on from the image.
    const bool run = (missing & 1) != 0 && (missing & (missing + 1)) == 0;
    if (added_ || !seenData_ || !run || lastEnd_ != patch_.address)
        return;
    if (lastEnd_ < base_ || lastEnd_ - base_ > 0xFFFF) {
        base_ = lastEnd_ & ~std::uint64_t(0xFFFF);
        const char upper[2] = {static_cast<char>(lastEnd_ >> 24), static_cast<char>(lastEnd_ >> 16)};
        writeRecord(4, 0, std::string_view(upper, 2));
    }
    writeRecord(0, static_cast<std::uint16_t>(lastEnd_ - base_),
        std::string_view(patch_.bytes).substr(0, static_cast<std::size_t>(std::popcount(missing))));
    covered_ |= missing;
    added_ = true;
}

void RecordPatcher::feed(std::string_view record)
{
    if (record.size() < 11) { // not a checked record: nothing to follow in it
        sink_(record);
        return;
    }
    const std::size_t count = pairAt(record, 0);
    const std::uint8_t type = pairAt(record, 3);
    if (record[7] == '0' && record[8] == '0') { // a data record, as the converter tells them
        if (count == 0) {
            sink_(record);
            return;
        }
        const std::uint64_t start = base_ + (std::uint64_t(pairAt(record, 1)) << 8 | pairAt(record, 2));
        low_ = seenData_ ? std::min(low_, start) : start;
        high_ = seenData_ ? std::max(high_, start + count) : start + count;
        lastEnd_ = start + count;
        seenData_ = true;
        dataAfterAdded_ = dataAfterAdded_ || added_;
        patchData(record, start, count);
        return;
    }
    if ((type == 4 || type == 2) && count >= 2) {
        const std::uint64_t value = std::uint64_t(pairAt(record, 4)) << 8 | pairAt(record, 5);
        base_ = type == 4 ? value << 16 : value << 4;
    } else if (type == 1) {
        appendBeforeEnd();
    }
    sink_(record);
}

std::optional<std::string> RecordPatcher::finish() const
{
    const std::size_t n = patch_.bytes.size();
    const std::uint64_t all = n == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << n) - 1;
    const std::uint64_t missing = all & ~covered_;
    if (missing == 0 && !dataAfterAdded_)
        return std::nullopt;
    const std::uint64_t at = patch_.address + (missing ? std::countr_zero(missing) : 0);
    const std::string bytes = std::to_string(n) + (n == 1 ? " byte" : " bytes");
    std::string message = "address " + hexAddress(at)
        + (at == patch_.address ? " (" + bytes + ")" : ", of the " + bytes + " at " + hexAddress(patch_.address) + ",")
        + " is outside the image ";
    if (!seenData_)
        return message + "(it holds no data): there is nothing to write it into";
    message += "(" + hexAddress(low_) + " to " + hexAddress(high_ - 1) + "): a record can only be added right after "
        + "its last byte, at " + hexAddress(lastEnd_);
    if (dataAfterAdded_)
        message += " after the data records that follow its end-of-file record";
    return message + ", because download lines carry no address";
}

} // namespace morven
