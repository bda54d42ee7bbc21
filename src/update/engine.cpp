// The download engine: one step per reply, the announce frame, the retry count.
#include "update/engine.h"

#include "protocol/frame.h"

namespace morven {

StepOutcome engineStep(EngineState &state, std::size_t lineCount)
{
    StepOutcome out;
    if (state.LineNo != state.LastLineNo) {
        state.LastLineNo = state.LineNo;
        state.RetryCnt = 0;
    } else {
        if (state.RetryCnt < INT16_MAX)
            ++state.RetryCnt;
        if (state.RetryCnt > MaxSends - 1) {
            out.kind = StepOutcome::Failure;
            return out;
        }
    }
    const std::size_t line = state.LineNo < 0 ? 0 : std::size_t(state.LineNo);
    out.setProgress = true;
    out.maximum = lineCount;
    // Past the end of the list the bar stands at its maximum rather than run beyond it.
    out.value = line <= lineCount ? line : lineCount;
    if (line < lineCount) {
        out.kind = StepOutcome::SendLine;
        out.line = line;
    } else if (line == lineCount) {
        out.kind = StepOutcome::Success;
    }
    return out;
}

std::string announceFrame(char letter, std::size_t lineCount)
{
    const std::uint8_t bytes[] = {0x00, 0x00, 0x02, static_cast<std::uint8_t>((lineCount >> 8) & 0xFF),
        static_cast<std::uint8_t>(lineCount & 0xFF)};
    return buildFrame(letter, bytes);
}

} // namespace morven
