// The simulated line's timing: one byte per byte time at a baud rate.
#include "sim/pacedline.h"

#include <algorithm>

namespace morven::sim {

std::chrono::nanoseconds PacedLine::byteTimeFor(int baud)
{
    if (baud <= 0)
        return std::chrono::nanoseconds(0);
    return std::chrono::nanoseconds(10'000'000'000LL / baud);
}

void PacedLine::push(std::string_view bytes, TimePoint earliest)
{
    if (bytes.empty())
        return;
    const TimePoint start = std::max(earliest, freeAt_);
    runs_.push_back(Run{std::string(bytes), 0, start, byteTime_});
    freeAt_ = start + byteTime_ * static_cast<long long>(bytes.size());
}

std::string PacedLine::take(TimePoint now, TimePoint *firstAt, TimePoint *lastAt)
{
    if (runs_.empty())
        return {};
    Run &run = runs_.front();
    std::size_t through = run.bytes.size();
    if (run.byteTime.count() > 0) {
        if (now < run.start)
            return {};
        through = std::min(through, static_cast<std::size_t>((now - run.start) / run.byteTime));
    } else if (now < run.start) {
        return {};
    }
    if (through <= run.taken)
        return {};
    std::string out = run.bytes.substr(run.taken, through - run.taken);
    if (firstAt)
        *firstAt = run.start + run.byteTime * static_cast<long long>(run.taken + 1);
    if (lastAt)
        *lastAt = run.start + run.byteTime * static_cast<long long>(through);
    run.taken = through;
    if (run.taken == run.bytes.size())
        runs_.pop_front();
    return out;
}

std::optional<TimePoint> PacedLine::nextDue() const
{
    if (runs_.empty())
        return std::nullopt;
    const Run &run = runs_.front();
    return run.start + run.byteTime * static_cast<long long>(run.taken + 1);
}

std::optional<TimePoint> PacedLine::runDone() const
{
    if (runs_.empty())
        return std::nullopt;
    const Run &run = runs_.front();
    return run.start + run.byteTime * static_cast<long long>(run.bytes.size());
}

void PacedLine::clear()
{
    runs_.clear();
    freeAt_ = TimePoint{};
}

} // namespace morven::sim
