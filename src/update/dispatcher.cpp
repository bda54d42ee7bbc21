// The response dispatcher CommRec: reply decoding and what each reply makes happen.
#include "update/dispatcher.h"

#include "protocol/hexdigits.h"

#include <cmath>

namespace morven {

DecodedReply decodeReply(const std::uint8_t *data, std::size_t size, std::int16_t L)
{
    DecodedReply out;
    const std::size_t length = L < 0 ? 0 : std::min<std::size_t>(std::size_t(L), size);
    if (length < 3)
        return out;
    out.hasLetter = true;
    out.letter = data[1];
    // (L - 3) / 2 rounded half to even: 2.5 gives 2, 3.5 gives 4.
    long n = std::lrint(double(length - 3) / 2.0);
    if (n > 128)
        n = 128;
    for (long k = 0; k < n; ++k) {
        const std::size_t hi = std::size_t(2 * k + 2);
        if (hi + 1 >= length)
            break;
        const unsigned value = replyDigitValue(data[hi]) * 16 + replyDigitValue(data[hi + 1]);
        out.bytes[std::size_t(k)] = value > 255 ? 0 : std::uint8_t(value);
        out.count = int(k + 1);
    }
    return out;
}

ReplyAction dispatchReply(
    ReplyState &reply, EngineState &engine, const std::uint8_t *data, std::size_t size, std::int16_t L)
{
    const DecodedReply r = decodeReply(data, size, L);
    if (!r.hasLetter)
        return ReplyAction::None;
    reply.RecCmd = r.letter;
    if (r.count < 3)
        return ReplyAction::None;
    // A sequence number of 0x8000 or more does not fit: the previous one stays.
    if (r.bytes[0] < 0x80)
        reply.RecNo = std::int16_t(r.bytes[0] * 256 + r.bytes[1]);
    const std::uint8_t status = r.bytes[3];

    switch (reply.RecCmd) {
    case 'U':
        return ReplyAction::UpdateMode;
    case 'S':
        return ReplyAction::UserProgram;
    case 'K':
        if (reply.RecNo != 0)
            return ReplyAction::None;
        if (status == 0)
            return ReplyAction::EraseFailure;
        if (status == 3)
            return ReplyAction::EraseSuccess;
        return ReplyAction::EraseCheckEmpty;
    case 'O':
    case 'W': {
        const ReplyAction step = reply.RecCmd == 'O' ? ReplyAction::StepO : ReplyAction::StepW;
        if (reply.RecNo <= 0) {
            if (status != 1)
                return ReplyAction::None;
            engine.LineNo = 0;
            return step;
        }
        if (status == 1) {
            // At the top of its range the index stays put, and the step counts a repeat.
            if (engine.LineNo < INT16_MAX)
                ++engine.LineNo;
            return step;
        }
        return status == 0 ? step : ReplyAction::None;
    }
    default:
        return ReplyAction::None;
    }
}

} // namespace morven
