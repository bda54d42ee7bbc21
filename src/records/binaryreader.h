// Raw binary input turned into the Intel HEX records srec_cat writes for it.
#pragma once

#include "records/inputerror.h"
#include "records/intelhexwriter.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morven {

// Raw bytes loaded at `address`, turned into the Intel HEX record lines srec_cat writes for
// the same file with -binary -offset, streamed: records go out as the bytes come. Like srec_cat,
// bytes past 0xFFFFFFFF go on at 0 and are written first; for that, a load address within
// 16 MiB of the top keeps its bytes below the top until finish(). A file that would pass the top
// from further down (nearly 4 GiB of it) is refused.
class BinaryReader
{
public:
    BinaryReader(std::uint32_t address, IntelHexWriter::Sink sink);

    // The next bytes of the file.
    [[nodiscard]] std::optional<InputError> add(std::string_view bytes);
    // Writes what is left and the end record (no start address).
    [[nodiscard]] std::optional<InputError> finish();

private:
    static constexpr std::uint64_t kAddressSpace = std::uint64_t(1) << 32;
    static constexpr std::uint64_t kHeldMost = 16u << 20;

    IntelHexWriter writer_;
    std::uint32_t address_;
    std::uint64_t next_; // address of the next byte, past kAddressSpace once wrapped
    bool hold_; // whether the bytes below the top wait for finish()
    std::string held_;
};

} // namespace morven
