// A memory image written as the Intel HEX records srec_cat writes.
#include "records/intelhexwriter.h"

#include "protocol/hexcodec.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace morven {

IntelHexWriter::IntelHexWriter(Sink sink)
    : sink_(std::move(sink))
{ }

void IntelHexWriter::data(std::uint32_t address, std::string_view bytes)
{
    if (bytes.empty())
        return;
    std::uint64_t at = address;
    if (pendingCount_ > 0 && at != recordAddress_ + pendingCount_)
        flush();
    while (!bytes.empty()) {
        if (pendingCount_ == 0)
            recordAddress_ = at;
        const auto toBlockEnd = static_cast<std::size_t>(kBlockBytes - at % kBlockBytes);
        const std::size_t n = std::min({kRecordBytes - pendingCount_, bytes.size(), toBlockEnd});
        std::memcpy(pending_ + pendingCount_, bytes.data(), n);
        pendingCount_ += n;
        at += n;
        bytes.remove_prefix(n);
        if (pendingCount_ == kRecordBytes || n == toBlockEnd)
            flush();
    }
}

void IntelHexWriter::finish(std::optional<std::uint32_t> startAddress)
{
    flush();
    if (startAddress) {
        const std::uint32_t a = *startAddress;
        const unsigned char bytes[4] = {static_cast<unsigned char>(a >> 24), static_cast<unsigned char>(a >> 16),
            static_cast<unsigned char>(a >> 8), static_cast<unsigned char>(a)};
        writeRecord(5, 0, bytes, 4);
    }
    writeRecord(1, 0, nullptr, 0);
}

void IntelHexWriter::flush()
{
    if (pendingCount_ == 0)
        return;
    const auto upper = static_cast<std::uint16_t>(recordAddress_ >> 16);
    if (upper != upper_) {
        const unsigned char bytes[2] = {static_cast<unsigned char>(upper >> 8), static_cast<unsigned char>(upper)};
        writeRecord(4, 0, bytes, 2);
        upper_ = upper;
    }
    writeRecord(0, static_cast<std::uint16_t>(recordAddress_), pending_, pendingCount_);
    pendingCount_ = 0;
}

void IntelHexWriter::writeRecord(std::uint8_t type, std::uint16_t offset, const unsigned char *bytes, std::size_t count)
{
    line_.assign(11 + 2 * count, ':');
    char *p = line_.data() + 1;
    unsigned sum = 0;
    auto put = [&](std::uint8_t b) {
        p = writeHexByte(p, b);
        sum += b;
    };
    put(static_cast<std::uint8_t>(count));
    put(static_cast<std::uint8_t>(offset >> 8));
    put(static_cast<std::uint8_t>(offset));
    put(type);
    for (std::size_t i = 0; i < count; ++i)
        put(bytes[i]);
    writeHexByte(p, static_cast<std::uint8_t>(0u - sum));
    sink_(line_);
}

} // namespace morven
