// The unit records: what goes in comes back, a killed station's units become "interrupted",
// files that are not ours stay untouched, and stations sharing a file lose no row.
#include "recordtools.h"
#include "support/testmain.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <set>
#include <thread>

using namespace morven::station;
using namespace morven::test;

namespace {

UnitRecord ended(UnitRecord r, UnitResult result, const char *when)
{
    r.result = result;
    r.endedAt = at(when);
    r.phase = result == UnitResult::Passed ? "done" : "download";
    r.reason = result == UnitResult::Passed ? QString() : "line 42 was rejected 11 times, \"NAK\"\nleft erased";
    r.linesSent = 41;
    r.linesTotal = 512;
    r.retries = 11;
    r.seconds = 3.25;
    return r;
}

// Every field as text, so that a difference names the field.
QStringList fields(const UnitRecord &r)
{
    return {r.unitId, r.slot, r.port, r.station, r.operatorName, r.recipe, r.firmware, r.sha256, r.toolVersion,
        recordTime(r.startedAt), r.endedAt.isValid() ? recordTime(r.endedAt) : "-", resultName(r.result), r.phase,
        r.reason, QString::number(r.linesSent), QString::number(r.linesTotal), QString::number(r.retries),
        QString::number(r.seconds), r.serial ? QString::number(*r.serial) : "-"};
}

QString ids(const std::vector<UnitRecord> &rows)
{
    QString text;
    for (const UnitRecord &r : rows)
        text += r.unitId;
    return text;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class Records : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString fresh()
    {
        static int n = 0;
        return dir.filePath(QStringLiteral("units-%1.sqlite").arg(++n));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        // The units the filters pick from, started out of order; c and d in the same millisecond.
        UnitRecords records;
        QCOMPARE(said(records.open(dir.filePath("filters.sqlite"))), "ok");
        const UnitRecord units[]
            = {unit("d", "s2", "2024-05-02T00:00:00.000Z", "r1"), unit("b", "s1", "2024-05-01T12:00:00.500Z", "r2"),
                unit("a", "s1", "2024-05-01T08:00:00.000Z", "r1"), unit("c", "s2", "2024-05-02T00:00:00.000Z", "r1")};
        for (const UnitRecord &r : units)
            QCOMPARE(said(records.startUnit(r)), "ok");
        QCOMPARE(said(records.endUnit(ended(units[1], UnitResult::Failed, "2024-05-01T12:00:01Z"))), "ok");
        QCOMPARE(said(records.endUnit(ended(units[2], UnitResult::Passed, "2024-05-01T08:00:01Z"))), "ok");
        QCOMPARE(said(records.endUnit(ended(units[3], UnitResult::Passed, "2024-05-02T00:00:01Z"))), "ok");
    }

    void rowsRoundTrip()
    {
        const QString path = dir.filePath("new/folder/units.sqlite");
        UnitRecord passed
            = ended(unit("u1", "bench-1", "2024-05-01T08:00:00.001Z"), UnitResult::Passed, "2024-05-01T08:00:03.251Z");
        passed.serial = 1000;
        const UnitRecord failed = ended(
            unit("u2", "bench-1", "2024-05-01T10:00:00.000+02:00"), UnitResult::Failed, "2024-05-01T08:00:09.999Z");
        const UnitRecord running = unit("u3", "bench-1", "2024-05-01T08:00:00.002Z");
        {
            UnitRecords records;
            QCOMPARE(said(records.open(path)), "ok");
            for (const UnitRecord *r : {&std::as_const(passed), &failed, &running}) {
                UnitRecord first = *r;
                first.result = UnitResult::Running;
                first.endedAt = {};
                QCOMPARE(said(records.startUnit(first)), "ok");
            }
            QCOMPARE(said(records.endUnit(passed)), "ok");
            QCOMPARE(said(records.endUnit(failed)), "ok");
            // A unit id is never given twice, and only a started unit can end.
            QVERIFY(records.startUnit(passed).value_or("").contains("u1"));
            QVERIFY(records
                        .endUnit(ended(
                            unit("u9", "bench-1", "2024-05-01T08:00:00Z"), UnitResult::Passed, "2024-05-01T08:00:01Z"))
                        .value_or("")
                        .contains("no such unit"));
            QVERIFY(records.endUnit(running).has_value());
        }
        UnitRecords again;
        QCOMPARE(said(again.open(path)), "ok");
        std::vector<UnitRecord> rows;
        QCOMPARE(said(again.list({}, rows)), "ok");
        QCOMPARE(rows.size(), 3u);
        QCOMPARE(fields(rows[0]), fields(failed)); // 08:00:00.000 UTC
        QCOMPARE(fields(rows[1]), fields(passed));
        QCOMPARE(fields(rows[2]), fields(running));
        QCOMPARE(rows[0].startedAt.timeSpec(), Qt::UTC);

        // The next start of a killed station: its rows still running become interrupted, only those.
        int count = -1;
        QCOMPARE(said(again.markInterrupted("bench-2", &count)), "ok");
        QCOMPARE(count, 0);
        QCOMPARE(said(again.markInterrupted("bench-1", &count)), "ok");
        QCOMPARE(count, 1);
        QCOMPARE(said(again.list({}, rows)), "ok");
        QCOMPARE(resultName(rows[0].result) + resultName(rows[1].result) + resultName(rows[2].result),
            "failedpassedinterrupted");
        QVERIFY(rows[2].reason.contains("stopped"));
    }

    // Whatever is refused is left byte for byte as it was.
    void refusesWhatIsNotOurs_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("expected");
        QTest::newRow("not SQLite") << "text"
                                    << "is no SQLite file";
        QTest::newRow("foreign SQLite") << "foreign"
                                        << "not a records database of this tool (it holds parts)";
        QTest::newRow("another program's meta") << "meta"
                                                << "not a records database of this tool";
        QTest::newRow("newer schema") << "newer"
                                      << "schema version 3, newer than this release reads (2)";
        QTest::newRow("damaged") << "damaged"
                                 << "are damaged";
        QTest::newRow("a folder") << "folder"
                                  << "are a folder";
        QTest::newRow("folder under a file") << "under-file"
                                             << "cannot create the folder";
    }
    void refusesWhatIsNotOurs()
    {
        QFETCH(QString, kind);
        QFETCH(QString, expected);
        QString path = fresh();
        if (kind == "text") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray("unit,result\r\n").repeated(400));
        } else if (kind == "foreign") {
            rawSql(
                path, {"CREATE TABLE parts (id INTEGER PRIMARY KEY, name TEXT)", "INSERT INTO parts VALUES (1, 'x')"});
        } else if (kind == "meta") {
            rawSql(path,
                {"CREATE TABLE morven_meta (name TEXT, value TEXT)",
                    "INSERT INTO morven_meta VALUES ('application', 'inventory')"});
        } else if (kind == "newer" || kind == "damaged") {
            {
                UnitRecords ours;
                QCOMPARE(said(ours.open(path)), "ok");
                // Enough rows for a few pages, so that one of them can be overwritten.
                for (int i = 0; kind == "damaged" && i < 24; ++i) {
                    UnitRecord r = unit(QString::number(i), "bench", "2024-05-01T08:00:00Z");
                    r.reason = QString(1000, 'x');
                    QCOMPARE(said(ours.startUnit(r)), "ok");
                }
            }
            if (kind == "newer") {
                rawSql(path, {"UPDATE morven_meta SET value = '3' WHERE name = 'schema_version'"});
            } else {
                QFile file(path);
                QVERIFY(file.open(QIODevice::ReadWrite) && file.size() > 5 * 4096);
                QVERIFY(file.seek(3 * 4096));
                file.write(QByteArray(4096, '\x55'));
            }
        } else if (kind == "folder") {
            QVERIFY(QDir().mkpath(path));
        } else {
            QVERIFY(QFile(path).open(QIODevice::WriteOnly));
            path += "/sub/units.sqlite";
        }
        const QByteArray before = contents(path);
        UnitRecords records;
        const std::optional<QString> why = records.open(path);
        QVERIFY2(why.value_or("").contains(expected), qPrintable(why.value_or("opened")));
        QVERIFY2(why->contains(path), qPrintable(*why));
        QCOMPARE(contents(path), before);
        QVERIFY(records.startUnit(unit("x", "bench", "2024-05-01T08:00:00Z")).has_value());
    }

    // Stations (or slots) that start and end units in the same millisecond, each through its own
    // connection to one file that none of them has made yet, lose and merge none.
    // A file of the first release is brought up to date, its rows kept, and then gives numbers.
    void migratesTheFirstSchema()
    {
        const QString path = fresh();
        rawSql(path,
            {"CREATE TABLE morven_meta (name VARCHAR(64) PRIMARY KEY, value TEXT NOT NULL)",
                "INSERT INTO morven_meta VALUES ('application', 'morven-unit-records'), ('schema_version', '1')",
                "CREATE TABLE morven_units (unit_id VARCHAR(64) PRIMARY KEY, slot TEXT NOT NULL, port TEXT NOT NULL, "
                "station TEXT NOT NULL, operator_name TEXT NOT NULL, recipe TEXT NOT NULL, firmware TEXT NOT NULL, "
                "sha256 TEXT NOT NULL, tool_version TEXT NOT NULL, started_at VARCHAR(32) NOT NULL, ended_at "
                "VARCHAR(32), result VARCHAR(16) NOT NULL, phase TEXT NOT NULL, reason TEXT NOT NULL, lines_sent "
                "BIGINT NOT NULL, lines_total BIGINT NOT NULL, retries BIGINT NOT NULL, seconds DOUBLE PRECISION "
                "NOT NULL, serial BIGINT)",
                "INSERT INTO morven_units VALUES ('old', 'A1', 'p', 'bench', '', 'rev B', 'fw', 'aa', '1.0', "
                "'2024-01-01T00:00:00.000Z', NULL, 'passed', 'done', '', 3, 3, 0, 1.5, 17)"});
        UnitRecords records;
        QCOMPARE(said(records.open(path)), "ok");
        std::vector<UnitRecord> rows;
        QCOMPARE(said(records.list({}, rows)), "ok");
        QCOMPARE(rows.size(), std::size_t(1));
        QCOMPARE(rows[0].serial, std::optional<qint64>(17));
        UnitRecord r = unit("new", "bench", "2024-05-01T08:00:00Z");
        QCOMPARE(said(records.startUnitWithSerial(r, SerialRequest{"rev C", 0x40, "u32le", 5, 100})), "ok");
        QCOMPARE(r.serial, std::optional<qint64>(5));
    }

    void stationsSharingAFileLoseNoRow()
    {
        const QString path = fresh();
        constexpr int kStations = 4, kUnits = 25;
        QStringList failures[kStations];
        std::vector<std::thread> stations;
        for (int s = 0; s < kStations; ++s)
            stations.emplace_back([&, s] {
                UnitRecords records;
                if (auto why = records.open(path)) {
                    failures[s] += *why;
                    return;
                }
                const QString station = QStringLiteral("bench-%1").arg(s);
                for (int u = 0; u < kUnits; ++u) {
                    UnitRecord r = unit(QStringLiteral("%1-%2").arg(s).arg(u), station, "2024-05-01T08:00:00.000Z");
                    if (auto why = records.startUnit(r))
                        failures[s] += *why;
                    if (auto why = records.endUnit(ended(r, UnitResult::Passed, "2024-05-01T08:00:01.000Z")))
                        failures[s] += *why;
                }
            });
        for (std::thread &t : stations)
            t.join();
        for (const QStringList &f : failures)
            QVERIFY2(f.isEmpty(), qPrintable(f.join('\n')));
        UnitRecords records;
        QCOMPARE(said(records.open(path)), "ok");
        std::vector<UnitRecord> rows;
        QCOMPARE(said(records.list({}, rows)), "ok");
        std::set<QString> unique;
        for (const UnitRecord &r : rows)
            if (r.result == UnitResult::Passed)
                unique.insert(r.unitId);
        QCOMPARE(rows.size(), std::size_t(kStations * kUnits));
        QCOMPARE(unique.size(), std::size_t(kStations * kUnits));
    }

    void filters_data()
    {
        QTest::addColumn<QDateTime>("since"); // invalid: none
        QTest::addColumn<QString>("station");
        QTest::addColumn<QString>("recipe");
        QTest::addColumn<int>("result"); // -1: any
        QTest::addColumn<QString>("expected");
        const QDateTime none;
        const int any = -1;
        QTest::newRow("all, oldest first") << none << ""
                                           << "" << any << "abcd";
        QTest::newRow("since the very millisecond") << at("2024-05-01T12:00:00.500Z") << ""
                                                    << "" << any << "bcd";
        QTest::newRow("since, with an offset") << at("2024-05-02T01:00:00+01:00") << ""
                                               << "" << any << "cd";
        QTest::newRow("since, after all") << at("2024-05-02T00:00:00.001Z") << ""
                                          << "" << any << "";
        QTest::newRow("station") << none << "s2"
                                 << "" << any << "cd";
        QTest::newRow("recipe and result") << none << ""
                                           << "r1" << int(UnitResult::Passed) << "ac";
        QTest::newRow("failed") << none << ""
                                << "" << int(UnitResult::Failed) << "b";
        QTest::newRow("interrupted") << none << ""
                                     << "" << int(UnitResult::Interrupted) << "";
    }
    void filters()
    {
        QFETCH(QDateTime, since);
        QFETCH(QString, station);
        QFETCH(QString, recipe);
        QFETCH(int, result);
        QFETCH(QString, expected);
        UnitRecords records;
        QCOMPARE(said(records.open(dir.filePath("filters.sqlite"))), "ok");
        std::vector<UnitRecord> rows;
        UnitRecords::Filter filter;
        if (since.isValid())
            filter.since = since;
        filter.station = station;
        filter.recipe = recipe;
        if (result >= 0)
            filter.result = UnitResult(result);
        QCOMPARE(said(records.list(filter, rows)), "ok");
        QCOMPARE(ids(rows), expected);
    }
};
MORVEN_TEST_CLASS(Records)

#include "test_records.moc"
