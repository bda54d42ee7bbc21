// One fixture position of the station: wait for a board, flash it, wait for it to leave, again.
#include "station/slot.h"

#include "link/bytes.h"
#include "station/logging.h"
#include "update/bootframes.h"
#include "update/dispatcher.h"

namespace morven::station {

namespace {

// Whether a reply frame is the bootloader's answer to a link test, by the dispatcher's rules.
bool answersLinkTest(const std::string &frame)
{
    ReplyState reply;
    EngineState engine;
    const ReplyAction action = dispatchReply(reply, engine, reinterpret_cast<const std::uint8_t *>(frame.data()),
        frame.size(), std::int16_t(std::min<std::size_t>(frame.size(), INT16_MAX)));
    return action == ReplyAction::UpdateMode || action == ReplyAction::UserProgram;
}

QString phaseName(FlashSession::Stage stage)
{
    switch (stage) {
    case FlashSession::Stage::WaitBootloader:
        return QStringLiteral("bootloader");
    case FlashSession::Stage::Erase:
        return QStringLiteral("erase");
    case FlashSession::Stage::Announce:
        return QStringLiteral("announce");
    case FlashSession::Stage::Download:
        return QStringLiteral("download");
    case FlashSession::Stage::Done:
    case FlashSession::Stage::Failed:
        break;
    }
    return QStringLiteral("done");
}

} // namespace

Slot::Slot(SlotSetup setup, QObject *parent)
    : QObject(parent)
    , setup_(std::move(setup))
{
    probeTimer_.setInterval(std::max(1, setup_.timing.probeIntervalMs));
    connect(&probeTimer_, &QTimer::timeout, this, &Slot::probe);
}

Slot::~Slot()
{
    // The job refers to the link: it goes first.
    job_.reset();
    link_.reset();
}

void Slot::run()
{
    if (phase_ != Phase::Stopped)
        return;
    setPhase(Phase::Waiting);
    probeTimer_.start();
    probe();
}

void Slot::startNow()
{
    if (phase_ == Phase::Removing || phase_ == Phase::Waiting) {
        forced_ = true;
        probe();
    }
}

void Slot::stop(const QString &why)
{
    stopped_ = why;
    stopping_ = true;
    probeTimer_.stop();
    if (job_)
        job_->abort(Interrupted, QStringLiteral("interrupted"));
    else if (phase_ == Phase::Flashing) // still waiting for its lines
        failUnit(QStringLiteral("interrupted before its download began"));
    if (link_)
        link_.release()->deleteLater();
    setPhase(Phase::Stopped);
}

void Slot::probe()
{
    if (phase_ != Phase::Waiting && phase_ != Phase::Removing)
        return;
    if (probePending_) {
        probePending_ = false;
        ++unanswered_;
        if (phase_ == Phase::Removing && unanswered_ >= setup_.leaveProbes) {
            boardLeft();
            return;
        }
    }
    if (setup_.portExists && !setup_.portExists()) {
        absence_ = QStringLiteral("the port is not there");
        if (link_)
            link_.release()->deleteLater();
        framer_.reset();
        if (phase_ == Phase::Removing)
            boardLeft();
        return;
    }
    if (!link_) {
        QString why;
        std::unique_ptr<StreamLink> link = setup_.makeLink(why);
        if (!link) {
            absence_ = why;
            return;
        }
        link_ = std::move(link);
        connect(link_.get(), &StreamLink::received, this, &Slot::onProbeReply);
        connect(link_.get(), &StreamLink::openFailed, this, &Slot::dropLink);
        connect(link_.get(), &StreamLink::lost, this, &Slot::dropLink);
        link_->open();
        // The first link test goes out at the next probe, once the link is open; a link that
        // does not open by then counts as a probe without an answer.
        probePending_ = true;
        return;
    }
    if (!link_->isOpen()) {
        // Still opening after a whole interval: as good as unanswered.
        probePending_ = true;
        return;
    }
    if (const auto why = link_->write(bytesOf(frames::LinkTest))) {
        dropLink(*why);
        return;
    }
    probePending_ = true;
}

void Slot::onProbeReply(const QByteArray &bytes)
{
    if (job_)
        return; // the job reads its own replies
    frames_.clear();
    framer_.feed(std::string_view(bytes.constData(), std::size_t(bytes.size())), frames_);
    for (const std::string &frame : frames_) {
        if (!answersLinkTest(frame))
            continue;
        probePending_ = false;
        unanswered_ = 0;
        if (phase_ == Phase::Waiting || forced_) {
            startUnit();
            return;
        }
    }
}

void Slot::dropLink(const QString &why)
{
    if (job_ || !link_)
        return; // a running job reports the link's end itself
    absence_ = why;
    qCInfo(lcStation).noquote() << setup_.label << "no link:" << why;
    // Called from the link's own signal: it goes once that has returned.
    link_.release()->deleteLater();
    framer_.reset();
}

void Slot::boardLeft()
{
    unanswered_ = 0;
    probePending_ = false;
    forced_ = false;
    setPhase(Phase::Waiting);
}

void Slot::startUnit()
{
    forced_ = false;
    probeTimer_.stop();
    unit_ = UnitReport();
    unit_.number = ++started_;
    unit_.startedAt = QDateTime::currentDateTimeUtc();
    unit_.linesTotal = setup_.lines ? setup_.lines->size() : 0;
    lastStage_ = FlashSession::Stage::Erase;
    setPhase(Phase::Flashing);
    emit unitStarted();
    // Not stopped or held by the unit's start (a unit that cannot be recorded never runs).
    if (phase_ == Phase::Flashing && setup_.lines)
        launch(*setup_.lines, setup_.letter);
}

void Slot::beginUnit(std::shared_ptr<const LineStore> lines, char letter)
{
    if (phase_ != Phase::Flashing || job_ || !lines)
        return;
    unitLines_ = std::move(lines);
    unit_.linesTotal = unitLines_->size();
    launch(*unitLines_, letter);
}

void Slot::failUnit(const QString &why)
{
    if (phase_ != Phase::Flashing || job_)
        return;
    unit_.endedAt = QDateTime::currentDateTimeUtc();
    unit_.passed = false;
    unit_.interrupted = stopping_;
    unit_.phase = QStringLiteral("erase");
    unit_.reason = QStringLiteral("%1; left untouched").arg(why);
    if (!unit_.interrupted)
        ++failed_;
    emit unitEnded();
    unitOver();
}

void Slot::holdUnit(const QString &why)
{
    if (phase_ != Phase::Flashing || job_)
        return;
    --started_;
    unit_ = UnitReport();
    held_ = why;
    setPhase(Phase::Held);
}

void Slot::resume()
{
    if (phase_ != Phase::Held)
        return;
    held_.clear();
    setPhase(Phase::Waiting);
    probeTimer_.start();
    probe();
}

void Slot::launch(const LineStore &lines, char letter)
{
    FlashSession::Options options;
    options.waitForBootloader = false; // it has just answered
    options.kind = letter;
    job_ = std::make_unique<FlashJob>(*link_, lines, options, setup_.timing, nullptr);
    connect(job_.get(), &FlashJob::stageChanged, this, [this] {
        const FlashSession::Stage stage = job_->session().stage();
        if (stage != FlashSession::Stage::Failed && stage != FlashSession::Stage::Done)
            lastStage_ = stage;
        emit changed();
    });
    connect(job_.get(), &FlashJob::progressed, this, &Slot::changed);
    connect(job_.get(), &FlashJob::finished, this, &Slot::onJobFinished);
    job_->start();
}

void Slot::onJobFinished()
{
    const FlashJob &job = *job_;
    const FlashSession &session = job.session();
    unit_.endedAt = QDateTime::currentDateTimeUtc();
    unit_.passed = job.result() == Ok;
    unit_.interrupted = stopping_;
    unit_.phase = unit_.passed ? QStringLiteral("done") : phaseName(lastStage_);
    unit_.reason = unit_.passed ? QString() : QStringLiteral("%1; left %2").arg(job.message(), job.whereLeft());
    unit_.linesSent = session.linesDone();
    unit_.retries = session.retries();
    unit_.seconds = job.elapsedSeconds();
    if (!unit_.interrupted)
        ++(unit_.passed ? passed_ : failed_);
    // Called from the job's own signal: it goes once that has returned.
    job_.release()->deleteLater();
    emit unitEnded();
    unitOver();
}

void Slot::unitOver()
{
    if (stopping_)
        return;
    if (link_ && !link_->isOpen())
        link_.release()->deleteLater();
    framer_.reset();
    unanswered_ = 0;
    probePending_ = false;
    setPhase(Phase::Removing);
    probeTimer_.start();
}

void Slot::setPhase(Phase phase)
{
    phase_ = phase;
    emit changed();
}

QString Slot::stateText() const
{
    switch (phase_) {
    case Phase::Stopped:
        if (!stopped_.isEmpty())
            return QStringLiteral("stopped: %1").arg(stopped_);
        return unit_.interrupted ? QStringLiteral("interrupted") : QStringLiteral("stopped");
    case Phase::Waiting:
        return QStringLiteral("waiting for a board");
    case Phase::Held:
        return QStringLiteral("waiting for the record database: %1").arg(held_);
    case Phase::Flashing:
        if (!job_)
            return QStringLiteral("taking a serial number");
        switch (job_->session().stage()) {
        case FlashSession::Stage::WaitBootloader:
            return QStringLiteral("in update mode");
        case FlashSession::Stage::Erase:
            return QStringLiteral("erasing");
        case FlashSession::Stage::Announce:
            return QStringLiteral("starting the download");
        case FlashSession::Stage::Download:
            return QStringLiteral("%1 of %2 lines").arg(job_->session().linesDone()).arg(job_->session().totalLines());
        case FlashSession::Stage::Done:
        case FlashSession::Stage::Failed:
            break;
        }
        break;
    case Phase::Removing:
        return unit_.passed ? QStringLiteral("passed, remove board")
                            : QStringLiteral("failed: %1, remove board").arg(unit_.reason);
    }
    return QString();
}

} // namespace morven::station

#include "moc_slot.cpp"
