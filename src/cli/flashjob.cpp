#include "flashjob.h"

namespace morven::cli {

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

FlashJob::FlashJob(std::unique_ptr<TargetLink> link, const LineStore &lines, const FlashSession::Options &options,
    const JobTiming &timing, QObject *parent)
    : QObject(parent)
    , link_(std::move(link))
    , session_(lines,
          [&] {
              FlashSession::Options o = options;
              o.maxLinkTests = std::max(1, timing.waitTimeoutMs / std::max(1, timing.probeIntervalMs));
              return o;
          }())
    , timing_(timing)
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &FlashJob::onTimeout);
    connect(link_.get(), &TargetLink::opened, this, &FlashJob::onOpened);
    connect(link_.get(), &TargetLink::openFailed, this,
        [this](const QString &why) { finish(LinkFailed, QStringLiteral("cannot open %1: %2").arg(name(), why)); });
    connect(link_.get(), &TargetLink::received, this, &FlashJob::onReceived);
    connect(link_.get(), &TargetLink::lost, this,
        [this](const QString &why) { finish(ReplyTimeout, QStringLiteral("%1: %2").arg(name(), why)); });
}

void FlashJob::start()
{
    clock_.start();
    link_->open();
}

void FlashJob::onOpened()
{
    perform(session_.start());
}

void FlashJob::onReceived(const QByteArray &bytes)
{
    frames_.clear();
    framer_.feed(std::string_view(bytes.constData(), std::size_t(bytes.size())), frames_);
    for (const std::string &frame : frames_) {
        if (finished_)
            return;
        const FlashSession::Step step = session_.onReply(frame);
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
    if (!step.send.empty() && !link_->write(QByteArray(step.send.data(), qsizetype(step.send.size())))) {
        finish(ReplyTimeout, QStringLiteral("%1: the link refused the data").arg(name()));
        return;
    }
    if (session_.stage() != lastStage_) {
        lastStage_ = session_.stage();
        emit stageChanged();
    }
    if (session_.stage() == FlashSession::Stage::Download || session_.stage() == FlashSession::Stage::Done)
        emit progressed();
    if (step.finished) {
        const ExitCode code = codeFor(session_.failure());
        finish(code,
            code == Ok ? QString()
                       : QStringLiteral("%1: %2").arg(name(), QString::fromStdString(session_.failureText())));
        return;
    }
    armTimer();
}

void FlashJob::armTimer()
{
    timer_.start(
        session_.stage() == FlashSession::Stage::WaitBootloader ? timing_.probeIntervalMs : timing_.replyTimeoutMs);
}

void FlashJob::abort(ExitCode code, const QString &why)
{
    finish(code, QStringLiteral("%1: %2").arg(name(), why));
}

void FlashJob::finish(ExitCode code, const QString &why)
{
    if (finished_)
        return;
    finished_ = true;
    result_ = code;
    message_ = why;
    timer_.stop();
    link_->close();
    emit finished();
}

} // namespace morven::cli
