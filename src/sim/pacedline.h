// The simulated line's timing: one byte per byte time at a baud rate.
#pragma once

#include "sim/bootloader.h"

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace morven::sim {

// A simulated line that carries one byte per byte time: byte i of a run that starts at s has
// fully arrived at s + (i + 1) * byteTime. A byte time of 0 lets every byte through at its
// start time.
class PacedLine
{
public:
    explicit PacedLine(std::chrono::nanoseconds byteTime = std::chrono::nanoseconds(0))
        : byteTime_(byteTime)
    { }

    // Ten bits per byte (start, eight data bits, stop); 0 baud means no pacing.
    static std::chrono::nanoseconds byteTimeFor(int baud);

    void setByteTime(std::chrono::nanoseconds byteTime) { byteTime_ = byteTime; }
    std::chrono::nanoseconds byteTime() const { return byteTime_; }

    // Queues bytes that start no sooner than `earliest`, and not before the bytes already
    // queued are through.
    void push(std::string_view bytes, TimePoint earliest);
    // Takes the bytes of one queued run that are through by `now` (call again for the next
    // run); `*firstAt` and `*lastAt` get the times the first and the last of them were through.
    std::string take(TimePoint now, TimePoint *firstAt = nullptr, TimePoint *lastAt = nullptr);
    // When the next queued byte is through.
    std::optional<TimePoint> nextDue() const;
    // When the last byte of the first queued run is through.
    std::optional<TimePoint> runDone() const;
    // When the last queued byte is (or was) through.
    TimePoint freeAt() const { return freeAt_; }
    bool empty() const { return runs_.empty(); }
    void clear();

private:
    struct Run
    {
        std::string bytes;
        std::size_t taken = 0;
        TimePoint start;
        std::chrono::nanoseconds byteTime;
    };
    std::chrono::nanoseconds byteTime_;
    std::deque<Run> runs_;
    TimePoint freeAt_{};
};

} // namespace morven::sim
