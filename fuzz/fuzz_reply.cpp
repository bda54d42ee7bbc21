// Reply dispatch and the engine step on arbitrary reply batches and arbitrary prior state.
//
// Input layout (big-endian, missing bytes read as 0):
//   0-1   L, the count the receive step claims (any int16: negative, or past the batch)
//   2     RecCmd before the call
//   3-4   RecNo before
//   5-6   LineNo before
//   7-8   LastLineNo before
//   9-10  RetryCnt before
//   11-14 line count of the download list
//   15-   the received bytes, handed over as a heap copy of exactly their size
//
// The outcome is compared with a reference of the reply rules (decoding, sequence number,
// status, the O/W/K/U/S table) and of the engine step.
#include "fuzzcheck.h"

#include "update/dispatcher.h"

#include <limits>
#include <memory>

using namespace morven;

namespace {

// Reply digits: only upper-case letters are hex digits, anything below '0' keeps its code.
int replyDigit(std::uint8_t c)
{
    return c > 64 ? c - 55 : c >= 48 ? c - 48 : c;
}

ReplyAction reference(ReplyState &reply, EngineState &engine, const std::uint8_t *data, std::size_t size, std::int16_t L)
{
    const std::size_t length = L < 0 ? 0 : std::min<std::size_t>(std::size_t(L), size);
    if (length < 3)
        return ReplyAction::None;
    reply.RecCmd = data[1];
    const std::size_t n = std::min<std::size_t>(fuzzref::halfToEven(length - 3), 128);
    std::uint8_t bytes[128] = {};
    for (std::size_t k = 0; k < n; ++k) {
        const int value = replyDigit(data[2 * k + 2]) * 16 + replyDigit(data[2 * k + 3]);
        bytes[k] = value > 255 ? 0 : std::uint8_t(value);
    }
    if (n < 3)
        return ReplyAction::None;
    if (bytes[0] < 0x80)
        reply.RecNo = std::int16_t(bytes[0] * 256 + bytes[1]);
    const std::uint8_t status = n > 3 ? bytes[3] : 0;
    switch (reply.RecCmd) {
    case 'U':
        return ReplyAction::UpdateMode;
    case 'S':
        return ReplyAction::UserProgram;
    case 'K':
        if (reply.RecNo != 0)
            return ReplyAction::None;
        return status == 0 ? ReplyAction::EraseFailure : status == 3 ? ReplyAction::EraseSuccess : ReplyAction::EraseCheckEmpty;
    case 'O':
    case 'W': {
        const ReplyAction step = reply.RecCmd == 'O' ? ReplyAction::StepO : ReplyAction::StepW;
        if (status == 1 && reply.RecNo <= 0)
            engine.LineNo = 0;
        else if (status == 1 && engine.LineNo < std::numeric_limits<std::int16_t>::max())
            ++engine.LineNo; // at the top of its range the step counts a repeat
        return status == 1 || (status == 0 && reply.RecNo > 0) ? step : ReplyAction::None;
    }
    default:
        return ReplyAction::None;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzref::Header h(data, size);
    const auto L = std::int16_t(h.u16());
    ReplyState reply{h.u8(), std::int16_t(h.u16())};
    EngineState engine{std::int16_t(h.u16()), std::int16_t(h.u16()), std::int16_t(h.u16())};
    const std::size_t lineCount = h.u32();
    const std::string_view batch = h.rest();
    // Exactly the batch's bytes on the heap: a read past them is an AddressSanitizer report.
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[batch.size()]);
    std::copy(batch.begin(), batch.end(), copy.get());

    ReplyState expectedReply = reply;
    EngineState expectedEngine = engine;
    const ReplyAction expected = reference(expectedReply, expectedEngine, copy.get(), batch.size(), L);
    FUZZ_CHECK(dispatchReply(reply, engine, copy.get(), batch.size(), L) == expected);
    FUZZ_CHECK(reply.RecCmd == expectedReply.RecCmd && reply.RecNo == expectedReply.RecNo);
    FUZZ_CHECK(engine.LineNo == expectedEngine.LineNo && engine.LastLineNo == expectedEngine.LastLineNo
        && engine.RetryCnt == expectedEngine.RetryCnt);

    // The engine step from there: a changed line resets the count, an unchanged one counts a
    // repeat and the eleventh repeat fails; the bar never passes its maximum.
    const EngineState before = engine;
    const StepOutcome out = engineStep(engine, lineCount);
    const bool repeat = before.LineNo == before.LastLineNo;
    const int retries = !repeat ? 0 : before.RetryCnt < std::numeric_limits<std::int16_t>::max() ? before.RetryCnt + 1 : before.RetryCnt;
    FUZZ_CHECK(engine.LineNo == before.LineNo && engine.LastLineNo == before.LineNo && engine.RetryCnt == retries);
    FUZZ_CHECK((out.kind == StepOutcome::Failure) == (retries > 10) && out.setProgress == (retries <= 10));
    if (out.kind == StepOutcome::Failure)
        return 0;
    FUZZ_CHECK(out.maximum == lineCount && out.value <= out.maximum);
    if (before.LineNo >= 0) {
        const auto line = std::size_t(before.LineNo);
        FUZZ_CHECK(out.kind == (line < lineCount ? StepOutcome::SendLine : line == lineCount ? StepOutcome::Success : StepOutcome::Nothing));
        FUZZ_CHECK(line > lineCount || out.value == line);
        FUZZ_CHECK(out.kind != StepOutcome::SendLine || out.line == line);
    }
    return 0;
}
