// The unit records in SQLite through Qt SQL. The SQL keeps to standard types and statements
// (TEXT times in ISO 8601 UTC, the unit id as key) so that a shared server database can hold
// the same schema; what only SQLite needs stays in the few places marked so.
#include "station/unitrecords.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>

#include <atomic>

namespace morven::station {

namespace {

// What the meta table says about a database of ours.
const QString kApplication = QStringLiteral("morven-unit-records");
const QString kMetaTable = QStringLiteral("morven_meta");
const QString kUnitTable = QStringLiteral("morven_units");

// How long a writer waits for another process or connection holding the file.
constexpr int kBusyTimeoutMs = 30000;

// SQLite's primary result codes for a file that is no database, or a damaged one.
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADatabase = 26;

// Every column, in the order the statements below bind and read them.
const char kColumns[]
    = "unit_id, slot, port, station, operator_name, recipe, firmware, sha256, tool_version, "
      "started_at, ended_at, result, phase, reason, lines_sent, lines_total, retries, seconds, serial";

const QStringList &schemaStatements()
{
    static const QStringList statements{
        QStringLiteral("CREATE TABLE morven_meta (name VARCHAR(64) PRIMARY KEY, value TEXT NOT NULL)"),
        QStringLiteral("CREATE TABLE morven_units ("
                       "unit_id VARCHAR(64) PRIMARY KEY, slot TEXT NOT NULL, port TEXT NOT NULL, "
                       "station TEXT NOT NULL, operator_name TEXT NOT NULL, recipe TEXT NOT NULL, "
                       "firmware TEXT NOT NULL, sha256 TEXT NOT NULL, tool_version TEXT NOT NULL, "
                       "started_at VARCHAR(32) NOT NULL, ended_at VARCHAR(32), result VARCHAR(16) NOT NULL, "
                       "phase TEXT NOT NULL, reason TEXT NOT NULL, lines_sent BIGINT NOT NULL, "
                       "lines_total BIGINT NOT NULL, retries BIGINT NOT NULL, seconds DOUBLE PRECISION NOT NULL, "
                       "serial BIGINT)"),
        QStringLiteral("CREATE INDEX morven_units_started ON morven_units (started_at)"),
        QStringLiteral("CREATE INDEX morven_units_station_result ON morven_units (station, result)"),
    };
    return statements;
}

// SQLite's own words when it has them, without the driver's "Unable to fetch row" after them.
QString reason(const QSqlError &error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

int primaryCode(const QSqlError &error)
{
    return error.nativeErrorCode().toInt() & 0xff;
}

// A text column is never NULL: a null QString would bind as NULL.
QVariant text(const QString &value)
{
    return value.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(value);
}

QVariant textOrNull(const QDateTime &time)
{
    return time.isValid() ? QVariant(recordTime(time)) : QVariant(QMetaType(QMetaType::QString));
}

QVariant serialOrNull(const std::optional<qint64> &serial)
{
    return serial ? QVariant(*serial) : QVariant(QMetaType(QMetaType::LongLong));
}

std::optional<QDateTime> readTime(const QVariant &value)
{
    const QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    if (!time.isValid() || time.timeSpec() != Qt::UTC)
        return std::nullopt;
    return time;
}

} // namespace

QString resultName(UnitResult result)
{
    switch (result) {
    case UnitResult::Running:
        return QStringLiteral("running");
    case UnitResult::Passed:
        return QStringLiteral("passed");
    case UnitResult::Failed:
        return QStringLiteral("failed");
    case UnitResult::Interrupted:
        return QStringLiteral("interrupted");
    }
    return {};
}

std::optional<UnitResult> resultFromName(const QString &name)
{
    for (UnitResult r : {UnitResult::Running, UnitResult::Passed, UnitResult::Failed, UnitResult::Interrupted})
        if (resultName(r) == name)
            return r;
    return std::nullopt;
}

QString recordTime(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

UnitRecords::UnitRecords()
{
    // Qt SQL names its connections process-wide; each instance owns one of its own.
    static std::atomic<int> instances{0};
    connection_ = QStringLiteral("morven-unit-records-%1").arg(++instances);
}

UnitRecords::~UnitRecords()
{
    if (QSqlDatabase::contains(connection_)) {
        QSqlDatabase::database(connection_, false).close();
        QSqlDatabase::removeDatabase(connection_);
    }
}

QString UnitRecords::defaultPath()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return data.isEmpty() ? QString() : data + QStringLiteral("/morven-station/units.sqlite");
}

QString UnitRecords::failure(const QString &what, const QString &why) const
{
    return QStringLiteral("%1 in %2: %3").arg(what, where_, why);
}

std::optional<QString> UnitRecords::open(const QString &where)
{
    if (QSqlDatabase::contains(connection_)) {
        QSqlDatabase::database(connection_, false).close();
        QSqlDatabase::removeDatabase(connection_);
    }
    open_ = false;
    where_ = where;
    if (where.isEmpty())
        return QStringLiteral("no records file given");
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return QStringLiteral("cannot open the records %1: Qt SQL's SQLite driver is missing (package "
                              "libqt6sql6-sqlite)")
            .arg(where);
    const QFileInfo info(where);
    if (info.isDir())
        return QStringLiteral("the records %1 are a folder, not a database file").arg(where);
    if (!info.exists() && !QDir().mkpath(info.absolutePath()))
        return QStringLiteral("cannot create the folder %1 for the records %2").arg(info.absolutePath(), where);

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(where);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    if (!db.open())
        return QStringLiteral("cannot open the records %1: %2").arg(where, reason(db.lastError()));

    const auto refuse = [&](const QString &why) {
        db.close();
        return std::optional<QString>(why);
    };
    bool empty = false;
    if (auto why = inspect(empty))
        return refuse(*why);
    // Write-ahead logging lets readers and the slots' writers go on side by side; it is set
    // only once the file is known to be ours or empty (SQLite only).
    QSqlQuery wal(db);
    if (!wal.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !wal.next())
        return refuse(failure(QStringLiteral("cannot set up the records"), reason(wal.lastError())));
    wal.finish(); // an unfinished statement would keep every later transaction from committing
    if (empty)
        if (auto why = createSchema())
            return refuse(*why);
    open_ = true;
    return std::nullopt;
}

std::optional<QString> UnitRecords::inspect(bool &empty) const
{
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    // Reading the file through reveals one that is no SQLite database, or a damaged one,
    // before anything is written to it (SQLite only).
    QSqlQuery check(db);
    if (!check.exec(QStringLiteral("PRAGMA quick_check"))) {
        const QSqlError error = check.lastError();
        if (primaryCode(error) == kSqliteNotADatabase)
            return QStringLiteral("%1 is not a records database: it is no SQLite file").arg(where_);
        if (primaryCode(error) == kSqliteCorrupt)
            return QStringLiteral("the records %1 are damaged: %2").arg(where_, reason(error));
        return QStringLiteral("cannot read the records %1: %2").arg(where_, reason(error));
    }
    QStringList problems;
    while (check.next())
        if (const QString line = check.value(0).toString(); line != QLatin1String("ok"))
            problems += line;
    if (!problems.isEmpty())
        return QStringLiteral("the records %1 are damaged: %2").arg(where_, problems.join(QLatin1String("; ")));

    QStringList tables = db.tables(QSql::Tables) + db.tables(QSql::Views);
    tables.sort();
    empty = tables.isEmpty();
    if (empty)
        return std::nullopt;
    const auto notOurs = [&] {
        return QStringLiteral("%1 is not a records database of this tool (it holds %2); it is left as it is")
            .arg(where_, tables.join(QLatin1String(", ")));
    };
    if (!tables.contains(kMetaTable))
        return notOurs();
    QSqlQuery meta(db);
    if (!meta.exec(QStringLiteral("SELECT name, value FROM morven_meta")))
        return QStringLiteral("cannot read the records %1: %2").arg(where_, reason(meta.lastError()));
    QString application, version;
    while (meta.next()) {
        if (meta.value(0).toString() == QLatin1String("application"))
            application = meta.value(1).toString();
        else if (meta.value(0).toString() == QLatin1String("schema_version"))
            version = meta.value(1).toString();
    }
    if (application != kApplication)
        return notOurs();
    bool numeric = false;
    const int schema = version.toInt(&numeric);
    if (!numeric || schema < 1)
        return QStringLiteral("the records %1 are damaged: schema version '%2'").arg(where_, version);
    if (schema > kSchemaVersion)
        return QStringLiteral("the records %1 have schema version %2, newer than this release reads (%3); they are "
                              "left as they are: use a newer release")
            .arg(where_)
            .arg(schema)
            .arg(kSchemaVersion);
    // A later release migrates older schemas here, in one transaction, before anything else.
    if (!tables.contains(kUnitTable))
        return QStringLiteral("the records %1 are damaged: the table %2 is missing").arg(where_, kUnitTable);
    return std::nullopt;
}

std::optional<QString> UnitRecords::createSchema()
{
    return write(QStringLiteral("cannot create the records"), [this]() -> std::optional<QString> {
        // Another process may have made it since the file was found empty.
        bool empty = false;
        if (auto why = inspect(empty))
            return why;
        if (!empty)
            return std::nullopt;
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        QSqlQuery q(db);
        for (const QString &statement : schemaStatements())
            if (!q.exec(statement))
                return reason(q.lastError());
        if (!q.prepare(QStringLiteral("INSERT INTO morven_meta (name, value) VALUES (?, ?), (?, ?)")))
            return reason(q.lastError());
        for (const QString &value : {QStringLiteral("application"), kApplication, QStringLiteral("schema_version"),
                 QString::number(kSchemaVersion)})
            q.addBindValue(value);
        if (!q.exec())
            return reason(q.lastError());
        return std::nullopt;
    });
}

std::optional<QString> UnitRecords::write(const QString &what, const std::function<std::optional<QString>()> &body)
{
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.isOpen())
        return QStringLiteral("%1: the records are not open").arg(what);
    QSqlQuery q(db);
    // Taking the write lock at the start makes a busy file wait in the busy timeout rather than
    // fail halfway through (SQLite only).
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return failure(what, reason(q.lastError()));
    std::optional<QString> why = body();
    if (!why && !q.exec(QStringLiteral("COMMIT")))
        why = reason(q.lastError());
    if (why) {
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        return failure(what, *why);
    }
    return std::nullopt;
}

std::optional<QString> UnitRecords::markInterrupted(const QString &station, int *count)
{
    if (count)
        *count = 0;
    return write(
        QStringLiteral("cannot mark the units left running by %1").arg(station), [&]() -> std::optional<QString> {
            QSqlQuery q(QSqlDatabase::database(connection_, false));
            if (!q.prepare(QStringLiteral("UPDATE morven_units SET result = ?, reason = CASE WHEN reason = '' THEN ? "
                                          "ELSE reason END WHERE station = ? AND result = ?")))
                return reason(q.lastError());
            q.addBindValue(resultName(UnitResult::Interrupted));
            q.addBindValue(QStringLiteral("the station stopped before the unit ended"));
            q.addBindValue(station);
            q.addBindValue(resultName(UnitResult::Running));
            if (!q.exec())
                return reason(q.lastError());
            if (count)
                *count = q.numRowsAffected();
            return std::nullopt;
        });
}

namespace {
// How a unit ended, in the column order both the first row and its completion use.
void bindOutcome(QSqlQuery &q, const UnitRecord &r)
{
    q.addBindValue(resultName(r.result));
    q.addBindValue(text(r.phase));
    q.addBindValue(text(r.reason));
    q.addBindValue(r.linesSent);
    q.addBindValue(r.linesTotal);
    q.addBindValue(r.retries);
    q.addBindValue(r.seconds);
    q.addBindValue(serialOrNull(r.serial));
}
} // namespace

std::optional<QString> UnitRecords::startUnit(const UnitRecord &r)
{
    const QString what = QStringLiteral("cannot record the start of unit %1 in slot %2").arg(r.unitId, r.slot);
    if (r.unitId.isEmpty())
        return failure(what, QStringLiteral("the unit has no id"));
    if (!r.startedAt.isValid())
        return failure(what, QStringLiteral("the unit has no start time"));
    return write(what, [&]() -> std::optional<QString> {
        QSqlQuery q(QSqlDatabase::database(connection_, false));
        if (!q.prepare(QStringLiteral("INSERT INTO morven_units (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                                      "?, ?, ?, ?, ?, ?)")
                           .arg(QLatin1String(kColumns))))
            return reason(q.lastError());
        for (const QString &value :
            {r.unitId, r.slot, r.port, r.station, r.operatorName, r.recipe, r.firmware, r.sha256, r.toolVersion})
            q.addBindValue(text(value));
        q.addBindValue(recordTime(r.startedAt));
        q.addBindValue(textOrNull(r.endedAt));
        bindOutcome(q, r);
        if (!q.exec())
            return reason(q.lastError());
        return std::nullopt;
    });
}

std::optional<QString> UnitRecords::endUnit(const UnitRecord &r)
{
    const QString what = QStringLiteral("cannot record the end of unit %1 in slot %2").arg(r.unitId, r.slot);
    if (r.result == UnitResult::Running)
        return failure(what, QStringLiteral("a unit ends passed, failed or interrupted"));
    return write(what, [&]() -> std::optional<QString> {
        QSqlQuery q(QSqlDatabase::database(connection_, false));
        if (!q.prepare(QStringLiteral("UPDATE morven_units SET ended_at = ?, result = ?, phase = ?, reason = ?, "
                                      "lines_sent = ?, lines_total = ?, retries = ?, seconds = ?, "
                                      "serial = COALESCE(?, serial) WHERE unit_id = ?")))
            return reason(q.lastError());
        q.addBindValue(recordTime(r.endedAt.isValid() ? r.endedAt : QDateTime::currentDateTimeUtc()));
        bindOutcome(q, r);
        q.addBindValue(r.unitId);
        if (!q.exec())
            return reason(q.lastError());
        if (q.numRowsAffected() != 1)
            return QStringLiteral("no such unit was started");
        return std::nullopt;
    });
}

std::optional<QString> UnitRecords::list(const Filter &filter, std::vector<UnitRecord> &out) const
{
    out.clear();
    if (!open_)
        return QStringLiteral("cannot read the records: they are not open");
    QStringList conditions;
    QVariantList values;
    const auto where = [&](const char *condition, const QVariant &value) {
        conditions += QLatin1String(condition);
        values += value;
    };
    if (filter.since)
        where("started_at >= ?", recordTime(*filter.since));
    if (!filter.station.isEmpty())
        where("station = ?", filter.station);
    if (!filter.recipe.isEmpty())
        where("recipe = ?", filter.recipe);
    if (filter.result)
        where("result = ?", resultName(*filter.result));
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.setForwardOnly(true);
    const QString sql
        = QStringLiteral("SELECT %1 FROM morven_units%2 ORDER BY started_at, unit_id")
              .arg(QLatin1String(kColumns),
                  conditions.isEmpty() ? QString()
                                       : QLatin1String(" WHERE ") + conditions.join(QLatin1String(" AND ")));
    if (!q.prepare(sql))
        return QStringLiteral("cannot read the records %1: %2").arg(where_, reason(q.lastError()));
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec())
        return QStringLiteral("cannot read the records %1: %2").arg(where_, reason(q.lastError()));
    while (q.next()) {
        UnitRecord r;
        QString *texts[] = {&r.unitId, &r.slot, &r.port, &r.station, &r.operatorName, &r.recipe, &r.firmware, &r.sha256,
            &r.toolVersion};
        int column = 0;
        for (QString *field : texts)
            *field = q.value(column++).toString();
        const auto damaged = [&](const QString &what) {
            out.clear();
            return QStringLiteral("the records %1 are damaged: unit %2 has %3").arg(where_, r.unitId, what);
        };
        const auto started = readTime(q.value(column++));
        if (!started)
            return damaged(QStringLiteral("the start time '%1'").arg(q.value(column - 1).toString()));
        r.startedAt = *started;
        if (const QVariant ended = q.value(column++); !ended.isNull()) {
            const auto time = readTime(ended);
            if (!time)
                return damaged(QStringLiteral("the end time '%1'").arg(ended.toString()));
            r.endedAt = *time;
        }
        const auto result = resultFromName(q.value(column++).toString());
        if (!result)
            return damaged(QStringLiteral("the result '%1'").arg(q.value(column - 1).toString()));
        r.result = *result;
        r.phase = q.value(column++).toString();
        r.reason = q.value(column++).toString();
        r.linesSent = q.value(column++).toLongLong();
        r.linesTotal = q.value(column++).toLongLong();
        r.retries = q.value(column++).toLongLong();
        r.seconds = q.value(column++).toDouble();
        if (const QVariant serial = q.value(column++); !serial.isNull())
            r.serial = serial.toLongLong();
        out.push_back(std::move(r));
    }
    if (q.lastError().isValid())
        return QStringLiteral("cannot read the records %1: %2").arg(where_, reason(q.lastError()));
    return std::nullopt;
}

} // namespace morven::station
