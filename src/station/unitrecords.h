// The record of every unit a station flashes: one row per unit, written when it starts and
// completed when it ends, in a database several stations and slots can share.
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
};

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

    // Opens or creates the database; the reason when it cannot (not ours, damaged, a newer
    // schema, the folder or file cannot be made). Never alters a database that is not ours.
    [[nodiscard]] std::optional<QString> open(const QString &where);
    bool isOpen() const { return open_; }
    QString where() const { return where_; }

    // Rows of `station` still "running" (left by a station that was killed) become
    // "interrupted"; `count` receives how many.
    [[nodiscard]] std::optional<QString> markInterrupted(const QString &station, int *count = nullptr);
    // The unit's first row, in one transaction of its own.
    [[nodiscard]] std::optional<QString> startUnit(const UnitRecord &r);
    // Completes the row of r.unitId with how the unit ended, in one transaction of its own.
    [[nodiscard]] std::optional<QString> endUnit(const UnitRecord &r);

    struct Filter
    {
        std::optional<QDateTime> since; // units started at or after it
        QString station, recipe; // empty: every one
        std::optional<UnitResult> result;
    };
    // The rows the filter lets through, oldest first.
    [[nodiscard]] std::optional<QString> list(const Filter &filter, std::vector<UnitRecord> &out) const;

    // Where the records are kept unless told otherwise: a file in the user's data folder that the
    // station window and morvenctl share.
    static QString defaultPath();

    // The layout this release writes; a database with a higher one is refused.
    static constexpr int kSchemaVersion = 1;

private:
    [[nodiscard]] std::optional<QString> inspect(bool &empty) const;
    [[nodiscard]] std::optional<QString> createSchema();
    [[nodiscard]] std::optional<QString> write(
        const QString &what, const std::function<std::optional<QString>()> &body);
    QString failure(const QString &what, const QString &why) const;

    QString connection_;
    QString where_;
    bool open_ = false;
};

} // namespace morven::station
