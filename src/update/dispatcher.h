// The response dispatcher CommRec: reply decoding and what each reply makes happen.
#pragma once

#include "update/engine.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace morven {

// The command letter and sequence number of the latest reply.
struct ReplyState
{
    std::uint8_t RecCmd = 0;
    std::int16_t RecNo = 0;
};

// A reply batch decoded as hex text: the letter at position 1, then a byte per pair of
// characters. Only upper-case digits are hexadecimal; a pair worth more than 255 leaves 0.
struct DecodedReply
{
    bool hasLetter = false; // at least 3 characters came
    std::uint8_t letter = 0;
    int count = 0; // bytes decoded, at most 128
    std::array<std::uint8_t, 129> bytes{};
};
DecodedReply decodeReply(const std::uint8_t *data, std::size_t size, std::int16_t L);

// What the window does after a reply.
enum class ReplyAction {
    None,
    UpdateMode, // stop the probe, then say the target is in update mode
    UserProgram, // stop the probe, then say the user program runs
    EraseFailure,
    EraseSuccess,
    EraseCheckEmpty,
    StepO, // run the "O" engine step
    StepW, // run the "W" engine step
};

// Decodes the L bytes of a reply batch and acts on its letter: records RecCmd and RecNo,
// moves LineNo for "O" and "W" acknowledgements, and says what the window does next.
// Reads at most `size` bytes whatever L says.
ReplyAction dispatchReply(
    ReplyState &reply, EngineState &engine, const std::uint8_t *data, std::size_t size, std::int16_t L);

} // namespace morven
