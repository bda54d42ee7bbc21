// Replies cut out of a byte stream as soon as each is complete.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace morven {

// Cuts the target's replies out of a byte stream as soon as each is complete: a frame runs
// from ':' to ';'. Bytes outside a frame are dropped, a ':' inside a frame starts it afresh,
// and a frame that grows past maxFrame bytes is dropped whole, so noise can never make the
// buffer grow without end.
class ReplyFramer
{
public:
    explicit ReplyFramer(std::size_t maxFrame = 512)
        : maxFrame_(maxFrame)
    { }

    // Appends every frame completed by these bytes to `frames`.
    void feed(std::string_view bytes, std::vector<std::string> &frames);
    void reset();
    // Bytes dropped so far: outside frames, or in frames too long to keep.
    std::size_t droppedBytes() const { return dropped_; }

private:
    std::string pending_;
    bool inFrame_ = false;
    std::size_t maxFrame_;
    std::size_t dropped_ = 0;
};

} // namespace morven
