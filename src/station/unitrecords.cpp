// The unit records through Qt SQL: SQLite for one station, PostgreSQL for a line of them. The SQL
// keeps to statements both understand (TEXT times in ISO 8601 UTC, the unit id as key, ON
// CONFLICT); what only one of them needs is marked so.
#include "station/unitrecords.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>
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
// How long connecting to a server may take before it counts as unreachable.
constexpr int kConnectTimeoutS = 5;
// PostgreSQL: the advisory lock that makes one station at a time create or migrate the schema.
constexpr qint64 kSchemaLock = 0x6d6f7276656e;

// SQLite's primary result codes for a file that is no database, or a damaged one.
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADatabase = 26;

// Every column, in the order the statements below bind and read them.
const char kColumns[]
    = "unit_id, slot, port, station, operator_name, recipe, firmware, sha256, tool_version, "
      "started_at, ended_at, result, phase, reason, lines_sent, lines_total, retries, seconds, serial, "
      "serial_series";
constexpr int kColumnCount = 20;

// Schema 1, as the first release made it; later versions are steps from it (below), so a new
// database and a migrated one end up alike.
const QStringList &schemaVersion1()
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

// Schema 2: serial numbers, each series one counter; the unique index is the last word on a
// number never given twice.
QStringList schemaVersion2(bool server)
{
    QStringList statements{
        QStringLiteral("ALTER TABLE morven_units ADD COLUMN serial_series TEXT"),
        QStringLiteral("CREATE UNIQUE INDEX morven_units_serial ON morven_units (serial_series, serial)"),
        QStringLiteral("CREATE TABLE morven_series (series VARCHAR(200) PRIMARY KEY, address BIGINT NOT NULL, "
                       "format VARCHAR(16) NOT NULL, last_number BIGINT NOT NULL)"),
    };
    // The queue of writes waiting for a shared server lives in a station's own file only.
    if (!server)
        statements += QStringLiteral("CREATE TABLE morven_outbox (seq INTEGER PRIMARY KEY AUTOINCREMENT, "
                                     "station TEXT NOT NULL, kind VARCHAR(8) NOT NULL, payload TEXT NOT NULL)");
    return statements;
}

// The database's own words when it has them, without the driver's "Unable to fetch row" after them.
QString reason(const QSqlError &error)
{
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    return text.trimmed();
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

QVariant textOrNull(const QString &value)
{
    return value.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(value);
}

// A postgresql:// URI as libpq reads it: user, password, host (a folder is a Unix socket's),
// port, database, and libpq's own keywords as query items (host=/run/postgresql, sslmode=...).
std::optional<QString> configureServer(QSqlDatabase &db, const QString &where)
{
    const QUrl url(where, QUrl::StrictMode);
    if (!url.isValid())
        return QStringLiteral("not a valid postgresql:// URI: %1").arg(url.errorString());
    QString host = url.host(QUrl::FullyDecoded);
    if (host.isEmpty()) // a socket folder written into the authority, percent-encoded
        host = QUrl::fromPercentEncoding(url.authority(QUrl::FullyEncoded).section(QLatin1Char('@'), -1).toUtf8());
    const QString database = url.path(QUrl::FullyDecoded).mid(1);
    if (database.isEmpty() || database.contains(QLatin1Char('/')))
        return QStringLiteral("a postgresql:// URI names its database: postgresql://user@host:port/database");
    db.setDatabaseName(database);
    db.setUserName(url.userName(QUrl::FullyDecoded));
    if (!url.password().isEmpty())
        db.setPassword(url.password(QUrl::FullyDecoded));
    if (url.port() > 0)
        db.setPort(url.port());
    QStringList options{QStringLiteral("connect_timeout=%1").arg(kConnectTimeoutS)};
    const QUrlQuery query(url);
    for (const auto &[key, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (key == QLatin1String("host")) {
            host = value;
            continue;
        }
        // Qt passes its options on to libpq separated by semicolons.
        if (key.contains(QLatin1Char(';')) || value.contains(QLatin1Char(';')) || key.contains(QLatin1Char('=')))
            return QStringLiteral("the URI's option %1 cannot be passed on").arg(key);
        options += key + QLatin1Char('=') + value;
    }
    if (host.isEmpty()) // libpq's own default, as psql would
        host = qEnvironmentVariable("PGHOST");
    db.setHostName(host);
    db.setConnectOptions(options.join(QLatin1Char(';')));
    return std::nullopt;
}

// A URI without its password, for messages and the window's title.
QString withoutPassword(const QString &where)
{
    QUrl url(where);
    if (url.password().isEmpty())
        return where;
    url.setPassword(QString());
    return url.toString();
}

QJsonObject recordJson(const UnitRecord &r)
{
    QJsonObject o{{"unit_id", r.unitId}, {"slot", r.slot}, {"port", r.port}, {"station", r.station},
        {"operator", r.operatorName}, {"recipe", r.recipe}, {"firmware", r.firmware}, {"sha256", r.sha256},
        {"tool_version", r.toolVersion}, {"started_at", recordTime(r.startedAt)}, {"result", resultName(r.result)},
        {"phase", r.phase}, {"reason", r.reason}, {"lines_sent", r.linesSent}, {"lines_total", r.linesTotal},
        {"retries", r.retries}, {"seconds", r.seconds}, {"series", r.series}};
    if (r.endedAt.isValid())
        o.insert("ended_at", recordTime(r.endedAt));
    if (r.serial)
        o.insert("serial", QString::number(*r.serial)); // text: a double would round a large one
    return o;
}

std::optional<QString> recordFromJson(const QByteArray &text, UnitRecord &r);

std::optional<QDateTime> readTime(const QVariant &value)
{
    const QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    if (!time.isValid() || time.timeSpec() != Qt::UTC)
        return std::nullopt;
    return time;
}

std::optional<QString> recordFromJson(const QByteArray &text, UnitRecord &r)
{
    const QJsonObject o = QJsonDocument::fromJson(text).object();
    const auto str = [&](const char *key) { return o.value(QLatin1String(key)).toString(); };
    r.unitId = str("unit_id");
    r.slot = str("slot");
    r.port = str("port");
    r.station = str("station");
    r.operatorName = str("operator");
    r.recipe = str("recipe");
    r.firmware = str("firmware");
    r.sha256 = str("sha256");
    r.toolVersion = str("tool_version");
    r.phase = str("phase");
    r.reason = str("reason");
    r.series = str("series");
    const auto started = readTime(str("started_at"));
    const auto result = resultFromName(str("result"));
    if (r.unitId.isEmpty() || !started || !result)
        return QStringLiteral("a queued write is damaged: %1").arg(QString::fromUtf8(text.left(80)));
    r.startedAt = *started;
    r.result = *result;
    if (const auto ended = readTime(str("ended_at")))
        r.endedAt = *ended;
    r.linesSent = o.value(QLatin1String("lines_sent")).toInteger();
    r.linesTotal = o.value(QLatin1String("lines_total")).toInteger();
    r.retries = o.value(QLatin1String("retries")).toInteger();
    r.seconds = o.value(QLatin1String("seconds")).toDouble();
    if (o.contains(QLatin1String("serial")))
        r.serial = str("serial").toLongLong();
    return std::nullopt;
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

bool isServerLocation(const QString &where)
{
    return where.startsWith(QLatin1String("postgresql://")) || where.startsWith(QLatin1String("postgres://"));
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
    server_ = isServerLocation(where);
    target_ = where;
    where_ = server_ ? withoutPassword(where) : where;
    if (where.isEmpty())
        return QStringLiteral("no records file given");
    const QString driver = server_ ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (!QSqlDatabase::isDriverAvailable(driver))
        return QStringLiteral("cannot open the records %1: Qt SQL's %2 driver is missing (package %3)")
            .arg(where_, server_ ? QStringLiteral("PostgreSQL") : QStringLiteral("SQLite"),
                server_ ? QStringLiteral("libqt6sql6-psql") : QStringLiteral("libqt6sql6-sqlite"));
    if (!server_) {
        const QFileInfo info(where);
        if (info.isDir())
            return QStringLiteral("the records %1 are a folder, not a database file").arg(where);
        if (!info.exists() && !QDir().mkpath(info.absolutePath()))
            return QStringLiteral("cannot create the folder %1 for the records %2").arg(info.absolutePath(), where);
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, connection_);
    if (server_) {
        if (auto why = configureServer(db, where))
            return QStringLiteral("the records %1: %2").arg(where_, *why);
    } else {
        db.setDatabaseName(where);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    }
    return connect();
}

std::optional<QString> UnitRecords::connect()
{
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.open())
        return QStringLiteral("cannot open the records %1: %2").arg(where_, reason(db.lastError()));
    const auto refuse = [&](const QString &why) {
        db.close();
        return std::optional<QString>(why);
    };
    if (server_) {
        // Warnings such as "relation already exists, skipping" are not for the operator.
        QSqlQuery(db).exec(QStringLiteral("SET client_min_messages TO WARNING"));
    }
    bool empty = false;
    int schema = 0;
    if (auto why = inspect(empty, schema))
        return refuse(*why);
    if (!server_) {
        // Write-ahead logging lets readers and the slots' writers go on side by side; it is set
        // only once the file is known to be ours or empty.
        QSqlQuery wal(db);
        if (!wal.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !wal.next())
            return refuse(failure(QStringLiteral("cannot set up the records"), reason(wal.lastError())));
        wal.finish(); // an unfinished statement would keep every later transaction from committing
    }
    if (empty || schema < kSchemaVersion)
        if (auto why = createSchema())
            return refuse(*why);
    open_ = true;
    return std::nullopt;
}

bool UnitRecords::reachable() const
{
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.isOpen())
        return false;
    QSqlQuery q(db);
    return q.exec(QStringLiteral("SELECT 1")) && q.next();
}

std::optional<QString> UnitRecords::reopen()
{
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.isValid())
        return open(target_);
    db.close();
    open_ = false;
    return connect();
}

std::optional<QString> UnitRecords::inspect(bool &empty, int &schema) const
{
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!server_) {
        // Reading the file through reveals one that is no SQLite database, or a damaged one,
        // before anything is written to it.
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
    }

    QStringList tables = db.tables(QSql::Tables) + db.tables(QSql::Views);
    tables.sort();
    empty = tables.isEmpty();
    schema = 0;
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
    schema = version.toInt(&numeric);
    if (!numeric || schema < 1)
        return QStringLiteral("the records %1 are damaged: schema version '%2'").arg(where_, version);
    if (schema > kSchemaVersion)
        return QStringLiteral("the records %1 have schema version %2, newer than this release reads (%3); they are "
                              "left as they are: use a newer release")
            .arg(where_)
            .arg(schema)
            .arg(kSchemaVersion);
    for (const QString &table : {kUnitTable, QStringLiteral("morven_series")})
        if (!tables.contains(table) && (table == kUnitTable || schema >= 2))
            return QStringLiteral("the records %1 are damaged: the table %2 is missing").arg(where_, table);
    return std::nullopt;
}

std::optional<QString> UnitRecords::createSchema()
{
    return write(QStringLiteral("cannot create the records"), [this]() -> std::optional<QString> {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        QSqlQuery q(db);
        // One station at a time: the others find the schema made when they get the lock.
        if (server_ && !q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kSchemaLock)))
            return reason(q.lastError());
        bool empty = false;
        int schema = 0;
        if (auto why = inspect(empty, schema))
            return why;
        if (empty) {
            for (const QString &statement : schemaVersion1())
                if (!q.exec(statement))
                    return reason(q.lastError());
            if (!q.prepare(QStringLiteral("INSERT INTO morven_meta (name, value) VALUES (?, ?), (?, ?)")))
                return reason(q.lastError());
            for (const QString &value :
                {QStringLiteral("application"), kApplication, QStringLiteral("schema_version"), QStringLiteral("1")})
                q.addBindValue(value);
            if (!q.exec())
                return reason(q.lastError());
            schema = 1;
        }
        return migrate(schema);
    });
}

std::optional<QString> UnitRecords::migrate(int from)
{
    if (from >= kSchemaVersion)
        return std::nullopt;
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    if (from < 2)
        for (const QString &statement : schemaVersion2(server_))
            if (!q.exec(statement))
                return reason(q.lastError());
    if (!q.prepare(QStringLiteral("UPDATE morven_meta SET value = ? WHERE name = 'schema_version'")))
        return reason(q.lastError());
    q.addBindValue(QString::number(kSchemaVersion));
    if (!q.exec())
        return reason(q.lastError());
    return std::nullopt;
}

std::optional<QString> UnitRecords::write(const QString &what, const std::function<std::optional<QString>()> &body)
{
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.isOpen())
        return QStringLiteral("%1: the records are not open").arg(what);
    QSqlQuery q(db);
    // SQLite: taking the write lock at the start makes a busy file wait in the busy timeout
    // rather than fail halfway through.
    if (!q.exec(server_ ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE")))
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

// The unit's first row; `replay` lets a row already sent stand.
std::optional<QString> insertUnit(QSqlQuery &q, const UnitRecord &r, bool replay)
{
    QString marks = QStringLiteral("?");
    for (int i = 1; i < kColumnCount; ++i)
        marks += QStringLiteral(", ?");
    if (!q.prepare(QStringLiteral("INSERT INTO morven_units (%1) VALUES (%2)%3")
                       .arg(QLatin1String(kColumns), marks,
                           replay ? QStringLiteral(" ON CONFLICT (unit_id) DO NOTHING") : QString())))
        return reason(q.lastError());
    for (const QString &value :
        {r.unitId, r.slot, r.port, r.station, r.operatorName, r.recipe, r.firmware, r.sha256, r.toolVersion})
        q.addBindValue(text(value));
    q.addBindValue(recordTime(r.startedAt));
    q.addBindValue(textOrNull(r.endedAt));
    bindOutcome(q, r);
    q.addBindValue(textOrNull(r.series));
    if (!q.exec())
        return reason(q.lastError());
    return std::nullopt;
}
} // namespace

std::optional<QString> UnitRecords::startUnit(const UnitRecord &r, bool replay)
{
    const QString what = QStringLiteral("cannot record the start of unit %1 in slot %2").arg(r.unitId, r.slot);
    if (r.unitId.isEmpty())
        return failure(what, QStringLiteral("the unit has no id"));
    if (!r.startedAt.isValid())
        return failure(what, QStringLiteral("the unit has no start time"));
    return write(what, [&]() -> std::optional<QString> {
        QSqlQuery q(QSqlDatabase::database(connection_, false));
        return insertUnit(q, r, replay);
    });
}

namespace {
// Why a series kept with this address, format and last number given cannot go on as `s` asks,
// naming the recipe's setting; the one rule for a station opening and for every number taken.
std::optional<QString> seriesRefusal(const SerialRequest &s, qint64 address, const QString &format, qint64 last)
{
    if (address != s.address)
        return QStringLiteral("unit_serial.address: the series \"%1\" writes its numbers at 0x%2, not at 0x%3; a "
                              "series keeps its address (start a new series for a new one)")
            .arg(s.series, QString::number(address, 16).toUpper(), QString::number(s.address, 16).toUpper());
    if (format != s.format)
        return QStringLiteral("unit_serial.format: the series \"%1\" writes its numbers as %2, not as %3; a series "
                              "keeps its format (start a new series for a new one)")
            .arg(s.series, format, s.format);
    const qint64 next = std::max(s.first, last + 1);
    if (next > s.max)
        return QStringLiteral("unit_serial: the next number of the series \"%1\", %2, no longer fits %3 (at most %4)")
            .arg(s.series)
            .arg(next)
            .arg(s.format)
            .arg(s.max);
    return std::nullopt;
}
} // namespace

std::optional<QString> UnitRecords::checkSeries(const SerialRequest &s) const
{
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    if (!q.prepare(QStringLiteral("SELECT address, format, last_number FROM morven_series WHERE series = ?")))
        return failure(QStringLiteral("cannot read the series %1").arg(s.series), reason(q.lastError()));
    q.addBindValue(s.series);
    if (!q.exec())
        return failure(QStringLiteral("cannot read the series %1").arg(s.series), reason(q.lastError()));
    if (!q.next())
        return s.first > s.max ? std::optional<QString>(QStringLiteral("unit_serial.first: %1 does not fit %2 (at most %3)")
                                                            .arg(s.first)
                                                            .arg(s.format)
                                                            .arg(s.max))
                               : std::nullopt;
    return seriesRefusal(s, q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toLongLong());
}

std::optional<QString> UnitRecords::startUnitWithSerial(UnitRecord &r, const SerialRequest &s)
{
    const QString what = QStringLiteral("cannot give unit %1 in slot %2 a serial number").arg(r.unitId, r.slot);
    if (r.unitId.isEmpty() || !r.startedAt.isValid())
        return failure(what, QStringLiteral("the unit has no id or start time"));
    std::optional<qint64> given;
    const auto why = write(what, [&]() -> std::optional<QString> {
        QSqlQuery q(QSqlDatabase::database(connection_, false));
        // The first try may have committed although its answer was lost.
        if (!q.prepare(QStringLiteral("SELECT serial FROM morven_units WHERE unit_id = ?")))
            return reason(q.lastError());
        q.addBindValue(r.unitId);
        if (!q.exec())
            return reason(q.lastError());
        if (q.next()) {
            given = q.value(0).isNull() ? std::nullopt : std::optional<qint64>(q.value(0).toLongLong());
            return std::nullopt;
        }
        if (!q.prepare(QStringLiteral("INSERT INTO morven_series (series, address, format, last_number) VALUES (?, ?, "
                                      "?, ?) ON CONFLICT (series) DO NOTHING")))
            return reason(q.lastError());
        q.addBindValue(s.series);
        q.addBindValue(s.address);
        q.addBindValue(s.format);
        q.addBindValue(s.first - 1);
        if (!q.exec())
            return reason(q.lastError());
        // The row lock (PostgreSQL) or the file's write lock (SQLite) holds every other station
        // and slot of the series until this number is committed.
        if (!q.prepare(QStringLiteral("SELECT address, format, last_number FROM morven_series WHERE series = ?%1")
                           .arg(server_ ? QStringLiteral(" FOR UPDATE") : QString())))
            return reason(q.lastError());
        q.addBindValue(s.series);
        if (!q.exec() || !q.next())
            return reason(q.lastError());
        const qint64 last = q.value(2).toLongLong();
        if (auto refusal = seriesRefusal(s, q.value(0).toLongLong(), q.value(1).toString(), last))
            return refusal;
        const qint64 next = std::max(s.first, last + 1);
        if (!q.prepare(QStringLiteral("UPDATE morven_series SET last_number = ? WHERE series = ?")))
            return reason(q.lastError());
        q.addBindValue(next);
        q.addBindValue(s.series);
        if (!q.exec())
            return reason(q.lastError());
        UnitRecord numbered = r;
        numbered.serial = next;
        numbered.series = s.series;
        if (auto problem = insertUnit(q, numbered, false))
            return problem;
        given = next;
        return std::nullopt;
    });
    if (why)
        return why;
    r.serial = given;
    r.series = s.series;
    return std::nullopt;
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

std::optional<QString> UnitRecords::enqueue(const QString &station, bool start, const UnitRecord &r)
{
    return write(QStringLiteral("cannot keep the record of unit %1 in the local queue").arg(r.unitId),
        [&]() -> std::optional<QString> {
            QSqlQuery q(QSqlDatabase::database(connection_, false));
            if (!q.prepare(QStringLiteral("INSERT INTO morven_outbox (station, kind, payload) VALUES (?, ?, ?)")))
                return reason(q.lastError());
            q.addBindValue(station);
            q.addBindValue(start ? QStringLiteral("start") : QStringLiteral("end"));
            q.addBindValue(QString::fromUtf8(QJsonDocument(recordJson(r)).toJson(QJsonDocument::Compact)));
            if (!q.exec())
                return reason(q.lastError());
            return std::nullopt;
        });
}

std::optional<QString> UnitRecords::queued(const QString &station, std::vector<QueuedWrite> &out) const
{
    out.clear();
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT seq, kind, payload FROM morven_outbox WHERE station = ? ORDER BY seq")))
        return QStringLiteral("cannot read the local queue %1: %2").arg(where_, reason(q.lastError()));
    q.addBindValue(station);
    if (!q.exec())
        return QStringLiteral("cannot read the local queue %1: %2").arg(where_, reason(q.lastError()));
    while (q.next()) {
        QueuedWrite w;
        w.seq = q.value(0).toLongLong();
        w.start = q.value(1).toString() == QLatin1String("start");
        if (auto why = recordFromJson(q.value(2).toString().toUtf8(), w.record))
            return QStringLiteral("the local queue %1: %2").arg(where_, *why);
        out.push_back(std::move(w));
    }
    return std::nullopt;
}

std::optional<QString> UnitRecords::dequeue(qint64 seq)
{
    return write(QStringLiteral("cannot clear a sent write from the local queue"), [&]() -> std::optional<QString> {
        QSqlQuery q(QSqlDatabase::database(connection_, false));
        if (!q.prepare(QStringLiteral("DELETE FROM morven_outbox WHERE seq = ?")))
            return reason(q.lastError());
        q.addBindValue(seq);
        if (!q.exec())
            return reason(q.lastError());
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
        r.series = q.value(column++).toString();
        out.push_back(std::move(r));
    }
    if (q.lastError().isValid())
        return QStringLiteral("cannot read the records %1: %2").arg(where_, reason(q.lastError()));
    return std::nullopt;
}

} // namespace morven::station
