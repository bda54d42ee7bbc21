// Reply framing of a byte stream, and an update session driven by the frames it cuts out.
//
// Input layout (missing bytes read as 0):
//   0    session options: bit 0 wait for the bootloader, bits 1-2 erase (0 none, 1 flash,
//        2 data, 3 flash), bit 3 "O" download instead of "W", bit 4 no download, bits 5-6 the
//        most link tests (0 = no limit)
//   1    lines in the download list
//   2    seed of the chunk sizes the stream is fed in
//   3-4  timeout mask: after reply frame i the session also hears that a reply timed out
//        when bit i % 16 is set
//   5    a small frame limit (2 to 65) for a second framer that exercises the dropping
//   6-   the byte stream from the target
//
// The frames must not depend on how the stream is cut into chunks, and must be exactly the
// ones a reference reading of the framing rules gives: a frame is a ':' up to the first ';'
// with no ':' in between, kept when it is no longer than the limit.
#include "fuzzcheck.h"

#include "update/bootframes.h"
#include "update/flashsession.h"
#include "records/linestore.h"
#include "update/replyframer.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

using morven::FlashSession;

namespace {

constexpr std::size_t kMaxFrame = 512;

struct Framed
{
    std::vector<std::string> frames;
    std::size_t dropped = 0;
};

Framed referenceFrames(std::string_view s, std::size_t maxFrame)
{
    Framed out;
    std::size_t inFrames = 0;
    std::size_t pending = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != ':')
            continue;
        std::size_t j = i + 1;
        while (j < s.size() && s[j] != ':' && s[j] != ';')
            ++j;
        if (j < s.size() && s[j] == ';') {
            if (j - i + 1 <= maxFrame) {
                out.frames.emplace_back(s.substr(i, j - i + 1));
                inFrames += j - i + 1;
            }
        } else if (j == s.size() && j - i < maxFrame) {
            pending = j - i; // still waiting for its ';'
        }
    }
    out.dropped = s.size() - inFrames - pending;
    return out;
}

// Next chunk size from a small generator the input seeds; 0 is a valid size too.
std::size_t nextChunk(std::uint32_t &state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state % 24;
}

Framed feedInChunks(std::string_view stream, std::size_t maxFrame, std::uint32_t seed)
{
    morven::ReplyFramer framer(maxFrame);
    Framed out;
    std::uint32_t state = seed * 2654435761u + 1;
    std::size_t pos = 0;
    while (pos < stream.size()) {
        const std::size_t n = std::min(nextChunk(state), stream.size() - pos);
        framer.feed(stream.substr(pos, n), out.frames);
        pos += n;
    }
    out.dropped = framer.droppedBytes();
    return out;
}

Framed feedWhole(std::string_view stream, std::size_t maxFrame)
{
    morven::ReplyFramer framer(maxFrame);
    Framed out;
    framer.feed(stream, out.frames);
    out.dropped = framer.droppedBytes();
    return out;
}

Framed feedBytewise(std::string_view stream, std::size_t maxFrame)
{
    morven::ReplyFramer framer(maxFrame);
    Framed out;
    for (std::size_t i = 0; i < stream.size(); ++i)
        framer.feed(stream.substr(i, 1), out.frames);
    out.dropped = framer.droppedBytes();
    return out;
}

void checkFraming(std::string_view stream, std::size_t maxFrame, std::uint32_t seed, Framed &whole)
{
    whole = feedWhole(stream, maxFrame);
    const Framed ref = referenceFrames(stream, maxFrame);
    FUZZ_CHECK(whole.frames == ref.frames);
    FUZZ_CHECK(whole.dropped == ref.dropped);
    for (const std::string &f : whole.frames) {
        FUZZ_CHECK(f.size() >= 2 && f.size() <= maxFrame);
        FUZZ_CHECK(f.front() == ':' && f.back() == ';');
        FUZZ_CHECK(f.find_first_of(":;", 1) == f.size() - 1);
    }
    const Framed chunked = feedInChunks(stream, maxFrame, seed);
    FUZZ_CHECK(chunked.frames == whole.frames && chunked.dropped == whole.dropped);
    const Framed bytewise = feedBytewise(stream, maxFrame);
    FUZZ_CHECK(bytewise.frames == whole.frames && bytewise.dropped == whole.dropped);
}

std::string announceFor(char kind, std::size_t lines)
{
    const std::uint8_t bytes[5]
        = {0, 0, 2, static_cast<std::uint8_t>(lines >> 8 & 255), static_cast<std::uint8_t>(lines & 255)};
    const std::uint16_t crc = fuzzref::crcModbus(bytes, 5);
    std::string frame = ":";
    frame.push_back(kind);
    for (const std::uint8_t b : bytes)
        fuzzref::appendHex(frame, b);
    fuzzref::appendHex(frame, static_cast<std::uint8_t>(crc & 255));
    fuzzref::appendHex(frame, static_cast<std::uint8_t>(crc >> 8));
    frame.push_back(';');
    return frame;
}

// Drives one session with the frames and checks what it sends.
class SessionCheck
{
public:
    SessionCheck(const morven::LineStore &lines, const FlashSession::Options &options)
        : lines_(lines)
        , options_(options)
        , session_(lines, options)
    {
        for (std::size_t i = 0; i < lines.size(); ++i)
            index_.emplace(std::string(lines.at(i)), i);
    }

    void start() { observe(session_.start()); }
    void reply(const std::string &frame) { observe(session_.onReply(frame)); }
    void timeout() { observe(session_.onReplyTimeout()); }

private:
    static int rank(FlashSession::Stage s)
    {
        switch (s) {
        case FlashSession::Stage::WaitBootloader:
            return 0;
        case FlashSession::Stage::Erase:
            return 1;
        case FlashSession::Stage::Announce:
            return 2;
        case FlashSession::Stage::Download:
            return 3;
        case FlashSession::Stage::Done:
        case FlashSession::Stage::Failed:
            return 4;
        }
        return -1;
    }

    void observe(const FlashSession::Step &step)
    {
        const FlashSession::Stage stage = session_.stage();
        FUZZ_CHECK(rank(stage) >= rank(lastStage_)); // stages only move forward
        const bool over = stage == FlashSession::Stage::Done || stage == FlashSession::Stage::Failed;
        FUZZ_CHECK(step.finished == over);
        if (finished_)
            FUZZ_CHECK(step.finished && step.send.empty() && stage == lastStage_);
        finished_ = step.finished;
        lastStage_ = stage;

        FUZZ_CHECK((session_.failure() == FlashSession::Failure::None) == (stage != FlashSession::Stage::Failed));
        if (stage == FlashSession::Stage::Failed)
            FUZZ_CHECK(!session_.failureText().empty());
        FUZZ_CHECK(session_.linesDone() <= session_.totalLines());
        FUZZ_CHECK(session_.bytesDone() <= session_.totalBytes());
        if (options_.maxLinkTests > 0)
            FUZZ_CHECK(session_.linkTestsSent() <= options_.maxLinkTests);
        if (stage == FlashSession::Stage::Done && options_.download) {
            FUZZ_CHECK(session_.linesDone() == session_.totalLines());
            FUZZ_CHECK(session_.bytesDone() == session_.totalBytes());
        }

        if (step.send.empty())
            return;
        switch (stage) {
        case FlashSession::Stage::WaitBootloader:
            FUZZ_CHECK(step.send == morven::frames::LinkTest);
            return;
        case FlashSession::Stage::Erase:
            FUZZ_CHECK(step.send
                == (options_.erase == FlashSession::Erase::Data ? morven::frames::EraseData
                                                                : morven::frames::EraseFlash));
            return;
        case FlashSession::Stage::Announce:
            FUZZ_CHECK(step.send == announceFor(options_.kind, lines_.size()));
            return;
        case FlashSession::Stage::Download:
            break;
        case FlashSession::Stage::Done:
        case FlashSession::Stage::Failed:
            FUZZ_CHECK(false); // a finished session sends nothing
            return;
        }

        // A download line: only the line the engine moved to, never one sent more than 11
        // times in a row, and everything before it counted as accepted.
        const auto it = index_.find(step.send);
        FUZZ_CHECK(it != index_.end());
        const std::size_t line = it->second;
        // The first line is wherever the replies so far have moved the index (stray accepting
        // replies before the announce move it too); from then on it restarts at 0, repeats,
        // or moves one on.
        if (lastLine_)
            FUZZ_CHECK(line == 0 || line == *lastLine_ || line == *lastLine_ + 1);
        sameInARow_ = lastLine_ && *lastLine_ == line ? sameInARow_ + 1 : 1;
        lastLine_ = line;
        FUZZ_CHECK(sameInARow_ <= morven::MaxSends);
        FUZZ_CHECK(session_.linesDone() == line);
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < line; ++i)
            bytes += lines_.at(i).size();
        FUZZ_CHECK(session_.bytesDone() == bytes);
    }

    const morven::LineStore &lines_;
    FlashSession::Options options_;
    FlashSession session_;
    std::map<std::string, std::size_t> index_;
    FlashSession::Stage lastStage_ = FlashSession::Stage::WaitBootloader;
    bool finished_ = false;
    std::optional<std::size_t> lastLine_;
    int sameInARow_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzref::Header h(data, size);
    const std::uint8_t flags = h.u8();
    const std::size_t lineCount = h.u8();
    const std::uint8_t seed = h.u8();
    const std::uint16_t timeoutMask = h.u16();
    const std::size_t smallMax = 2 + h.u8() % 64;
    const std::string_view stream = h.rest();

    Framed framed;
    checkFraming(stream, kMaxFrame, seed, framed);
    Framed small;
    checkFraming(stream, smallMax, static_cast<std::uint32_t>(seed) + 1, small);

    FlashSession::Options options;
    options.waitForBootloader = (flags & 1) != 0;
    switch (flags >> 1 & 3) {
    case 0:
        options.erase = FlashSession::Erase::None;
        break;
    case 2:
        options.erase = FlashSession::Erase::Data;
        break;
    default:
        options.erase = FlashSession::Erase::Flash;
        break;
    }
    options.kind = (flags & 8) != 0 ? 'O' : 'W';
    options.download = (flags & 16) == 0;
    options.maxLinkTests = flags >> 5 & 3;

    // Distinct lines, so a line is known by its text.
    morven::LineStore lines;
    for (std::size_t i = 0; i < lineCount; ++i) {
        std::string line = ":W";
        fuzzref::appendHex(line, static_cast<std::uint8_t>(i >> 8));
        fuzzref::appendHex(line, static_cast<std::uint8_t>(i));
        line.append(i % 3, 'A'); // lines of different lengths for the byte counts
        line.push_back(';');
        lines.append(line);
    }

    SessionCheck session(lines, options);
    session.start();
    for (std::size_t i = 0; i < framed.frames.size(); ++i) {
        session.reply(framed.frames[i]);
        if (timeoutMask >> (i % 16) & 1)
            session.timeout();
    }
    return 0;
}
