// A whole update of one target as a state machine, for morvenctl.
#include "update/flashsession.h"

#include "update/bootframes.h"

namespace morven {

FlashSession::FlashSession(const LineStore &lines, const Options &options)
    : lines_(lines)
    , options_(options)
{
    // Unlike a window that has run before, a fresh session has sent no line yet: its first
    // line may go out 11 times like any other.
    engine_.LastLineNo = -1;
}

FlashSession::Step FlashSession::start()
{
    if (options_.waitForBootloader) {
        stage_ = Stage::WaitBootloader;
        ++linkTests_;
        return {std::string(frames::LinkTest), false};
    }
    return afterBootloader();
}

FlashSession::Step FlashSession::afterBootloader()
{
    if (options_.erase != Erase::None) {
        stage_ = Stage::Erase;
        eraseSent_ = true;
        return {std::string(options_.erase == Erase::Data ? frames::EraseData : frames::EraseFlash), false};
    }
    return announce();
}

FlashSession::Step FlashSession::announce()
{
    if (!options_.download) {
        stage_ = Stage::Done;
        return {std::string(), true};
    }
    stage_ = Stage::Announce;
    announceSent_ = true;
    return {announceFrame(options_.kind, lines_.size()), false};
}

FlashSession::Step FlashSession::fail(Failure failure)
{
    stage_ = Stage::Failed;
    failure_ = failure;
    return {std::string(), true};
}

FlashSession::Step FlashSession::onReply(std::string_view frame)
{
    if (stage_ == Stage::Done || stage_ == Stage::Failed)
        return {std::string(), true};
    // Acknowledgements that answer nothing this session sent (a stray one before the announce,
    // or one that skips the announce's) must not move the download.
    const EngineState before = engine_;
    const ReplyAction action = dispatchReply(reply_, engine_, reinterpret_cast<const std::uint8_t *>(frame.data()),
        frame.size(), std::int16_t(std::min<std::size_t>(frame.size(), INT16_MAX)));
    const bool acknowledgement = action == ReplyAction::StepO || action == ReplyAction::StepW;
    if (acknowledgement
        && (stage_ == Stage::WaitBootloader || stage_ == Stage::Erase
            || (stage_ == Stage::Announce && reply_.RecNo > 0))) {
        engine_ = before;
        ++strayAcknowledgements_;
        return {std::string(), false};
    }
    switch (stage_) {
    case Stage::WaitBootloader:
        if (action == ReplyAction::UpdateMode || action == ReplyAction::UserProgram)
            return afterBootloader();
        return {std::string(), false};
    case Stage::Erase:
        if (action == ReplyAction::EraseSuccess) {
            eraseStatus_ = 3;
            return announce();
        }
        if (action == ReplyAction::EraseFailure || action == ReplyAction::EraseCheckEmpty) {
            eraseStatus_ = action == ReplyAction::EraseFailure ? 0 : 1;
            return fail(Failure::EraseFailed);
        }
        return {std::string(), false};
    case Stage::Announce:
    case Stage::Download: {
        if (action != ReplyAction::StepO && action != ReplyAction::StepW)
            return {std::string(), false};
        const StepOutcome step = engineStep(engine_, lines_.size());
        if (step.kind == StepOutcome::Failure)
            return fail(Failure::LineRejected);
        stage_ = Stage::Download;
        if (step.kind == StepOutcome::Success) {
            acceptedUpTo(lines_.size());
            stage_ = Stage::Done;
            return {std::string(), true};
        }
        if (step.kind == StepOutcome::SendLine) {
            acceptedUpTo(step.line);
            if (step.line == lastLineSent_)
                ++retries_;
            lastLineSent_ = step.line;
            return {std::string(lines_.at(step.line)), false};
        }
        return {std::string(), false};
    }
    case Stage::Done:
    case Stage::Failed:
        break;
    }
    return {std::string(), true};
}

FlashSession::Step FlashSession::onReplyTimeout()
{
    if (stage_ == Stage::WaitBootloader) {
        if (options_.maxLinkTests > 0 && linkTests_ >= options_.maxLinkTests)
            return fail(Failure::NoBootloader);
        ++linkTests_;
        return {std::string(frames::LinkTest), false};
    }
    if (stage_ == Stage::Done || stage_ == Stage::Failed)
        return {std::string(), true};
    return fail(Failure::ReplyTimeout);
}

void FlashSession::acceptedUpTo(std::size_t line)
{
    // Every line before the one asked for now has been accepted; a new announce starts over.
    if (line < linesDone_) {
        linesDone_ = 0;
        bytesDone_ = 0;
    }
    for (; linesDone_ < line; ++linesDone_)
        bytesDone_ += lines_.at(linesDone_).size();
}

std::string FlashSession::failureText() const
{
    switch (failure_) {
    case Failure::None:
        return std::string();
    case Failure::NoBootloader:
        return "no bootloader answered the link test";
    case Failure::EraseFailed:
        return eraseStatus_ == 0 ? "erasing the flash failed" : "the flash was erased but is not blank";
    case Failure::LineRejected:
        return "line " + std::to_string(linesDone_ + 1) + " was rejected " + std::to_string(MaxSends) + " times";
    case Failure::ReplyTimeout:
        return "the target stopped answering";
    }
    return std::string();
}

} // namespace morven
