// The station's unit records written on a thread of their own, so a slow disk never holds up
// the slots or the window.
#pragma once

#include "station/unitrecords.h"

#include <QObject>
#include <QThread>

#include <memory>
#include <optional>

namespace morven::station {

// Owns the records' connection on its own thread. Writes are queued in the order they are asked
// for; each one's outcome comes back as written() on the asking thread.
class RecordWriter : public QObject
{
    Q_OBJECT
public:
    RecordWriter();
    ~RecordWriter() override;

    // Opens the records and marks the units a killed station left running as interrupted;
    // waits for the answer. The reason when it cannot.
    [[nodiscard]] std::optional<QString> open(const QString &where, const QString &station, int *interrupted);
    // Queues the unit's first row (start) or its completion; `slot` comes back with the outcome.
    void start(const UnitRecord &r, std::size_t slot);
    void end(const UnitRecord &r, std::size_t slot);
    // Waits until every write asked for so far is done and its written() delivered.
    void flush();

signals:
    // `error` is empty when the row is safely written.
    void written(std::size_t slot, const morven::station::UnitRecord &record, bool start, const QString &error);

private:
    class Worker;
    QThread thread_;
    Worker *worker_;
};

} // namespace morven::station

Q_DECLARE_METATYPE(morven::station::UnitRecord)
