// The record of every unit a station flashes: one row per unit, written when it starts and
// completed when it ends, in a SQLite file of one station or a PostgreSQL database that a line
// of stations shares, with the counters that hand out unit serial numbers.
#pragma once

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace morven::station {

enum class UnitResult { Running, Passed, Failed, Interrupted };

// "running", "passed", "failed", "interrupted": the words stored and printed.
QString resultName(UnitResult result);
std::optional<UnitResult> resultFromName(const QString &name);

struct UnitRecord
{
    QString unitId; // made on the station: QUuid::createUuid() without braces
    QString slot, port, station, operatorName, recipe, firmware, sha256, toolVersion;
    QDateTime startedAt, endedAt; // UTC; endedAt invalid while running
    UnitResult result = UnitResult::Running;
    QString phase, reason; // the phase it ended in ("erase", "download", ...) and why
    qint64 linesSent = 0, linesTotal = 0, retries = 0;
    double seconds = 0;
    std::optional<qint64> serial; // the serial number written into the unit, when the recipe gives one
    QString series; // the series the serial number belongs to; empty without one
};

// What a unit's serial number is taken from: a series, shared by every station and slot that
// runs it, and how its numbers are written into the image (which a series keeps for good).
struct SerialRequest
{
    QString series;
    qint64 address = 0;
    QString format; // "u32le", "u32be", "ascii:8"
    qint64 first = 1; // a new series starts here; an existing one never gives less
    qint64 max = 0; // the largest number the format can hold
};

// A write that waits in a station's local file while the shared database cannot be reached.
struct QueuedWrite
{
    qint64 seq = 0; // order of the writes, oldest first
    bool start = false; // the unit's first row, else its completion
    UnitRecord record;
};

// Whether `where` names a PostgreSQL database (postgresql://... or postgres://...), not a file.
bool isServerLocation(const QString &where);

// A time as the records store it: ISO 8601, UTC, milliseconds ("2024-05-01T08:30:00.125Z"), so
// that text order is time order.
QString recordTime(const QDateTime &time);

class UnitRecords
{
public:
    UnitRecords();
    ~UnitRecords();
    UnitRecords(const UnitRecords &) = delete;
    UnitRecords &operator=(const UnitRecords &) = delete;

    // Opens or creates the database, a SQLite file or a postgresql:// URI (the password from
    // PGPASSWORD or ~/.pgpass, as libpq reads them); the reason when it cannot (not ours, damaged,
    // a newer schema, unreachable). Never alters a database that is not ours; an older schema of
    // ours is brought up to date in one transaction.
    [[nodiscard]] std::optional<QString> open(const QString &where);
    bool isOpen() const { return open_; }
    bool isServer() const { return server_; }
    QString where() const { return where_; }
    // Whether the connection to a server still works: after a failed write, tells a server that
    // went away from a statement it refused.
    bool reachable() const;
    // Opens the same database again after the server went away; the reason when it still cannot.
    [[nodiscard]] std::optional<QString> reopen();

    // Rows of `station` still "running" (left by a station that was killed) become
    // "interrupted"; `count` receives how many.
    [[nodiscard]] std::optional<QString> markInterrupted(const QString &station, int *count = nullptr);
    // The unit's first row, in one transaction of its own. `replay`: a row already there with this
    // unit id is this very write sent before (a queued write sent again), not a mistake.
    [[nodiscard]] std::optional<QString> startUnit(const UnitRecord &r, bool replay = false);
    // Takes the next number of the series and writes the unit's first row with it, in one
    // transaction, so no number is ever given twice, on any station. r.serial and r.series
    // receive it. A unit id already started gets its own number back (its first try committed
    // although the answer was lost).
    [[nodiscard]] std::optional<QString> startUnitWithSerial(UnitRecord &r, const SerialRequest &s);
    // Whether a series can go on as requested: one that exists keeps its address and format, and
    // its next number must fit. Writes nothing.
    [[nodiscard]] std::optional<QString> checkSeries(const SerialRequest &s) const;
    // Completes the row of r.unitId with how the unit ended, in one transaction of its own.
    [[nodiscard]] std::optional<QString> endUnit(const UnitRecord &r);

    struct Filter
    {
        std::optional<QDateTime> since; // units started at or after it
        QString station, recipe; // empty: every one
        std::optional<UnitResult> result;
    };
    // The local queue of a station whose shared database is unreachable (SQLite only), kept per
    // station so stations sharing a file keep their own order.
    [[nodiscard]] std::optional<QString> enqueue(const QString &station, bool start, const UnitRecord &r);
    [[nodiscard]] std::optional<QString> queued(const QString &station, std::vector<QueuedWrite> &out) const;
    [[nodiscard]] std::optional<QString> dequeue(qint64 seq);

    // The rows the filter lets through, oldest first.
    [[nodiscard]] std::optional<QString> list(const Filter &filter, std::vector<UnitRecord> &out) const;

    // Where the records are kept unless told otherwise: a file in the user's data folder that the
    // station window and morvenctl share.
    static QString defaultPath();

    // The layout this release writes; a database with a higher one is refused.
    static constexpr int kSchemaVersion = 2;

private:
    [[nodiscard]] std::optional<QString> connect();
    [[nodiscard]] std::optional<QString> inspect(bool &empty, int &schema) const;
    [[nodiscard]] std::optional<QString> createSchema();
    [[nodiscard]] std::optional<QString> migrate(int from);
    [[nodiscard]] std::optional<QString> write(
        const QString &what, const std::function<std::optional<QString>()> &body);
    QString failure(const QString &what, const QString &why) const;

    QString connection_;
    QString target_; // as given, password included
    QString where_; // as messages show it
    bool open_ = false;
    bool server_ = false;
};

} // namespace morven::station
