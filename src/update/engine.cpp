// The download engine: one step per reply, the announce frame, the retry count.
#include "update/engine.h"

#include "protocol/checksum.h"
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
    // Past the end the bar keeps its value rather than run beyond its maximum.
    out.value = line <= lineCount ? line : lineCount;
    if (line < lineCount) {
        out.kind = StepOutcome::SendLine;
        out.line = line;
    } else if (line == lineCount) {
        out.kind = StepOutcome::Success;
    }
    return out;
}

std::string announceFrame(Workspace &ws, char letter, std::size_t lineCount)
{
    ws.FrameData[0] = 0x00;
    ws.FrameData[1] = 0x00;
    ws.FrameData[2] = 0x02;
    ws.FrameData[3] = static_cast<std::uint8_t>((lineCount >> 8) & 0xFF);
    ws.FrameData[4] = static_cast<std::uint8_t>(lineCount & 0xFF);
    ws.FrameLen = 5;
    CRC16B(ws);
    ws.FrameData[5] = ws.CrcLo;
    ws.FrameData[6] = ws.CrcHi;

    return buildFrame(letter, ws.FrameData.data(), 5);
}

} // namespace morven
