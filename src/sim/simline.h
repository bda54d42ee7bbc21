// One line of the simulated target to the PC: frame cutting, timing and replies on their way
// out; the TCP and pseudo-terminal lines derive from it. Private to the simulated target.
#pragma once

#include "link/bytes.h"
#include "sim/logging.h"
#include "sim/pacedline.h"
#include "sim/simtarget.h"

#include <QTimer>

#include <algorithm>
#include <deque>
#include <thread>

namespace morven::sim {

namespace detail {

inline std::optional<TimePoint> earliest(std::optional<TimePoint> a, std::optional<TimePoint> b)
{
    if (!a)
        return b;
    if (!b)
        return a;
    return std::min(*a, *b);
}

} // namespace detail

// One line to the PC: its own frame cutting, its simulated timing in both directions, and the
// replies on their way out. The derived classes move the bytes.
class SimTarget::Line : public QObject
{
public:
    explicit Line(SimTarget &target)
        : QObject(&target)
        , target_(target)
    {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        connect(&timer_, &QTimer::timeout, this, &Line::process);
    }

    // Bytes the PC sent, arriving now.
    void arrived(std::string_view bytes)
    {
        in_.setByteTime(PacedLine::byteTimeFor(target_.transport_.baud));
        in_.push(bytes, Clock::now());
        process();
    }

    void queueReply(const std::string &reply)
    {
        const TransportOptions &t = target_.transport_;
        out_.setByteTime(PacedLine::byteTimeFor(t.baud));
        const TimePoint start = Clock::now() + std::chrono::milliseconds(std::max(0, t.replyDelayMs));
        if (t.splitReplies && reply.size() > 1) {
            const std::string_view text(reply);
            const std::size_t half = text.size() / 2;
            out_.push(text.substr(0, half), start);
            out_.push(text.substr(half), out_.freeAt() + std::chrono::milliseconds(std::max(0, t.splitGapMs)));
        } else {
            out_.push(reply, start);
        }
        inFlight_.push_back({reply, reply.size()});
    }

    // Forgets everything on its way in either direction.
    void discard()
    {
        in_.clear();
        out_.clear();
        inFlight_.clear();
        assembler_.reset();
        timer_.stop();
    }

    // No more work once the line is being taken down.
    virtual void retire()
    {
        retired_ = true;
        discard();
    }
    bool retired() const { return retired_; }

    virtual void hangUp() { }

protected:
    // Hands bytes to the system.
    virtual void write(std::string_view bytes) = 0;

    SimTarget &target_;

private:
    void process()
    {
        if (retired_)
            return;
        const auto byteTime = PacedLine::byteTimeFor(target_.transport_.baud);
        // A frame without ';' ends after a pause; on a slow line the pause counts from the end
        // of a byte time, so bytes sent back to back never look like one.
        assembler_.setIdle(target_.bootloader_.options().idle + std::chrono::ceil<std::chrono::milliseconds>(byteTime));

        TimePoint now = Clock::now();
        std::vector<std::string> frames;
        TimePoint first;
        TimePoint last;
        const std::size_t ignoredBefore = assembler_.ignoredBytes();
        const std::size_t overlongBefore = assembler_.overlongFrames();
        for (std::string run = in_.take(now, &first, &last); !run.empty(); run = in_.take(now, &first, &last))
            assembler_.feed(run, first, last, frames);
        if (assembler_.ignoredBytes() != ignoredBefore)
            qCInfo(lcSim) << "ignored" << assembler_.ignoredBytes() - ignoredBefore << "bytes outside a frame";
        if (assembler_.overlongFrames() != overlongBefore)
            qCInfo(lcSim) << "cut" << assembler_.overlongFrames() - overlongBefore << "overlong frames short";
        assembler_.poll(now, frames);
        if (!frames.empty()) {
            target_.handleFrames(*this, frames);
            if (retired_)
                return;
            now = Clock::now();
        }

        for (std::string run = out_.take(now); !run.empty(); run = out_.take(now)) {
            write(run);
            if (!account(run.size()))
                return;
        }
        schedule();
    }

    // Counts written bytes against the replies in flight; false when the line went away.
    bool account(std::size_t written)
    {
        while (written > 0 && !inFlight_.empty()) {
            auto &[reply, left] = inFlight_.front();
            const std::size_t n = std::min(left, written);
            left -= n;
            written -= n;
            if (left == 0) {
                const QByteArray done = bytesOf(reply);
                inFlight_.pop_front();
                emit target_.replySent(done);
                if (retired_)
                    return false;
            }
        }
        return true;
    }

    void schedule()
    {
        // Incoming bytes matter only once a run is in, as frames are looked at whole. Replies
        // leave as their bytes come through, but a couple of milliseconds at a time at most,
        // so a fast line costs few wake-ups and a slow one still trickles.
        std::optional<TimePoint> outNext;
        if (const auto due = out_.nextDue())
            outNext = std::min(*out_.runDone(), *due + std::chrono::milliseconds(2));
        const auto next = detail::earliest(detail::earliest(in_.runDone(), outNext), assembler_.deadline());
        if (!next) {
            timer_.stop();
            return;
        }
        const auto wait = *next - Clock::now();
        if (wait > std::chrono::milliseconds(2)) {
            timer_.start(std::chrono::floor<std::chrono::milliseconds>(wait) - std::chrono::milliseconds(1));
            return;
        }
        // The last stretch is slept exactly: a timer would be up to a millisecond late on every
        // frame, which at 115200 baud is several percent of a line's time on the wire.
        if (wait > std::chrono::nanoseconds(0))
            std::this_thread::sleep_until(*next);
        timer_.start(0);
    }

    FrameAssembler assembler_;
    PacedLine in_;
    PacedLine out_;
    std::deque<std::pair<std::string, std::size_t>> inFlight_; // reply, bytes not yet written
    QTimer timer_;
    bool retired_ = false;
};

} // namespace morven::sim
