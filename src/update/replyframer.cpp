// Replies cut out of a byte stream as soon as each is complete.
#include "update/replyframer.h"

namespace morven {

void ReplyFramer::feed(std::string_view bytes, std::vector<std::string> &frames)
{
    for (const char c : bytes) {
        if (c == ':') {
            dropped_ += pending_.size();
            pending_.assign(1, c);
            inFrame_ = true;
            continue;
        }
        if (!inFrame_) {
            ++dropped_;
            continue;
        }
        pending_.push_back(c);
        if (c == ';') {
            frames.push_back(std::move(pending_));
            pending_.clear();
            inFrame_ = false;
        } else if (pending_.size() >= maxFrame_) {
            dropped_ += pending_.size();
            pending_.clear();
            inFrame_ = false;
        }
    }
}

void ReplyFramer::reset()
{
    pending_.clear();
    inFrame_ = false;
}

} // namespace morven
