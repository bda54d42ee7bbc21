// A whole update of one target as a state machine, for morvenctl.
#pragma once

#include "update/dispatcher.h"
#include "update/engine.h"
#include "records/linestore.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace morven {

// One whole update of one target without a window, as a state machine with no I/O of its
// own: it says what to send, is told of each reply frame and of each reply that did not come
// in time, and follows the same rules as the window (replies decoded and acted on by the
// dispatcher, lines sent by the engine step, a line sent at most 11 times).
class FlashSession
{
public:
    enum class Stage { WaitBootloader, Erase, Announce, Download, Done, Failed };
    enum class Failure { None, NoBootloader, EraseFailed, LineRejected, ReplyTimeout };

    enum class Erase { None, Flash, Data };

    struct Options
    {
        bool waitForBootloader = true;
        Erase erase = Erase::Flash;
        char kind = 'W'; // 'W' for a "Download", 'O' for an "O" download
        // Link tests sent while waiting for the bootloader before giving up (0: no limit).
        int maxLinkTests = 0;
        // Without it the session ends after the erase (or after the bootloader answered).
        bool download = true;
    };

    // What the caller does next: send these bytes (maybe none) and, unless finished, wait
    // for a reply.
    struct Step
    {
        std::string send;
        bool finished = false;
    };

    // `lines` must outlive the session.
    FlashSession(const LineStore &lines, const Options &options);

    Step start();
    Step onReply(std::string_view frame);
    // No reply came in time: while waiting for the bootloader another link test goes out;
    // anywhere else the session fails.
    Step onReplyTimeout();

    Stage stage() const { return stage_; }
    Failure failure() const { return failure_; }
    // A sentence for the operator when the session failed.
    std::string failureText() const;
    std::size_t totalLines() const { return lines_.size(); }
    // Lines the target has accepted so far.
    std::size_t linesDone() const { return linesDone_; }
    // Lines sent again because the target rejected them (or its answer did not move the download).
    std::size_t retries() const { return retries_; }
    // Bytes of the lines accepted so far, and of all the lines.
    std::size_t bytesDone() const { return bytesDone_; }
    std::size_t totalBytes() const { return lines_.byteSize(); }
    int linkTestsSent() const { return linkTests_; }
    // The status of the erase reply (3 erased, 0 failed, anything else not blank), -1 before it.
    int eraseStatus() const { return eraseStatus_; }
    // Whether an erase frame went out.
    bool eraseSent() const { return eraseSent_; }
    // Whether the download was announced, so lines may have been written.
    bool announceSent() const { return announceSent_; }
    // Acknowledgements dropped because they answered nothing this session sent.
    std::size_t strayAcknowledgements() const { return strayAcknowledgements_; }
    const Options &options() const { return options_; }

private:
    Step fail(Failure failure);
    Step afterBootloader();
    Step announce();
    void acceptedUpTo(std::size_t line);

    const LineStore &lines_;
    Options options_;
    Stage stage_ = Stage::WaitBootloader;
    Failure failure_ = Failure::None;
    ReplyState reply_;
    EngineState engine_;
    std::size_t linesDone_ = 0;
    std::size_t retries_ = 0;
    std::size_t lastLineSent_ = SIZE_MAX;
    std::size_t bytesDone_ = 0;
    int linkTests_ = 0;
    int eraseStatus_ = -1;
    bool eraseSent_ = false;
    bool announceSent_ = false;
    std::size_t strayAcknowledgements_ = 0;
};

} // namespace morven
