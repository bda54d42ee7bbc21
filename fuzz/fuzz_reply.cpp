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
// The outcome is compared with a reference of the reply rules written from the protocol's
// description (decoding, sequence number, status, and the O/W/K/U/S table).
#include "fuzzcheck.h"

#include "update/dispatcher.h"
#include "update/engine.h"

#include <cstdint>
#include <limits>
#include <memory>

using morven::EngineState;
using morven::ReplyAction;
using morven::ReplyState;
using morven::StepOutcome;

namespace {

// Digit value on the reply side: only upper-case letters count as hex digits.
int replyDigit(std::uint8_t c)
{
    if (c > 64)
        return c - 55;
    if (c >= 48)
        return c - 48;
    return c;
}

struct Expected
{
    ReplyState reply;
    EngineState engine;
    ReplyAction action = ReplyAction::None;
};

Expected referenceDispatch(
    const ReplyState &reply, const EngineState &engine, const std::uint8_t *data, std::size_t size, std::int16_t L)
{
    Expected e{reply, engine, ReplyAction::None};
    // The receive step never claims more than it has; the dispatcher stops at the batch's end.
    const std::size_t length = L < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(L), size);
    if (length < 3)
        return e;
    e.reply.RecCmd = data[1];
    std::size_t n = fuzzref::halfToEven(length - 3);
    if (n > 128)
        n = 128;
    std::uint8_t bytes[128] = {};
    for (std::size_t k = 0; k < n; ++k) {
        FUZZ_CHECK(2 * k + 3 < length); // the rounding never asks for a character past the batch
        const int value = replyDigit(data[2 * k + 2]) * 16 + replyDigit(data[2 * k + 3]);
        bytes[k] = value > 255 ? 0 : static_cast<std::uint8_t>(value);
    }
    if (n < 3)
        return e;
    if (bytes[0] < 0x80)
        e.reply.RecNo = static_cast<std::int16_t>(bytes[0] * 256 + bytes[1]);
    const std::uint8_t status = n > 3 ? bytes[3] : 0;
    switch (e.reply.RecCmd) {
    case 'U':
        e.action = ReplyAction::UpdateMode;
        break;
    case 'S':
        e.action = ReplyAction::UserProgram;
        break;
    case 'K':
        if (e.reply.RecNo == 0)
            e.action = status == 0 ? ReplyAction::EraseFailure
                : status == 3      ? ReplyAction::EraseSuccess
                                   : ReplyAction::EraseCheckEmpty;
        break;
    case 'O':
    case 'W': {
        const ReplyAction step = e.reply.RecCmd == 'O' ? ReplyAction::StepO : ReplyAction::StepW;
        if (e.reply.RecNo <= 0) {
            if (status == 1) {
                e.engine.LineNo = 0;
                e.action = step;
            }
        } else if (status == 1) {
            // The index cannot pass the top of its range; the step then counts a repeat.
            if (e.engine.LineNo < std::numeric_limits<std::int16_t>::max())
                ++e.engine.LineNo;
            e.action = step;
        } else if (status == 0) {
            e.action = step;
        }
        break;
    }
    default:
        break;
    }
    return e;
}

void checkStep(const EngineState &before, std::size_t lineCount)
{
    EngineState state = before;
    const StepOutcome out = morven::engineStep(state, lineCount);
    FUZZ_CHECK(state.LineNo == before.LineNo);
    if (before.LineNo != before.LastLineNo) {
        FUZZ_CHECK(state.LastLineNo == before.LineNo);
        FUZZ_CHECK(state.RetryCnt == 0);
        FUZZ_CHECK(out.kind != StepOutcome::Failure);
    } else {
        FUZZ_CHECK(state.LastLineNo == before.LastLineNo);
        const int retry
            = before.RetryCnt < std::numeric_limits<std::int16_t>::max() ? before.RetryCnt + 1 : before.RetryCnt;
        FUZZ_CHECK(state.RetryCnt == retry);
        // The first send and ten repeats; the eleventh repeat fails and sends nothing.
        FUZZ_CHECK((out.kind == StepOutcome::Failure) == (retry > 10));
    }
    if (out.kind == StepOutcome::Failure) {
        FUZZ_CHECK(!out.setProgress);
        return;
    }
    FUZZ_CHECK(out.setProgress);
    FUZZ_CHECK(out.maximum == lineCount);
    FUZZ_CHECK(out.value <= out.maximum);
    if (before.LineNo >= 0) {
        const auto line = static_cast<std::size_t>(before.LineNo);
        FUZZ_CHECK(out.kind
            == (line < lineCount        ? StepOutcome::SendLine
                    : line == lineCount ? StepOutcome::Success
                                        : StepOutcome::Nothing));
        if (line <= lineCount)
            FUZZ_CHECK(out.value == line);
    }
    if (out.kind == StepOutcome::SendLine)
        FUZZ_CHECK(out.line < lineCount);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzref::Header h(data, size);
    const auto L = static_cast<std::int16_t>(h.u16());
    ReplyState reply;
    reply.RecCmd = h.u8();
    reply.RecNo = static_cast<std::int16_t>(h.u16());
    EngineState engine;
    engine.LineNo = static_cast<std::int16_t>(h.u16());
    engine.LastLineNo = static_cast<std::int16_t>(h.u16());
    engine.RetryCnt = static_cast<std::int16_t>(h.u16());
    const std::size_t lineCount = h.u32();

    // Exactly the batch's bytes on the heap, so a read past them is an AddressSanitizer report.
    const std::string_view batch = h.rest();
    const std::size_t n = batch.size();
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[n]);
    std::copy(batch.begin(), batch.end(), copy.get());

    const ReplyState replyBefore = reply;
    const EngineState engineBefore = engine;
    const ReplyAction action = morven::dispatchReply(reply, engine, copy.get(), n, L);

    const Expected e = referenceDispatch(replyBefore, engineBefore, copy.get(), n, L);
    FUZZ_CHECK(action == e.action);
    FUZZ_CHECK(reply.RecCmd == e.reply.RecCmd && reply.RecNo == e.reply.RecNo);
    FUZZ_CHECK(engine.LineNo == e.engine.LineNo);
    // The dispatcher moves LineNo only to 0 or one up, and never touches the step's own state.
    FUZZ_CHECK(engine.LineNo == engineBefore.LineNo || engine.LineNo == 0 || engine.LineNo == engineBefore.LineNo + 1);
    FUZZ_CHECK(engine.LastLineNo == engineBefore.LastLineNo && engine.RetryCnt == engineBefore.RetryCnt);
    if (engine.LineNo != engineBefore.LineNo)
        FUZZ_CHECK(action == ReplyAction::StepO || action == ReplyAction::StepW);

    // The step the dispatcher asks for, or else one from the same state all the same.
    checkStep(engine, lineCount);
    return 0;
}
