// The simulated target's bootloader: frames in, replies out, no I/O.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The target's side of the update protocol, with no I/O: bytes in, replies out. The transports
// in simtarget.h put it on a TCP port or a pseudo-terminal.
namespace morven::sim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

// Cuts the byte stream into frames. A frame starts at ':' (bytes before it are counted and
// dropped) and ends with ';'. Raw Intel HEX records carry no ';', so a frame also ends when the
// next ':' comes or when the line has been quiet for the idle time.
class FrameAssembler
{
public:
    explicit FrameAssembler(std::chrono::milliseconds idle = std::chrono::milliseconds(20))
        : idle_(idle)
    { }

    void setIdle(std::chrono::milliseconds idle) { idle_ = idle; }
    std::chrono::milliseconds idle() const { return idle_; }

    // Bytes that arrived at `now`; completed frames are appended to `frames`, in order.
    void feed(std::string_view bytes, TimePoint now, std::vector<std::string> &frames)
    {
        feed(bytes, now, now, frames);
    }
    // Bytes that came one after the other without a pause, the first at `first` and the last
    // at `last`.
    void feed(std::string_view bytes, TimePoint first, TimePoint last, std::vector<std::string> &frames);
    // Completes an open frame whose line has been quiet for the idle time by `now`.
    void poll(TimePoint now, std::vector<std::string> &frames);
    // When poll() would complete the open frame, if one is open.
    std::optional<TimePoint> deadline() const;
    // Forgets a partly received frame (new connection, line dropped).
    void reset();

    bool inFrame() const { return inFrame_; }
    // Bytes that came outside any frame.
    std::size_t ignoredBytes() const { return ignored_; }
    // Frames cut short because they grew past the longest a frame may be.
    std::size_t overlongFrames() const { return overlong_; }

private:
    void finish(std::vector<std::string> &frames);

    std::chrono::milliseconds idle_;
    std::string current_;
    bool inFrame_ = false;
    TimePoint last_{};
    std::size_t ignored_ = 0;
    std::size_t overlong_ = 0;
};

struct Options
{
    // Status of every "K" reply: 3 success, 0 failure, anything else success with a failed
    // blank check.
    std::uint8_t eraseStatus = 3;
    // The target is off until it has seen this many link tests: those and every other frame
    // before them go unanswered; the next link test is answered.
    int powerUpAfter = 0;
    // Data line index (from 0) -> how many times it is rejected before it is accepted. The
    // count is spent over the target's life, so a download restarted after a failure gets
    // through.
    std::map<int, int> rejections;
    // When data line N arrives for the first time: no reply, and the transport hangs up.
    std::optional<int> dropAtLine;
    // Never replies; frames are still logged.
    bool silent = false;
    // Quiet time that ends a frame without ';'.
    std::chrono::milliseconds idle{20};
};

// One announce frame as it came.
struct Announce
{
    char kind = 'W'; // 'W' or 'O'
    int count = 0; // lines announced
    bool crcOk = false;

    friend bool operator==(const Announce &, const Announce &) = default;
};

class Bootloader
{
public:
    // What a call did, for the transport.
    struct Output
    {
        std::vector<std::string> replies; // to send, in order
        bool drop = false; // hang up the line; nothing after the dropping frame was handled
        bool downloadComplete = false; // the last announced line was accepted
        std::vector<std::string> notes; // why frames went unanswered, and other events
    };

    explicit Bootloader(Options options = {});

    const Options &options() const { return options_; }

    // Raw bytes from the line, which arrived at `now`.
    Output receive(std::string_view bytes, TimePoint now);
    // Lets an idle line end a frame without ';'. Call it at deadline().
    Output poll(TimePoint now);
    std::optional<TimePoint> deadline() const { return assembler_.deadline(); }
    // Forgets a partly received frame.
    void resetLine() { assembler_.reset(); }
    std::size_t ignoredBytes() const { return assembler_.ignoredBytes(); }

    // One complete frame, from ':' on, for transports that cut frames themselves.
    Output handleFrame(std::string_view frame);

    // The 15-character reply: letter, sequence number, length 1, status and the CRC.
    static std::string reply(char letter, std::uint16_t sequence, std::uint8_t status);

    // What the target has seen, over its whole life unless said otherwise.
    const std::vector<std::string> &frames() const { return frames_; }
    // The lines of the latest download, as received; a new announce clears them.
    const std::vector<std::string> &acceptedLines() const { return accepted_; }
    // Link tests, answered or not.
    int linkTests() const { return linkTests_; }
    // Byte 3 of each erase frame (2 flash, 1 data), or -1 when the frame had no such byte.
    const std::vector<int> &eraseSelectors() const { return eraseSelectors_; }
    const std::vector<Announce> &announces() const { return announces_; }
    // How often data line `line` has arrived, accepted or not.
    int timesReceived(int line) const;
    int timesRejected(int line) const;
    const std::vector<std::string> &notes() const { return notes_; }

    bool poweredUp() const { return poweredUp_; }
    bool downloadActive() const { return active_; }
    char downloadKind() const { return kind_; }
    int announcedCount() const { return count_; }
    // Index of the data line expected next.
    int nextLine() const { return next_; }
    bool hasDropped() const { return dropped_; }

private:
    void handle(std::string_view frame, Output &out);
    void handleAnnounce(std::string_view frame, Output &out);
    void handleDataLine(std::string_view frame, Output &out);
    void note(std::string text, Output &out);
    Output run(std::vector<std::string> &frames);

    Options options_;
    FrameAssembler assembler_;

    std::vector<std::string> frames_;
    std::vector<std::string> accepted_;
    int linkTests_ = 0;
    std::vector<int> eraseSelectors_;
    std::vector<Announce> announces_;
    std::vector<int> received_;
    std::map<int, int> rejected_;
    std::vector<std::string> notes_;

    bool poweredUp_ = true;
    bool active_ = false;
    char kind_ = 'W';
    int count_ = 0;
    int next_ = 0;
    bool dropped_ = false;
};

} // namespace morven::sim
