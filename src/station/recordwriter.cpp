// The station's unit records written on a thread of their own, with a local queue for a shared
// server that is briefly out of reach.
#include "station/recordwriter.h"

#include "station/logging.h"

#include <QCoreApplication>
#include <QTimer>

#include <functional>

namespace morven::station {

namespace {
// How often a station out of reach of its shared database tries again.
constexpr int kRetryMs = 1000;
} // namespace

// Lives on the writer's thread; the connections are made and used there only.
class RecordWriter::Worker : public QObject
{
public:
    explicit Worker(RecordWriter &owner)
        : owner_(owner)
    {
    }

    std::optional<QString> open(const QString &where, const QString &queuePath, const QString &station, int *count)
    {
        station_ = station;
        if (auto why = records_.open(where))
            return why;
        if (records_.isServer()) {
            if (auto why = queue_.open(queuePath))
                return QStringLiteral("the local queue: %1").arg(*why);
            // What an earlier run could not send goes first, before its running units are judged.
            if (auto why = drain())
                return why;
        }
        return records_.markInterrupted(station, count);
    }

    std::optional<QString> checkSeries(const SerialRequest &s) const { return records_.checkSeries(s); }

    void start(UnitRecord r, std::size_t slot, const std::optional<SerialRequest> &serial)
    {
        if (!serial) {
            write(r, slot, true);
            return;
        }
        // A number must come from the shared counter: without it the unit does not run.
        QString error;
        WriteOutcome outcome = WriteOutcome::Held;
        if (!reachable_)
            error = lost_;
        else if (attempt([&] { return records_.startUnitWithSerial(r, *serial); }, error))
            outcome = WriteOutcome::Written;
        else if (reachable_)
            outcome = WriteOutcome::Failed;
        else
            uncertain_.push_back(r); // its number may have been given just before the server went
        emit owner_.written(slot, r, true, outcome, error);
    }

    void write(const UnitRecord &r, std::size_t slot, bool start)
    {
        QString error;
        WriteOutcome outcome = WriteOutcome::Failed;
        const auto send = [&] { return start ? records_.startUnit(r) : records_.endUnit(r); };
        // Once anything waits in the queue, later writes wait behind it: a unit's end never
        // overtakes its start.
        if (records_.isServer() && (!reachable_ || queued_ > 0)) {
            outcome = enqueue(r, start, error);
        } else if (attempt(send, error)) {
            outcome = WriteOutcome::Written;
        } else if (!reachable_) {
            outcome = enqueue(r, start, error);
        }
        emit owner_.written(slot, r, start, outcome, error);
    }

private:
    // Runs `op` on the records; a failure because the server went away takes the station out of
    // reach (retried every kRetryMs) rather than counting as the write's own fault.
    bool attempt(const std::function<std::optional<QString>()> &op, QString &error)
    {
        const std::optional<QString> why = op();
        if (!why)
            return true;
        error = *why;
        if (records_.isServer() && !records_.reachable())
            outOfReach(*why);
        return false;
    }

    WriteOutcome enqueue(const UnitRecord &r, bool start, QString &error)
    {
        if (auto why = queue_.enqueue(station_, start, r)) {
            error = *why;
            return WriteOutcome::Failed;
        }
        ++queued_;
        emit owner_.reachChanged(reachable_, queued_, lost_);
        return WriteOutcome::Queued;
    }

    void outOfReach(const QString &why)
    {
        reachable_ = false;
        lost_ = why;
        qCWarning(lcStation).noquote() << "the record database is out of reach:" << why;
        if (!retry_) {
            retry_ = new QTimer(this);
            retry_->setInterval(kRetryMs);
            connect(retry_, &QTimer::timeout, this, &Worker::tryAgain);
        }
        retry_->start();
        emit owner_.reachChanged(false, queued_, why);
    }

    void tryAgain()
    {
        if (auto why = records_.reopen()) {
            lost_ = *why;
            return;
        }
        reachable_ = true;
        if (auto why = drain()) {
            qCWarning(lcStation).noquote() << "cannot send the queued records:" << *why;
            if (reachable_) // refused, not out of reach: it stays queued and is tried again
                lost_ = *why;
            reachable_ = false;
            return;
        }
        settleUncertain();
        retry_->stop();
        lost_.clear();
        emit owner_.reachChanged(true, 0, QString());
    }

    // Sends the queued writes, oldest first, each once: a write whose answer was lost on the way
    // is sent again, and the unit id makes the second time change nothing.
    std::optional<QString> drain()
    {
        std::vector<QueuedWrite> writes;
        if (auto why = queue_.queued(station_, writes))
            return why;
        queued_ = int(writes.size());
        for (const QueuedWrite &w : writes) {
            QString error;
            if (!attempt([&] { return w.start ? records_.startUnit(w.record, true) : records_.endUnit(w.record); },
                    error))
                return error;
            if (auto why = queue_.dequeue(w.seq))
                return why;
            --queued_;
        }
        return std::nullopt;
    }

    // A unit held because the server went away while its number was being given: if the number
    // was given after all, its row ends as interrupted, so the gap is explained. The unit itself
    // never ran.
    void settleUncertain()
    {
        for (UnitRecord &r : uncertain_) {
            r.result = UnitResult::Interrupted;
            r.endedAt = QDateTime::currentDateTimeUtc();
            r.phase = QStringLiteral("erase");
            r.reason = QStringLiteral("the record database went away while the unit's serial number was given; the "
                                      "board was left untouched and started again as a new unit");
            (void)records_.endUnit(r); // "no such unit": the number was not given, nothing to explain
        }
        uncertain_.clear();
    }

    RecordWriter &owner_;
    std::vector<UnitRecord> uncertain_;
    UnitRecords records_;
    UnitRecords queue_;
    QString station_;
    bool reachable_ = true;
    QString lost_; // why the shared database is out of reach
    int queued_ = 0;
    QTimer *retry_ = nullptr;
};

RecordWriter::RecordWriter()
    : worker_(new Worker(*this))
{
    qRegisterMetaType<UnitRecord>();
    qRegisterMetaType<WriteOutcome>();
    qRegisterMetaType<std::size_t>("std::size_t");
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start();
}

RecordWriter::~RecordWriter()
{
    flush();
    thread_.quit();
    thread_.wait();
}

std::optional<QString> RecordWriter::open(
    const QString &where, const QString &queue, const QString &station, int *interrupted)
{
    std::optional<QString> why;
    QMetaObject::invokeMethod(
        worker_, [&] { why = worker_->open(where, queue, station, interrupted); }, Qt::BlockingQueuedConnection);
    return why;
}

std::optional<QString> RecordWriter::checkSeries(const SerialRequest &s)
{
    std::optional<QString> why;
    QMetaObject::invokeMethod(worker_, [&] { why = worker_->checkSeries(s); }, Qt::BlockingQueuedConnection);
    return why;
}

void RecordWriter::start(const UnitRecord &r, std::size_t slot, const std::optional<SerialRequest> &serial)
{
    QMetaObject::invokeMethod(worker_, [this, r, slot, serial] { worker_->start(r, slot, serial); });
}

void RecordWriter::end(const UnitRecord &r, std::size_t slot)
{
    QMetaObject::invokeMethod(worker_, [this, r, slot] { worker_->write(r, slot, false); });
}

void RecordWriter::flush()
{
    if (!thread_.isRunning())
        return;
    QMetaObject::invokeMethod(worker_, [] {}, Qt::BlockingQueuedConnection);
    // The outcomes are queued to this thread: deliver them now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

} // namespace morven::station

#include "moc_recordwriter.cpp"
