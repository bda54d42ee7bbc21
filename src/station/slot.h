// One fixture position of the station: wait for a board, flash it, wait for it to leave, again.
#pragma once

#include "station/flashjob.h"
#include "update/replyframer.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace morven::station {

// What a slot needs to know of its position and its work.
struct SlotSetup
{
    QString label; // the fixture position, as the recipe names it
    QString port; // the port as the recipe names it
    // Whether the port is there now (a device node, a USB adapter); a port gone means the board
    // is gone. Asked at every probe; absent means always there (a TCP target).
    std::function<bool()> portExists;
    // Makes a link to the position, or says why there is none now: the slot asks again at the
    // next probe.
    std::function<std::unique_ptr<StreamLink>(QString &why)> makeLink;
    JobTiming timing; // waitTimeoutMs is not used: a slot waits for its board as long as it takes
    int leaveProbes = 3; // link tests in a row without an answer that mean the board has left
    // The image every unit gets; null when each unit gets its own (a serial number patched in),
    // handed over by beginUnit() once the unit's number is known.
    const LineStore *lines = nullptr;
    char letter = 'W';
};

// A unit as the slot saw it: enough for its record.
struct UnitReport
{
    int number = 0; // units this slot has started, this one included
    QDateTime startedAt, endedAt; // UTC
    bool passed = false;
    bool interrupted = false;
    QString phase; // where it ended: "erase", "announce", "download", "done"
    QString reason; // why it failed, and where the board was left
    std::size_t linesSent = 0, linesTotal = 0, retries = 0;
    double seconds = 0;
};

// One loop per fixture position, independent of every other: a board is present when the port
// exists and the bootloader answers the link test; it starts a unit by itself, and once the unit
// has ended (passed or failed) the slot waits until the board leaves (the port goes away or the
// link tests go unanswered leaveProbes times in a row), so a board left in place is never
// flashed twice. One link serves the whole cycle.
class Slot : public QObject
{
    Q_OBJECT
public:
    // Held: a board answered but its unit could not be recorded yet (the shared record database
    // is out of reach); nothing is sent until resume().
    enum class Phase { Stopped, Waiting, Flashing, Removing, Held };

    explicit Slot(SlotSetup setup, QObject *parent = nullptr);
    ~Slot() override;

    // Starts watching the position.
    void run();
    // "Start" for fixtures that want a key press: flashes the board now, even one left in place.
    void startNow();
    // Ends the unit in progress as interrupted (its unitEnded comes at once) and stops; `why`, when
    // given, is what the tile says from then on.
    void stop(const QString &why = QString());
    // The unit just started gets these lines and its download begins (setup without lines).
    void beginUnit(std::shared_ptr<const LineStore> lines, char letter);
    // The unit just started ends as failed before anything was sent to it.
    void failUnit(const QString &why);
    // The unit just started is given up before anything was sent to it, as if it had never
    // started (no unitEnded), and the slot waits, sending nothing, until resume().
    void holdUnit(const QString &why);
    void resume();

    const QString &label() const { return setup_.label; }
    const QString &port() const { return setup_.port; }
    Phase phase() const { return phase_; }
    // What the tile says: "waiting for a board", "erasing", "41 of 512 lines", "failed: ...".
    QString stateText() const;
    // The unit in progress, or the last one.
    const UnitReport &unit() const { return unit_; }
    int passed() const { return passed_; }
    int failed() const { return failed_; }
    const FlashJob *job() const { return job_.get(); }

signals:
    void unitStarted();
    void unitEnded();
    // The state text or the progress changed.
    void changed();

private:
    void probe();
    void onProbeReply(const QByteArray &bytes);
    void dropLink(const QString &why);
    void boardLeft();
    void startUnit();
    void launch(const LineStore &lines, char letter);
    void onJobFinished();
    void unitOver();
    void setPhase(Phase phase);

    SlotSetup setup_;
    Phase phase_ = Phase::Stopped;
    std::unique_ptr<StreamLink> link_;
    std::unique_ptr<FlashJob> job_;
    std::shared_ptr<const LineStore> unitLines_; // this unit's own image, when units differ
    QString held_; // why the slot is held
    QString stopped_; // why the slot was stopped, when it was not the operator
    QTimer probeTimer_;
    ReplyFramer framer_;
    std::vector<std::string> frames_;
    bool probePending_ = false; // a link test went out and has no answer yet
    bool forced_ = false; // "Start": the next answer starts a unit, even from a board left in place
    bool stopping_ = false;
    FlashSession::Stage lastStage_ = FlashSession::Stage::Erase; // the unit's last stage before its end
    int unanswered_ = 0;
    QString absence_; // why there is no link now, for the log
    UnitReport unit_;
    int started_ = 0;
    int passed_ = 0;
    int failed_ = 0;
};

} // namespace morven::station
