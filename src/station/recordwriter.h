// The station's unit records written on a thread of their own, so a slow disk or server never
// holds up the slots or the window.
#pragma once

#include "station/unitrecords.h"

#include <QObject>
#include <QThread>

#include <memory>
#include <optional>

namespace morven::station {

// How a write ended.
enum class WriteOutcome {
    Written, // in the records
    Queued, // the shared database is out of reach: kept in the local queue, sent when it is back
    Held, // not written, and the unit must not run: its serial number needs the shared database
    Failed, // neither written nor queued
};

// Owns the records' connections on its own thread. Writes are done in the order they are asked
// for; each one's outcome comes back as written() on the asking thread. With a shared server,
// writes that cannot reach it wait in a local SQLite file and are sent, in order and once each,
// as soon as it can be reached again.
class RecordWriter : public QObject
{
    Q_OBJECT
public:
    RecordWriter();
    ~RecordWriter() override;

    // Opens the records (and, for a server, the local queue at `queue`), sends what a previous
    // run left queued, and marks the units a killed station left running as interrupted; waits
    // for the answer. The reason when it cannot.
    [[nodiscard]] std::optional<QString> open(
        const QString &where, const QString &queue, const QString &station, int *interrupted);
    // Whether the records can go on with this series; waits for the answer.
    [[nodiscard]] std::optional<QString> checkSeries(const SerialRequest &s);
    // Queues the unit's first row (start), with a number of the series when `serial` is given,
    // or its completion; `slot` comes back with the outcome.
    void start(const UnitRecord &r, std::size_t slot, const std::optional<SerialRequest> &serial = std::nullopt);
    void end(const UnitRecord &r, std::size_t slot);
    // Waits until every write asked for so far is done and its written() delivered.
    void flush();

signals:
    // `error` says why, for Held and Failed.
    void written(std::size_t slot, const morven::station::UnitRecord &record, bool start,
        morven::station::WriteOutcome outcome, const QString &error);
    // The shared database went out of reach (`why`) or came back; `queued` writes wait locally.
    void reachChanged(bool reachable, int queued, const QString &why);

private:
    class Worker;
    QThread thread_;
    Worker *worker_;
};

} // namespace morven::station

Q_DECLARE_METATYPE(morven::station::UnitRecord)
Q_DECLARE_METATYPE(morven::station::WriteOutcome)
