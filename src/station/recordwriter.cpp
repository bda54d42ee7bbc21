// The station's unit records written on a thread of their own.
#include "station/recordwriter.h"

#include <QCoreApplication>

namespace morven::station {

// Lives on the writer's thread; the connection is made and used there only.
class RecordWriter::Worker : public QObject
{
public:
    UnitRecords records;
};

RecordWriter::RecordWriter()
    : worker_(new Worker)
{
    qRegisterMetaType<UnitRecord>();
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

std::optional<QString> RecordWriter::open(const QString &where, const QString &station, int *interrupted)
{
    std::optional<QString> why;
    QMetaObject::invokeMethod(
        worker_,
        [&] {
            why = worker_->records.open(where);
            if (!why)
                why = worker_->records.markInterrupted(station, interrupted);
        },
        Qt::BlockingQueuedConnection);
    return why;
}

void RecordWriter::start(const UnitRecord &r, std::size_t slot)
{
    QMetaObject::invokeMethod(worker_, [this, r, slot] {
        const std::optional<QString> why = worker_->records.startUnit(r);
        emit written(slot, r, true, why.value_or(QString()));
    });
}

void RecordWriter::end(const UnitRecord &r, std::size_t slot)
{
    QMetaObject::invokeMethod(worker_, [this, r, slot] {
        const std::optional<QString> why = worker_->records.endUnit(r);
        emit written(slot, r, false, why.value_or(QString()));
    });
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
