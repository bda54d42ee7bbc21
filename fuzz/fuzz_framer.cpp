// Reply framing of a byte stream, and an update session driven by the frames it cuts out.
//
// Input layout (missing bytes read as 0):
//   0    session options: bit 0 wait for the bootloader, bits 1-2 erase (0 none, 1 flash,
//        2 data, 3 flash), bit 3 "O" download instead of "W", bit 4 no download, bits 5-6 the
//        most link tests (0 = no limit)
//   1    lines in the download list
//   2    seed of the piece sizes the stream is fed in
//   3-4  timeout mask: after reply frame i the session also hears that a reply timed out
//        when bit i % 16 is set
//   5    a small frame limit (2 to 65) for a second framer that drops more
//   6-   the byte stream from the target
//
// The frames, however the stream is cut, are the reference's: a ':' up to the first ';' with
// no ':' between, kept when no longer than the limit. The session sends only what it may.
#include "fuzzcheck.h"

#include "update/bootframes.h"
#include "update/flashsession.h"
#include "update/replyframer.h"

#include <map>
#include <vector>

using morven::FlashSession;

namespace {

std::vector<std::string> referenceFrames(std::string_view s, std::size_t maxFrame)
{
    std::vector<std::string> frames;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != ':')
            continue;
        const std::size_t j = s.find_first_of(":;", i + 1);
        if (j != std::string_view::npos && s[j] == ';' && j - i + 1 <= maxFrame)
            frames.emplace_back(s.substr(i, j - i + 1));
    }
    return frames;
}

std::vector<std::string> framed(std::string_view stream, std::size_t maxFrame, std::uint32_t seed)
{
    morven::ReplyFramer framer(maxFrame);
    std::vector<std::string> frames;
    for (std::size_t pos = 0, n = 0; pos < stream.size(); pos += n) {
        seed = seed * 1103515245u + 12345u;
        n = std::min<std::size_t>(seed >> 16 & 31, stream.size() - pos); // pieces of 0 bytes too
        framer.feed(stream.substr(pos, n), frames);
    }
    return frames;
}

// Download lists of 0 to 255 distinct lines of different lengths, and where each line stands.
// Line i is the same in every list, so they are made once, not on every input.
struct Lists
{
    std::vector<morven::LineStore> byCount;
    std::map<std::string, std::size_t, std::less<>> index;

    Lists()
        : byCount(256)
    {
        for (std::size_t i = 0; i < 255; ++i) {
            std::string line = ":W";
            fuzzref::appendHex(line, std::uint8_t(i));
            line += std::string(i % 3, 'A') + ';';
            index.emplace(line, i);
            byCount[i + 1] = byCount[i];
            byCount[i + 1].append(line);
        }
    }
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

    const std::vector<std::string> frames = framed(stream, 512, seed);
    FUZZ_CHECK(frames == referenceFrames(stream, 512));
    FUZZ_CHECK(framed(stream, smallMax, seed + 1u) == referenceFrames(stream, smallMax));

    FlashSession::Options options;
    options.waitForBootloader = flags & 1;
    options.erase = (flags >> 1 & 3) == 0 ? FlashSession::Erase::None
        : (flags >> 1 & 3) == 2           ? FlashSession::Erase::Data
                                          : FlashSession::Erase::Flash;
    options.kind = flags & 8 ? 'O' : 'W';
    options.download = !(flags & 16);
    options.maxLinkTests = flags >> 5 & 3;
    static const Lists lists;
    const morven::LineStore &lines = lists.byCount[lineCount];
    const std::uint8_t announce[5] = {0, 0, 2, 0, std::uint8_t(lineCount)};
    const std::string announceFrame = fuzzref::frame(options.kind, announce, 5);

    FlashSession session(lines, options);
    bool finished = false;
    long lastLine = -1;
    int inARow = 0;
    auto observe = [&](const FlashSession::Step &step) {
        using S = FlashSession::Stage;
        const S stage = session.stage();
        FUZZ_CHECK(step.finished == (stage == S::Done || stage == S::Failed));
        FUZZ_CHECK(!finished || (step.finished && step.send.empty())); // over is over
        finished = step.finished;
        FUZZ_CHECK((session.failure() == FlashSession::Failure::None) == (stage != S::Failed));
        FUZZ_CHECK(session.linesDone() <= lines.size() && session.bytesDone() <= lines.byteSize());
        FUZZ_CHECK(options.maxLinkTests == 0 || session.linkTestsSent() <= options.maxLinkTests);
        FUZZ_CHECK(stage != S::Done || !options.download || session.linesDone() == lines.size());
        if (step.send.empty())
            return;
        if (stage == S::WaitBootloader)
            FUZZ_CHECK(step.send == morven::frames::LinkTest);
        else if (stage == S::Erase)
            FUZZ_CHECK(step.send == (options.erase == FlashSession::Erase::Data ? morven::frames::EraseData : morven::frames::EraseFlash));
        else if (stage == S::Announce)
            FUZZ_CHECK(step.send == announceFrame);
        FUZZ_CHECK(stage != S::Done && stage != S::Failed);
        if (stage != S::Download)
            return;
        // A line: the one the replies moved to (restarting at 0, again, or one on), never more
        // than 11 times in a row, with every line before it counted as accepted.
        const auto it = lists.index.find(step.send);
        FUZZ_CHECK(it != lists.index.end() && it->second < lineCount);
        const long line = long(it->second);
        FUZZ_CHECK(lastLine < 0 || line == 0 || line == lastLine || line == lastLine + 1);
        inARow = line == lastLine ? inARow + 1 : 1;
        lastLine = line;
        FUZZ_CHECK(inARow <= morven::MaxSends && session.linesDone() == std::size_t(line));
    };
    observe(session.start());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        observe(session.onReply(frames[i]));
        if (timeoutMask >> (i % 16) & 1)
            observe(session.onReplyTimeout());
    }
    return 0;
}
