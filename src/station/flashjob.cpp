// One target's whole run: its link and its update session, for morvenctl and the station.
#include "station/flashjob.h"

#include "station/trace.h"
#include "link/bytes.h"
#include "update/logging.h"

namespace morven::station {

namespace {
ExitCode codeFor(FlashSession::Failure failure)
{
    switch (failure) {
    case FlashSession::Failure::None:
        return Ok;
    case FlashSession::Failure::NoBootloader:
        return NoBootloader;
    case FlashSession::Failure::EraseFailed:
        return EraseFailed;
    case FlashSession::Failure::LineRejected:
        return LineRejected;
    case FlashSession::Failure::ReplyTimeout:
        return ReplyTimeout;
    }
    return Internal;
}
} // namespace

FlashJob::FlashJob(std::unique_ptr<StreamLink> link, const LineStore &lines, const FlashSession::Options &options,
    const JobTiming &timing, Trace *trace, QObject *parent)
    : FlashJob(*link, lines, options, timing, trace, parent)
{
    owned_ = std::move(link);
}

FlashJob::FlashJob(StreamLink &link, const LineStore &lines, const FlashSession::Options &options,
    const JobTiming &timing, Trace *trace, QObject *parent)
    : QObject(parent)
    , link_(&link)
    , session_(lines,
          [&] {
              FlashSession::Options o = options;
              o.maxLinkTests
                  = timing.waitTimeoutMs > 0 ? std::max(1, timing.waitTimeoutMs / std::max(1, timing.probeIntervalMs)) : 0;
              return o;
          }())
    , timing_(timing)
    , trace_(trace)
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &FlashJob::onTimeout);
    connect(link_, &StreamLink::opened, this, &FlashJob::onOpened);
    connect(link_, &StreamLink::openFailed, this,
        [this](const QString &why) { finish(LinkFailed, QStringLiteral("cannot open the link: %1").arg(why)); });
    connect(link_, &StreamLink::received, this, &FlashJob::onReceived);
    connect(link_, &StreamLink::lost, this, [this](const QString &why) { finish(ReplyTimeout, why); });
}

void FlashJob::start()
{
    clock_.start();
    if (!owned_ && link_->isOpen())
        onOpened();
    else
        link_->open();
}

double FlashJob::elapsedSeconds() const
{
    if (!clock_.isValid())
        return 0.0;
    return double(finishedNs_ >= 0 ? finishedNs_ : clock_.nsecsElapsed()) / 1e9;
}

void FlashJob::onOpened()
{
    if (trace_)
        trace_->note(name(), QStringLiteral("link open"));
    perform(session_.start());
}

void FlashJob::onReceived(const QByteArray &bytes)
{
    frames_.clear();
    const std::size_t droppedBefore = framer_.droppedBytes();
    framer_.feed(std::string_view(bytes.constData(), std::size_t(bytes.size())), frames_);
    if (framer_.droppedBytes() != droppedBefore)
        qCInfo(lcUpdate).noquote() << name() << "dropped" << framer_.droppedBytes() - droppedBefore
                                   << "reply bytes outside a frame or in an overlong one";
    for (const std::string &frame : frames_) {
        if (finished_)
            return;
        if (trace_)
            trace_->received(name(), bytesOf(frame));
        const std::size_t strayBefore = session_.strayAcknowledgements();
        const FlashSession::Step step = session_.onReply(frame);
        if (session_.strayAcknowledgements() != strayBefore)
            qCInfo(lcUpdate).noquote() << name() << "ignored an acknowledgement that answers nothing sent:"
                                       << QString::fromStdString(frame);
        if (!step.send.empty() || step.finished)
            perform(step);
    }
}

void FlashJob::onTimeout()
{
    if (!finished_)
        perform(session_.onReplyTimeout());
}

void FlashJob::perform(const FlashSession::Step &step)
{
    if (!step.send.empty()) {
        if (trace_)
            trace_->sent(name(), bytesOf(step.send));
        if (const auto why = link_->write(bytesOf(step.send))) {
            finish(ReplyTimeout, QStringLiteral("the link refused the data: %1").arg(*why));
            return;
        }
    }
    if (session_.stage() != lastStage_) {
        lastStage_ = session_.stage();
        emit stageChanged();
    }
    if (session_.options().download
        && (session_.stage() == FlashSession::Stage::Download || session_.stage() == FlashSession::Stage::Done))
        emit progressed();
    if (step.finished) {
        const ExitCode code = codeFor(session_.failure());
        finish(code, QString::fromStdString(session_.failureText()));
        return;
    }
    armTimer();
}

void FlashJob::armTimer()
{
    timer_.start(
        session_.stage() == FlashSession::Stage::WaitBootloader ? timing_.probeIntervalMs : timing_.replyTimeoutMs);
}

void FlashJob::abort(int code, const QString &why)
{
    finish(code, why);
}

void FlashJob::finish(int code, const QString &why)
{
    if (finished_)
        return;
    finished_ = true;
    finishedNs_ = clock_.isValid() ? clock_.nsecsElapsed() : 0;
    result_ = code;
    message_ = why;
    timer_.stop();
    if (owned_)
        link_->close();
    if (trace_)
        trace_->note(name(), QStringLiteral("link closed: %1").arg(whereLeft()));
    emit finished();
}

QString FlashJob::whereLeft() const
{
    const FlashSession &s = session_;
    const FlashSession::Options &o = s.options();
    const QString area = o.erase == FlashSession::Erase::Data ? QStringLiteral("data area") : QStringLiteral("flash");
    QString erased;
    if (s.eraseSent()) {
        switch (s.eraseStatus()) {
        case 3:
            erased = QStringLiteral("%1 erased").arg(area);
            break;
        case 0:
            erased = QStringLiteral("erasing the %1 failed, it may be partly erased").arg(area);
            break;
        case -1:
            erased = QStringLiteral("erase of the %1 sent but not confirmed, it may be erased").arg(area);
            break;
        default:
            erased = QStringLiteral("%1 erased but not blank").arg(area);
            break;
        }
    }
    if (s.announceSent()) {
        const QString written = QStringLiteral("%1 of %2 lines written").arg(s.linesDone()).arg(s.totalLines());
        return erased.isEmpty() ? written : erased + QStringLiteral(", ") + written;
    }
    if (!erased.isEmpty())
        return erased;
    return QStringLiteral("not touched");
}

} // namespace morven::station

#include "moc_flashjob.cpp"
