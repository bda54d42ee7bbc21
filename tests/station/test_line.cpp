// A line of stations on one PostgreSQL database: the records' schema is shared and guarded, no
// serial number is ever given twice, and stations that lose the database mid-run lose and double
// no row. Runs against the run's own throwaway cluster (scripts/pg-cluster).
#include "station/station.h"
#include "recordtools.h"

#include "sim/simconfig.h"
#include "sim/simtarget.h"
#include "support/cliprocess.h"
#include "support/pgcluster.h"
#include "support/testmain.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <set>
#include <thread>

using namespace morven;
using namespace morven::station;

Q_DECLARE_METATYPE(morven::station::SerialRequest)

namespace {

SerialRequest seriesOf(const QString &name, qint64 first = 1000, qint64 address = 0x40, const QString &format = "u32le")
{
    return SerialRequest{name, address, format, first, 0xFFFFFFFFLL};
}

// 20 records of 16 bytes from address 0: three download lines (8, 8 and 4 records).
const QByteArray kLineFirmware = [] {
    QByteArray text;
    for (int i = 0; i < 20; ++i)
        text += test::hexRecord(QByteArray(16, char(i)), quint16(16 * i)) + "\n";
    return text + ":00000001FF\n";
}();

// The serial number a target received: four bytes, low first, at image offset 0x40, which is
// data byte 64 of the first line (":W", chunk number, count, then the data as digit pairs).
std::optional<qint64> receivedSerial(const sim::Bootloader &bootloader)
{
    const QStringList lines = test::acceptedLines(bootloader);
    if (lines.isEmpty() || lines.front().size() < 8 + 2 * 68)
        return std::nullopt;
    qint64 number = 0;
    for (int i = 3; i >= 0; --i)
        number = number * 256 + lines.front().mid(8 + 2 * (64 + i), 2).toLongLong(nullptr, 16);
    return number;
}

} // namespace

class LineTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    // A database of someone else's, or of a newer release, is refused and left as it is.
    void refusesWhatIsNotOurs_data()
    {
        QTest::addColumn<QStringList>("setup");
        QTest::addColumn<QString>("expected");
        QTest::newRow("another program's tables") << QStringList{"CREATE TABLE parts (id INTEGER)"}
                                                  << "not a records database of this tool (it holds parts)";
        QTest::newRow("newer schema") << QStringList{"UPDATE morven_meta SET value = '3' WHERE name = "
                                                     "'schema_version'"}
                                      << "schema version 3, newer than this release reads (2)";
    }
    void refusesWhatIsNotOurs()
    {
        QFETCH(QStringList, setup);
        QFETCH(QString, expected);
        const QString uri = test::pgDatabase(QStringLiteral("refuse%1").arg(QTest::currentDataTag()[0] == 'a'));
        if (setup.front().startsWith("UPDATE")) {
            UnitRecords ours;
            QCOMPARE(test::said(ours.open(uri)), "ok");
        }
        test::rawSql(uri, setup);
        UnitRecords records;
        const QString why = test::said(records.open(uri));
        QVERIFY2(why.contains(expected), qPrintable(why));
    }

    // A queued first row sent again after its answer was lost changes nothing; the same row
    // sent twice by mistake is refused.
    void queuedRowSentAgain()
    {
        UnitRecords records;
        QCOMPARE(test::said(records.open(test::pgDatabase("again"))), "ok");
        const UnitRecord r = test::unit("u1", "st");
        QCOMPARE(test::said(records.startUnit(r)), "ok");
        QCOMPARE(test::said(records.startUnit(r, true)), "ok");
        QVERIFY(records.startUnit(r).has_value());
        std::vector<UnitRecord> rows;
        QCOMPARE(test::said(records.list({}, rows)), "ok");
        QCOMPARE(rows.size(), std::size_t(1));
    }

    // Slots on every station start at once: each number of the series is given exactly once,
    // none skipped, on PostgreSQL across connections as on a station's own SQLite file.
    void serialsNeverTwice_data()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("postgresql") << true;
        QTest::newRow("sqlite") << false;
    }
    void serialsNeverTwice()
    {
        QFETCH(bool, server);
        const QString where = server ? test::pgDatabase("serials") : dir.filePath("serials.sqlite");
        constexpr int kThreads = 8, kEach = 20;
        std::vector<std::vector<qint64>> given(kThreads);
        std::vector<QString> errors(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                UnitRecords records;
                if (auto why = records.open(where)) {
                    errors[t] = *why;
                    return;
                }
                for (int i = 0; i < kEach && errors[t].isEmpty(); ++i) {
                    UnitRecord r = test::unit(QStringLiteral("%1-%2").arg(t).arg(i), QStringLiteral("st%1").arg(t));
                    if (auto why = records.startUnitWithSerial(r, seriesOf("line")))
                        errors[t] = *why;
                    else
                        given[t].push_back(*r.serial);
                }
            });
        for (std::thread &t : threads)
            t.join();
        std::set<qint64> all;
        for (int t = 0; t < kThreads; ++t) {
            QVERIFY2(errors[t].isEmpty(), qPrintable(errors[t]));
            all.insert(given[t].begin(), given[t].end());
        }
        QCOMPARE(all.size(), std::size_t(kThreads * kEach));
        QCOMPARE(*all.begin(), qint64(1000));
        QCOMPARE(*all.rbegin(), qint64(1000 + kThreads * kEach - 1));
    }

    // A series keeps its address and form; `first` is a floor, never a way back.
    void seriesRules_data()
    {
        QTest::addColumn<SerialRequest>("request");
        QTest::addColumn<QString>("expected"); // the number given, or the refusal
        QTest::newRow("first number") << seriesOf("s", 10) << "10";
        QTest::newRow("next") << seriesOf("s", 10) << "11";
        QTest::newRow("first as a floor") << seriesOf("s", 500) << "500";
        QTest::newRow("never back") << seriesOf("s", 10) << "501";
        QTest::newRow("other address") << seriesOf("s", 10, 0x80) << "unit_serial.address: the series \"s\" writes its numbers at 0x40";
        QTest::newRow("other format") << seriesOf("s", 10, 0x40, "u32be") << "unit_serial.format: the series \"s\" writes its numbers as u32le";
        QTest::newRow("no longer fits") << SerialRequest{"s", 0x40, "u32le", 10, 501} << "no longer fits u32le (at most 501)";
    }
    void seriesRules()
    {
        QFETCH(SerialRequest, request);
        QFETCH(QString, expected);
        static UnitRecords records;
        static const auto opened = records.open(test::pgDatabase("series"));
        QCOMPARE(test::said(opened), "ok");
        static int n = 0;
        UnitRecord r = test::unit(QString::number(++n), "st");
        // A station checks when it opens, naming the setting; a unit is refused all the same.
        const QString checked = test::said(records.checkSeries(request));
        const std::optional<QString> why = records.startUnitWithSerial(r, request);
        if (expected.front().isDigit()) {
            QCOMPARE(checked, "ok");
            QCOMPARE(why ? *why : QString::number(*r.serial), expected);
        } else {
            QVERIFY2(checked.contains(expected), qPrintable(checked));
            QVERIFY(why && !r.serial);
        }
    }

    // A board that comes while the database is away waits, untouched, for its number, and is
    // flashed by itself once the database is back.
    void boardWaitsForItsNumber()
    {
        const QString uri = test::pgDatabase("held");
        test::writeFile(dir.filePath("fw.hex"), kLineFirmware);
        const sim::SimConfig c = sim::parseSimArguments({"morven-sim", "--tcp", "0"});
        sim::SimTarget target(c.bootloader, c.transport);
        QVERIFY(target.listen());
        const QJsonObject recipe{{"name", "Held"}, {"firmware", "fw.hex"},
            {"sha256", QString(QCryptographicHash::hash(kLineFirmware, QCryptographicHash::Sha256).toHex())},
            {"format", "w"}, {"probe_interval_ms", 40},
            {"slots", QJsonArray{QJsonObject{{"label", "A1"}, {"port", QStringLiteral("tcp:127.0.0.1:%1").arg(target.port())}}}},
            {"unit_serial", QJsonObject{{"address", "0x40"}, {"format", "u32le"}, {"first", 7}}}};
        Station station;
        StationOptions options;
        options.records = uri;
        options.queue = dir.filePath("held-queue.sqlite");
        const auto why = station.open(
            test::writeFile(dir.filePath("held.json"), QJsonDocument(recipe).toJson()), options);
        QVERIFY2(!why, qPrintable(test::said(why)));
        test::pgPause();
        station.run();
        QVERIFY2(QTest::qWaitFor([&] { return station.slot(0).phase() == Slot::Phase::Held; }, 10000),
            qPrintable("the slot to wait for the records, not: " + station.slot(0).stateText()));
        QVERIFY(!station.recordsReachable());
        QVERIFY(target.bootloader().acceptedLines().empty());
        test::pgResume();
        QVERIFY2(QTest::qWaitFor([&] { return station.unitsPassed() == 1; }, 15000),
            qPrintable("the unit to pass once the records are back, not: " + station.slot(0).stateText()));
        QCOMPARE(receivedSerial(target.bootloader()), std::optional<qint64>(7));
        QVERIFY(station.recordsReachable());
    }

    // Four stations of eight slots each on one database, which goes away while their units run:
    // every unit is recorded once, every number given once, and each board holds its row's
    // number. MORVEN_LINE_STATIONS, MORVEN_LINE_SLOTS and MORVEN_LINE_PAUSE_AT (units started
    // when the server stops) make it larger or stop the server at another moment.
    void lineOfStations()
    {
        const auto knob = [](const char *name, int fallback) {
            return qEnvironmentVariableIsSet(name) ? qEnvironmentVariableIntValue(name) : fallback;
        };
        const int kStations = knob("MORVEN_LINE_STATIONS", 4), kSlots = knob("MORVEN_LINE_SLOTS", 8);
        const int pauseAt = knob("MORVEN_LINE_PAUSE_AT", kStations * kSlots);
        const QString uri = test::pgDatabase("line");
        test::writeFile(dir.filePath("fw.hex"), kLineFirmware);
        const QString digest = QCryptographicHash::hash(kLineFirmware, QCryptographicHash::Sha256).toHex();
        std::vector<std::unique_ptr<sim::SimTarget>> targets;
        std::map<QString, sim::SimTarget *> byPort;
        std::map<sim::SimTarget *, int> downloads; // a board left in place is never flashed twice
        std::vector<std::unique_ptr<QProcess>> stations;
        for (int s = 0; s < kStations; ++s) {
            QJsonArray slotList;
            for (int i = 0; i < kSlots; ++i) {
                // Slow replies keep the units running while the database is away.
                const sim::SimConfig c = sim::parseSimArguments({"morven-sim", "--tcp", "0", "--delay", "200"});
                targets.push_back(std::make_unique<sim::SimTarget>(c.bootloader, c.transport));
                QVERIFY(targets.back()->listen());
                sim::SimTarget *target = targets.back().get();
                connect(target, &sim::SimTarget::downloadCompleted, this, [&downloads, target] { ++downloads[target]; });
                const QString port = QStringLiteral("tcp:127.0.0.1:%1").arg(targets.back()->port());
                byPort[port] = targets.back().get();
                slotList.append(QJsonObject{{"label", QStringLiteral("A%1").arg(i + 1)}, {"port", port}});
            }
            const QJsonObject recipe{{"name", "Board"}, {"firmware", "fw.hex"}, {"sha256", digest}, {"format", "w"},
                // A board slower to answer than leave_probes link tests would count as gone.
                {"probe_interval_ms", 40}, {"leave_probes", 25}, {"slots", slotList},
                {"unit_serial",
                    QJsonObject{{"series", "line"}, {"address", "0x40"}, {"format", "u32le"}, {"first", 1000}}}};
            const QString path = test::writeFile(
                dir.filePath(QStringLiteral("recipe%1.json").arg(s)), QJsonDocument(recipe).toJson());
            stations.push_back(std::make_unique<QProcess>());
            stations.back()->start(MORVENCTL_PATH,
                {"station", path, "--records", uri, "--queue", dir.filePath(QStringLiteral("queue%1.sqlite").arg(s)),
                    "--station", QStringLiteral("st%1").arg(s), "--units", QString::number(kSlots), "--json"});
        }
        UnitRecords records;
        QCOMPARE(test::said(records.open(uri)), "ok");
        std::vector<UnitRecord> rows;
        QVERIFY2(QTest::qWaitFor([&] { return !records.list({}, rows) && int(rows.size()) >= pauseAt; }, 30000),
            qPrintable(QStringLiteral("units started: %1 of %2").arg(rows.size()).arg(pauseAt)));
        test::pgPause();
        const auto output = [&](int s) { return stations[s]->peek(1 << 20); };
        // Every station that still has a row to write finds the database away.
        const auto allNoticed = [&] {
            for (int s = 0; s < kStations; ++s)
                if (!output(s).contains("\"reachable\":false") && output(s).count("\"event\":\"passed\"") < kSlots)
                    return false;
            return true;
        };
        QVERIFY2(QTest::qWaitFor([&] { return allNoticed(); }, 30000),
            "every station with units to record to find the database away");
        test::pgResume();
        int noticed = 0;
        for (int s = 0; s < kStations; ++s) {
            QVERIFY2(stations[s]->waitForFinished(30000) && stations[s]->exitCode() == 0,
                qPrintable(QStringLiteral("station %1 to send its queued records and end: %2\n%3")
                               .arg(s)
                               .arg(QString::fromUtf8(stations[s]->readAllStandardError()),
                                   QString::fromUtf8(output(s)))));
            noticed += output(s).contains("\"reachable\":false");
        }
        QVERIFY2(noticed > 0, "a station to find the database away");

        QCOMPARE(test::said(records.reopen()), "ok");
        QCOMPARE(test::said(records.list({}, rows)), "ok");
        QCOMPARE(int(rows.size()), kStations * kSlots);
        std::set<QString> ids;
        std::set<qint64> numbers;
        for (const UnitRecord &r : rows) {
            ids.insert(r.unitId);
            QVERIFY2(r.result == UnitResult::Passed && r.endedAt.isValid() && r.serial,
                qPrintable(r.slot + " of " + r.station + ": " + resultName(r.result) + " " + r.reason));
            numbers.insert(*r.serial);
            QCOMPARE(receivedSerial(byPort.at(r.port)->bootloader()), r.serial);
            QCOMPARE(downloads[byPort.at(r.port)], 1);
        }
        QCOMPARE(ids.size(), rows.size());
        QCOMPARE(numbers.size(), rows.size());
        QCOMPARE(*numbers.rbegin(), qint64(1000 + kStations * kSlots - 1));
        // What quality reads from it: one station's yield, in all and per slot.
        const test::ProcessResult yield
            = test::runProgram(MORVENCTL_PATH, {"records", "--records", uri, "--station", "st0", "--yield"});
        QCOMPARE(yield.code, 0);
        const QStringList lines = QString::fromUtf8(yield.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2 + kSlots);
        QCOMPARE(lines[1].simplified(), QStringLiteral("st0 (all) %1 %1 0 0 100.0 %").arg(kSlots));
    }
};

MORVEN_TEST_CLASS(LineTest)
#include "test_line.moc"
