// The simulated target's bootloader: frames in, replies out, no I/O.
#include "sim/bootloader.h"

#include "protocol/checksum.h"
#include "protocol/frame.h"
#include "protocol/hexdigits.h"

#include <array>

namespace morven::sim {

namespace {

// A frame that never ends (no ';', no pause, no ':') is cut here so memory stays bounded.
constexpr std::size_t kMaxFrame = 64 * 1024;

// The byte whose two digits start at `pos`, or -1.
int byteAt(std::string_view text, std::size_t pos)
{
    if (pos + 1 >= text.size())
        return -1;
    const int hi = strictHexValue(static_cast<unsigned char>(text[pos]));
    const int lo = strictHexValue(static_cast<unsigned char>(text[pos + 1]));
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

// ":W000002" or ":O000002", four digits of line count, four of CRC, ";".
bool isAnnounce(std::string_view f)
{
    if (f.size() != 17 || f[0] != ':' || (f[1] != 'W' && f[1] != 'O') || f.substr(2, 6) != "000002" || f[16] != ';')
        return false;
    for (std::size_t i = 8; i < 16; ++i) {
        if (!isHexDigit(static_cast<unsigned char>(f[i])))
            return false;
    }
    return true;
}

std::string shortened(std::string_view frame)
{
    constexpr std::size_t kShown = 60;
    if (frame.size() <= kShown)
        return std::string(frame);
    return std::string(frame.substr(0, kShown)) + "... (" + std::to_string(frame.size()) + " bytes)";
}

} // namespace

void FrameAssembler::feed(std::string_view bytes, TimePoint first, TimePoint last, std::vector<std::string> &frames)
{
    poll(first, frames);
    if (bytes.empty())
        return;
    for (const char c : bytes) {
        if (c == ':') {
            if (inFrame_)
                finish(frames);
            inFrame_ = true;
            current_.assign(1, c);
            continue;
        }
        if (!inFrame_) {
            ++ignored_;
            continue;
        }
        current_.push_back(c);
        if (c != ';' && current_.size() >= kMaxFrame)
            ++overlong_;
        if (c == ';' || current_.size() >= kMaxFrame)
            finish(frames);
    }
    last_ = last;
}

void FrameAssembler::poll(TimePoint now, std::vector<std::string> &frames)
{
    if (inFrame_ && now - last_ >= idle_)
        finish(frames);
}

std::optional<TimePoint> FrameAssembler::deadline() const
{
    if (!inFrame_)
        return std::nullopt;
    return last_ + idle_;
}

void FrameAssembler::reset()
{
    inFrame_ = false;
    current_.clear();
}

void FrameAssembler::finish(std::vector<std::string> &frames)
{
    frames.push_back(std::move(current_));
    current_.clear();
    inFrame_ = false;
}

Bootloader::Bootloader(Options options)
    : options_(std::move(options))
    , assembler_(options_.idle)
    , poweredUp_(options_.powerUpAfter <= 0)
{ }

Bootloader::Output Bootloader::receive(std::string_view bytes, TimePoint now)
{
    std::vector<std::string> frames;
    assembler_.feed(bytes, now, frames);
    return run(frames);
}

Bootloader::Output Bootloader::poll(TimePoint now)
{
    std::vector<std::string> frames;
    assembler_.poll(now, frames);
    return run(frames);
}

Bootloader::Output Bootloader::run(std::vector<std::string> &frames)
{
    Output out;
    for (const std::string &frame : frames) {
        handle(frame, out);
        if (out.drop) {
            // The line is gone: whatever followed the dropping frame never arrived.
            assembler_.reset();
            break;
        }
    }
    return out;
}

Bootloader::Output Bootloader::handleFrame(std::string_view frame)
{
    Output out;
    handle(frame, out);
    return out;
}

std::string Bootloader::reply(char letter, std::uint16_t sequence, std::uint8_t status)
{
    const std::array<std::uint8_t, 4> bytes{
        static_cast<std::uint8_t>(sequence >> 8), static_cast<std::uint8_t>(sequence & 0xFF), 0x01, status};
    return buildFrame(letter, bytes);
}

int Bootloader::timesReceived(int line) const
{
    return line >= 0 && static_cast<std::size_t>(line) < received_.size() ? received_[static_cast<std::size_t>(line)]
                                                                          : 0;
}

int Bootloader::timesRejected(int line) const
{
    const auto it = rejected_.find(line);
    return it == rejected_.end() ? 0 : it->second;
}

void Bootloader::note(std::string text, Output &out)
{
    out.notes.push_back(text);
    notes_.push_back(std::move(text));
}

void Bootloader::handle(std::string_view frame, Output &out)
{
    frames_.emplace_back(frame);
    if (options_.silent) {
        note("silent, no reply to " + shortened(frame), out);
        return;
    }
    const bool linkTest = frame == ":U;";
    if (linkTest)
        ++linkTests_;
    if (!poweredUp_) {
        if (!linkTest) {
            note("not powered up, no reply to " + shortened(frame), out);
            return;
        }
        if (linkTests_ <= options_.powerUpAfter) {
            note("not powered up, link test " + std::to_string(linkTests_) + " of "
                    + std::to_string(options_.powerUpAfter) + " ignored",
                out);
            return;
        }
        poweredUp_ = true;
        note("powered up", out);
    }
    if (linkTest) {
        out.replies.push_back(reply('U', 0, 0));
        return;
    }
    if (frame.size() >= 2 && frame[0] == ':' && frame[1] == 'K') {
        eraseSelectors_.push_back(byteAt(frame, 8));
        out.replies.push_back(reply('K', 0, options_.eraseStatus));
        return;
    }
    if (isAnnounce(frame)) {
        handleAnnounce(frame, out);
        return;
    }
    if (!active_) {
        note("no download announced, no reply to " + shortened(frame), out);
        return;
    }
    handleDataLine(frame, out);
}

void Bootloader::handleAnnounce(std::string_view frame, Output &out)
{
    std::array<std::uint8_t, 5> bytes{
        0x00, 0x00, 0x02, static_cast<std::uint8_t>(byteAt(frame, 8)), static_cast<std::uint8_t>(byteAt(frame, 10))};
    const std::uint16_t crc = CRC16B(bytes);
    const int sentCrc = byteAt(frame, 12) | (byteAt(frame, 14) << 8);

    Announce a;
    a.kind = frame[1];
    a.count = bytes[3] * 256 + bytes[4];
    a.crcOk = sentCrc == crc;
    announces_.push_back(a);

    kind_ = a.kind;
    count_ = a.count;
    next_ = 0;
    active_ = true;
    accepted_.clear();
    out.replies.push_back(reply(kind_, 0, 1));
    note(std::string("announce ") + kind_ + ", " + std::to_string(count_) + " lines" + (a.crcOk ? "" : ", bad CRC"),
        out);
    if (count_ == 0) {
        active_ = false;
        out.downloadComplete = true;
        note("download complete, 0 lines", out);
    }
}

void Bootloader::handleDataLine(std::string_view frame, Output &out)
{
    const int k = next_;
    const auto index = static_cast<std::size_t>(k);
    if (received_.size() <= index)
        received_.resize(index + 1, 0);
    ++received_[index];
    const auto sequence = static_cast<std::uint16_t>(k + 1);

    if (options_.dropAtLine && *options_.dropAtLine == k && !dropped_) {
        dropped_ = true;
        out.drop = true;
        note("dropping the connection at line " + std::to_string(k + 1), out);
        return;
    }
    const auto planned = options_.rejections.find(k);
    if (planned != options_.rejections.end() && rejected_[k] < planned->second) {
        const int n = ++rejected_[k];
        out.replies.push_back(reply(kind_, sequence, 0));
        note("rejected line " + std::to_string(k + 1) + " (" + std::to_string(n) + " of "
                + std::to_string(planned->second) + ")",
            out);
        return;
    }
    accepted_.emplace_back(frame);
    ++next_;
    out.replies.push_back(reply(kind_, sequence, 1));
    if (next_ >= count_) {
        active_ = false;
        out.downloadComplete = true;
        note("download complete, " + std::to_string(count_) + " lines", out);
    }
}

} // namespace morven::sim
