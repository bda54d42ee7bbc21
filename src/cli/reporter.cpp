// morvenctl's progress lines, JSON events and closing lines.
#include "cli/reporter.h"

#include "station/flashjob.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <unistd.h>

namespace morven::cli {

using namespace morven::station;

namespace {
const char *stageName(FlashSession::Stage stage)
{
    switch (stage) {
    case FlashSession::Stage::WaitBootloader:
        return "wait";
    case FlashSession::Stage::Erase:
        return "erase";
    case FlashSession::Stage::Announce:
        return "announce";
    case FlashSession::Stage::Download:
        return "download";
    case FlashSession::Stage::Done:
        return "done";
    case FlashSession::Stage::Failed:
        return "failed";
    }
    return "?";
}

QString duration(double seconds)
{
    const long s = long(seconds + 0.5);
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

Reporter::Reporter(bool json, bool quiet, QObject *parent)
    : QObject(parent)
    , json_(json)
    , quiet_(quiet)
    , tty_(isatty(STDERR_FILENO) == 1)
{
    redrawTimer_.setInterval(100);
    connect(&redrawTimer_, &QTimer::timeout, this, &Reporter::redraw);
}

void Reporter::add(FlashJob *job)
{
    entries_.push_back(std::make_unique<Entry>());
    Entry *e = entries_.back().get();
    e->job = job;
    connect(job, &FlashJob::stageChanged, this, [this, e] { onStage(*e); });
    connect(job, &FlashJob::progressed, this, [this, e] { onProgress(*e); });
    connect(job, &FlashJob::finished, this, [this, e] { onFinished(*e); });
    if (tty_ && !quiet_)
        redrawTimer_.start();
}

void Reporter::event(const QString &line)
{
    if (!json_)
        return;
    std::fprintf(stdout, "%s\n", qPrintable(line));
    std::fflush(stdout);
}

void Reporter::onStage(Entry &e)
{
    const FlashSession &s = e.job->session();
    if (s.stage() == FlashSession::Stage::Download && !e.downloadClock.isValid())
        e.downloadClock.start();
    QJsonObject o{{"event", "stage"}, {"target", e.job->name()}, {"stage", stageName(s.stage())}};
    if (s.stage() == FlashSession::Stage::Announce)
        o.insert("lines", qint64(s.totalLines()));
    event(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
    if (!tty_ && !quiet_)
        std::fprintf(stderr, "stage %s %s\n", qPrintable(e.job->name()), stageName(s.stage()));
}

QString Reporter::progressText(const Entry &e) const
{
    const FlashSession &s = e.job->session();
    const std::size_t total = s.totalLines();
    const std::size_t done = s.linesDone();
    const int percent = total ? int(done * 100 / total) : 100;
    const double seconds = e.downloadClock.isValid() ? double(e.downloadClock.nsecsElapsed()) / 1e9 : 0.0;
    const double rate = seconds > 0 ? double(s.bytesDone()) / seconds : 0.0;
    const double eta = rate > 0 ? double(s.totalBytes() - s.bytesDone()) / rate : 0.0;
    return QStringLiteral("%1 %2/%3 lines %4% %5 kB/s eta %6")
        .arg(e.job->name())
        .arg(done)
        .arg(total)
        .arg(percent)
        .arg(rate / 1000.0, 0, 'f', 1)
        .arg(duration(eta));
}

void Reporter::onProgress(Entry &e)
{
    const FlashSession &s = e.job->session();
    const std::size_t total = s.totalLines();
    const int percent = total ? int(s.linesDone() * 100 / total) : 100;
    const qint64 now = e.downloadClock.isValid() ? e.downloadClock.elapsed() : 0;
    // At most one line a second, and only when the percentage moved; the last one always.
    const bool first = e.lastPlainMs < 0;
    if (!first && percent == e.lastPercent)
        return;
    if (!first && percent != 100 && now - e.lastPlainMs < 1000)
        return;
    e.lastPercent = percent;
    e.lastPlainMs = now;
    event(QString::fromUtf8(QJsonDocument(
        QJsonObject{{"event", "progress"}, {"target", e.job->name()}, {"lines_done", qint64(s.linesDone())},
            {"lines", qint64(total)}, {"bytes_done", qint64(s.bytesDone())}, {"bytes", qint64(s.totalBytes())}})
                                .toJson(QJsonDocument::Compact)));
    if (!tty_ && !quiet_)
        std::fprintf(stderr, "progress %s\n", qPrintable(progressText(e)));
}

void Reporter::onFinished(Entry &e)
{
    const FlashJob &job = *e.job;
    QJsonObject o{{"event", job.result() == Ok ? "done" : "failed"}, {"target", job.name()},
        {"code", job.result()}, {"seconds", job.elapsedSeconds()},
        {"lines_done", qint64(job.session().linesDone())}, {"left", job.whereLeft()}};
    if (job.result() != Ok)
        o.insert("error", job.message());
    event(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
    if (!tty_ && !quiet_)
        std::fprintf(stderr, "%s %s\n", job.result() == Ok ? "done" : "failed", qPrintable(job.name()));
}

void Reporter::redraw()
{
    if (drawnLines_ > 0)
        std::fprintf(stderr, "\033[%dA", drawnLines_);
    for (const auto &e : entries_) {
        const FlashSession &s = e->job->session();
        QString text;
        if (s.stage() == FlashSession::Stage::Download || s.stage() == FlashSession::Stage::Done) {
            const std::size_t total = s.totalLines();
            const int width = 20;
            const int filled = total ? int(s.linesDone() * width / total) : width;
            text = QStringLiteral("[%1%2] ").arg(
                       QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('.')))
                + progressText(*e);
        } else {
            text = e->job->name() + QLatin1Char(' ') + QLatin1String(stageName(s.stage()));
        }
        std::fprintf(stderr, "\r\033[K%s\n", qPrintable(text));
    }
    drawnLines_ = int(entries_.size());
    std::fflush(stderr);
}

QString Reporter::outcome(const FlashJob &job) const
{
    const FlashSession &s = job.session();
    const QString time = QStringLiteral(" in %1 s").arg(job.elapsedSeconds(), 0, 'f', 1);
    if (job.result() != Ok)
        return QStringLiteral("error %1 (exit %2): %3; left %4")
            .arg(job.name())
            .arg(job.result())
            .arg(job.message(), job.whereLeft());
    if (s.options().download)
        return QStringLiteral("ok %1: %2 lines").arg(job.name()).arg(s.linesDone()) + time;
    if (s.eraseSent())
        return QStringLiteral("ok %1: %2").arg(job.name(), job.whereLeft()) + time;
    return QStringLiteral("ok %1: the bootloader answered after %2 link tests").arg(job.name()).arg(s.linkTestsSent())
        + time;
}

void Reporter::summary()
{
    if (tty_ && !quiet_) {
        redraw();
        redrawTimer_.stop();
    }
    int ok = 0;
    for (const auto &e : entries_) {
        const FlashJob &job = *e->job;
        if (job.result() == Ok)
            ++ok;
        if (!quiet_ || job.result() != Ok)
            std::fprintf(stderr, "%s\n", qPrintable(outcome(job)));
    }
    if (!quiet_ && entries_.size() > 1)
        std::fprintf(stderr, "summary: %d of %lld targets updated\n", ok, qint64(entries_.size()));
    event(QString::fromUtf8(
        QJsonDocument(QJsonObject{{"event", "summary"}, {"ok", ok}, {"failed", int(entries_.size()) - ok}})
            .toJson(QJsonDocument::Compact)));
}

} // namespace morven::cli

#include "moc_reporter.cpp"
