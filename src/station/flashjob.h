// One target's whole run: its link and its update session, for morvenctl and the station.
#pragma once

#include "station/exitcodes.h"
#include "update/flashsession.h"
#include "update/replyframer.h"
#include "link/streamlink.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

namespace morven::station {

class Trace;

struct JobTiming
{
    int replyTimeoutMs = 2000; // for a reply to any frame but the link test
    int probeIntervalMs = 200; // between link tests while waiting for the bootloader
    int waitTimeoutMs = 30000; // for the bootloader to answer at all; 0 waits as long as it takes
};

// One target's whole run: open its link, then play the session over it, acting on every
// reply the moment its ';' arrives.
class FlashJob : public QObject
{
    Q_OBJECT
public:
    // The job owns its link: it opens it at the start and closes it at the end.
    FlashJob(std::unique_ptr<StreamLink> link, const LineStore &lines, const FlashSession::Options &options,
        const JobTiming &timing, Trace *trace, QObject *parent = nullptr);
    // The link stays its owner's, open before and after the run: a station slot keeps one link
    // to its fixture position, as reopening a serial port may reset the board behind it.
    FlashJob(StreamLink &link, const LineStore &lines, const FlashSession::Options &options, const JobTiming &timing,
        Trace *trace, QObject *parent = nullptr);

    void start();
    // Ends the run from outside (the overall time is up, or the run was interrupted).
    void abort(int code, const QString &why);

    QString name() const { return link_->name(); }
    const FlashSession &session() const { return session_; }
    bool isFinished() const { return finished_; }
    int result() const { return result_; }
    QString message() const { return message_; }
    // This target's own time: from its start to its end (or to now while it runs).
    double elapsedSeconds() const;
    // Where the run left the target, for the operator: "not touched", "erased, 41 of 512 lines
    // written", ...
    QString whereLeft() const;

signals:
    void stageChanged();
    void progressed();
    void finished();

private:
    void onOpened();
    void onReceived(const QByteArray &bytes);
    void onTimeout();
    void perform(const FlashSession::Step &step);
    void finish(int code, const QString &why);
    void armTimer();

    std::unique_ptr<StreamLink> owned_;
    StreamLink *link_;
    FlashSession session_;
    JobTiming timing_;
    Trace *trace_;
    ReplyFramer framer_;
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 finishedNs_ = -1;
    std::vector<std::string> frames_;
    std::optional<FlashSession::Stage> lastStage_;
    bool finished_ = false;
    int result_ = Ok;
    QString message_;
};

} // namespace morven::station
