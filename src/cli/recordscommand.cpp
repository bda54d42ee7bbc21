// morvenctl records: the record of every unit the production station flashed, as a table for
// people or as JSON lines or CSV for other tools.
#include "cli/commandline.h"
#include "cli/commands.h"
#include "station/unitrecords.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <map>

namespace morven::cli {

namespace {

// The columns of --json and --csv, in the order of the CSV header.
const char *const kRecordFields[]
    = {"unit_id", "slot", "port", "station", "operator", "recipe", "firmware", "sha256", "tool_version", "started_at",
        "ended_at", "result", "phase", "reason", "lines_sent", "lines_total", "retries", "seconds", "serial", "series"};

// The row's values in the order of kRecordFields; a null QJsonValue where the record has none.
QJsonArray recordValues(const UnitRecord &r)
{
    const QJsonValue none(QJsonValue::Null);
    return {r.unitId, r.slot, r.port, r.station, r.operatorName, r.recipe, r.firmware, r.sha256, r.toolVersion,
        recordTime(r.startedAt), r.endedAt.isValid() ? QJsonValue(recordTime(r.endedAt)) : none, resultName(r.result),
        r.phase, r.reason, r.linesSent, r.linesTotal, r.retries, r.seconds, r.serial ? QJsonValue(*r.serial) : none,
        r.series.isEmpty() ? none : QJsonValue(r.series)};
}

// A field as RFC 4180 writes it: quoted when it holds a comma, a quote or a line break.
QString csvField(const QJsonValue &value)
{
    QString text;
    if (value.isString())
        text = value.toString();
    else if (value.isDouble())
        text = QString::number(value.toDouble(), 'g', 15);
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1String("\""), QLatin1String("\"\"")) + QLatin1Char('"');
}

void print(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
}

// Columns padded to their widest cell, two blanks apart.
void printColumns(const std::vector<QStringList> &table)
{
    std::vector<qsizetype> widths(table.front().size(), 0);
    for (const QStringList &row : table)
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    for (const QStringList &row : table) {
        QString line;
        for (qsizetype c = 0; c + 1 < row.size(); ++c)
            line += row[c].leftJustified(widths[c] + 2);
        print(line + row.constLast() + QLatin1Char('\n'));
    }
}

// The yield of every station, and of every slot under it: units that ended, and how they ended.
// Units still running are left out; interrupted ones count against the yield.
void printYield(const std::vector<UnitRecord> &rows)
{
    struct Count
    {
        int passed = 0, failed = 0, interrupted = 0;
    };
    std::map<std::pair<QString, QString>, Count> counts; // (station, slot); slot empty: the station
    for (const UnitRecord &r : rows) {
        if (r.result == UnitResult::Running)
            continue;
        for (const QString &slot : {QString(), r.slot}) {
            Count &c = counts[{r.station, slot}];
            ++(r.result == UnitResult::Passed ? c.passed : r.result == UnitResult::Failed ? c.failed : c.interrupted);
        }
    }
    std::vector<QStringList> table{{QStringLiteral("STATION"), QStringLiteral("SLOT"), QStringLiteral("UNITS"),
        QStringLiteral("PASSED"), QStringLiteral("FAILED"), QStringLiteral("INTERRUPTED"), QStringLiteral("YIELD")}};
    for (const auto &[key, c] : counts) {
        const int units = c.passed + c.failed + c.interrupted;
        table.push_back({key.first, key.second.isEmpty() ? QStringLiteral("(all)") : key.second, QString::number(units),
            QString::number(c.passed), QString::number(c.failed), QString::number(c.interrupted),
            QStringLiteral("%1 %").arg(100.0 * c.passed / units, 0, 'f', 1)});
    }
    printColumns(table);
}

void printTable(const std::vector<UnitRecord> &rows)
{
    std::vector<QStringList> table{{QStringLiteral("STARTED (UTC)"), QStringLiteral("UNIT"), QStringLiteral("STATION"),
        QStringLiteral("SLOT"), QStringLiteral("RECIPE"), QStringLiteral("RESULT"), QStringLiteral("LINES"),
        QStringLiteral("RETRIES"), QStringLiteral("SECONDS"), QStringLiteral("ENDED IN")}};
    const auto orDash = [](const QString &text) { return text.isEmpty() ? QStringLiteral("-") : text; };
    for (const UnitRecord &r : rows) {
        QString ended = r.phase;
        if (!r.reason.isEmpty())
            ended += (ended.isEmpty() ? QString() : QStringLiteral(": ")) + r.reason;
        table.push_back({r.startedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), r.unitId.left(8),
            orDash(r.station), orDash(r.slot), orDash(r.recipe), resultName(r.result),
            QStringLiteral("%1/%2").arg(r.linesSent).arg(r.linesTotal), QString::number(r.retries),
            QString::number(r.seconds, 'f', 1), orDash(ended)});
    }
    printColumns(table);
}

// An ISO 8601 date or date and time; UTC unless it carries an offset.
std::optional<QDateTime> sinceTime(const QString &text)
{
    QDateTime time = QDateTime::fromString(text.trimmed(), Qt::ISODateWithMs);
    if (!time.isValid())
        return std::nullopt;
    if (time.timeSpec() == Qt::LocalTime)
        time.setTimeSpec(Qt::UTC);
    return time;
}

} // namespace

int runRecords(const QStringList &args)
{
    CommandLine cl(QStringLiteral("records"),
        QStringLiteral("Prints the record of every unit the production station flashed, oldest first: a table, or "
                       "one JSON object per line, or CSV with a header line."));
    const QCommandLineOption records("records",
        QStringLiteral("The record database to read: a SQLite file (default: %1) or a postgresql:// URI.")
            .arg(UnitRecords::defaultPath()),
        "WHERE");
    const QCommandLineOption station("station", "Only the units of this station (its host name).", "NAME");
    const QCommandLineOption recipe("recipe", "Only the units of this recipe (its name).", "NAME");
    const QCommandLineOption result("result", "Only units with this result: running, passed, failed or interrupted.",
        "RESULT");
    const QCommandLineOption yield("yield", "Print the yield per station and per slot instead of the units.");
    const QCommandLineOption json("json", "One JSON object per unit and line.");
    const QCommandLineOption csv("csv", "CSV (RFC 4180) with a header line.");
    const QCommandLineOption since("since",
        "Only units started at or after TIME: an ISO 8601 date or date and time, UTC unless it has an offset "
        "(2024-05-01, 2024-05-01T08:30, 2024-05-01T10:30+02:00).",
        "TIME");
    for (const QCommandLineOption &o : {records, station, recipe, result, since, yield, json, csv})
        cl.add(o);
    if (!cl.parse(args))
        return Ok;
    if (int(cl.isSet(json)) + int(cl.isSet(csv)) + int(cl.isSet(yield)) > 1)
        misuse(QStringLiteral("--json, --csv and --yield: give one of them"));
    UnitRecords::Filter filter;
    filter.station = cl.value(station);
    filter.recipe = cl.value(recipe);
    if (cl.isSet(result)) {
        filter.result = resultFromName(cl.value(result));
        if (!filter.result)
            misuse(QStringLiteral("--result: '%1' is none of running, passed, failed, interrupted").arg(cl.value(result)));
    }
    if (cl.isSet(since)) {
        filter.since = sinceTime(cl.value(since));
        if (!filter.since)
            misuse(QStringLiteral("--since: '%1' is not an ISO 8601 date or date and time").arg(cl.value(since)));
    }
    const QString path = cl.isSet(records) ? cl.value(records) : UnitRecords::defaultPath();
    // Reading never creates a database file.
    if (!path.isEmpty() && !isServerLocation(path) && !QFileInfo::exists(path))
        fail(BadInput, QStringLiteral("no records at %1: no such file").arg(path));
    UnitRecords database;
    if (const auto why = database.open(path))
        fail(BadInput, *why);
    std::vector<UnitRecord> rows;
    if (const auto why = database.list(filter, rows))
        fail(BadInput, *why);

    if (cl.isSet(yield)) {
        printYield(rows);
    } else if (cl.isSet(json)) {
        for (const UnitRecord &r : rows) {
            const QJsonArray values = recordValues(r);
            QJsonObject object;
            for (qsizetype i = 0; i < values.size(); ++i)
                object.insert(QLatin1String(kRecordFields[i]), values[i]);
            print(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
        }
    } else if (cl.isSet(csv)) {
        QStringList header;
        for (const char *field : kRecordFields)
            header += QLatin1String(field);
        print(header.join(QLatin1Char(',')) + QLatin1String("\r\n"));
        for (const UnitRecord &r : rows) {
            QStringList fields;
            for (const QJsonValue &value : recordValues(r))
                fields += csvField(value);
            print(fields.join(QLatin1Char(',')) + QLatin1String("\r\n"));
        }
    } else {
        printTable(rows);
    }
    return Ok;
}

} // namespace morven::cli
