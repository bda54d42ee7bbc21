// Raw binary input turned into the Intel HEX records srec_cat writes for it.
#include "records/binaryreader.h"

#include <algorithm>
#include <utility>

namespace morven {

BinaryReader::BinaryReader(std::uint32_t address, IntelHexWriter::Sink sink)
    : writer_(std::move(sink))
    , address_(address)
    , next_(address)
    , hold_(kAddressSpace - address <= kHeldMost)
{ }

std::optional<InputError> BinaryReader::add(std::string_view bytes)
{
    if (next_ < kAddressSpace && !bytes.empty()) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kAddressSpace - next_, bytes.size()));
        if (hold_)
            held_.append(bytes.substr(0, n));
        else
            writer_.data(static_cast<std::uint32_t>(next_), bytes.substr(0, n));
        next_ += n;
        bytes.remove_prefix(n);
    }
    if (bytes.empty())
        return std::nullopt;
    // Wrapped round to 0: these bytes come before the held ones, and must not reach them.
    if (!hold_)
        return InputError{0, "at this load address the file would run past the top of the 4 GiB address space."};
    if (next_ + bytes.size() > kAddressSpace + address_)
        return InputError{0, "the file is larger than the 4 GiB address space."};
    writer_.data(static_cast<std::uint32_t>(next_ - kAddressSpace), bytes);
    next_ += bytes.size();
    return std::nullopt;
}

std::optional<InputError> BinaryReader::finish()
{
    if (!held_.empty())
        writer_.data(address_, held_);
    held_.clear();
    writer_.finish(std::nullopt);
    return std::nullopt;
}

} // namespace morven
