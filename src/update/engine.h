// The download engine: one step per reply, the announce frame, the retry count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace morven {

// Where a download stands: the line sent next, the line of the step before, and how many
// steps in a row found the line unchanged.
struct EngineState
{
    std::int16_t LineNo = 0;
    std::int16_t LastLineNo = 0;
    std::int16_t RetryCnt = 0;
};

// A line is sent at most this many times in a row.
inline constexpr int MaxSends = 11;
// The most lines one download can count: the line index is a signed 16-bit number.
inline constexpr std::size_t MaxDownloadLines = 32767;

// What one engine step asks of the window.
struct StepOutcome
{
    enum Kind { Failure, SendLine, Success, Nothing };
    Kind kind = Nothing;
    // The progress bar: maximum then value, when setProgress is true.
    bool setProgress = false;
    std::size_t maximum = 0;
    std::size_t value = 0;
    // The list line to send, for SendLine.
    std::size_t line = 0;
};

// One step of the download over a list of lineCount lines (the window switches its own step
// timer off first). A step that finds LineNo where the step before left it counts a retry; the
// eleventh send of one line fails instead.
StepOutcome engineStep(EngineState &state, std::size_t lineCount);

// The 17-byte announce frame ":W000002" / ":O000002" + the line count + CRC + ";": sequence 0,
// length 2, the count high byte first. Counts above 65535 keep their low 16 bits.
std::string announceFrame(char letter, std::size_t lineCount);

} // namespace morven
