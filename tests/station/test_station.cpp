// The station as a whole against simulated targets on loopback TCP: a refused recipe sends
// nothing anywhere, every unit is recorded once with its slot, result and where it ended.
#include "station/station.h"

#include "sim/simconfig.h"
#include "sim/simtarget.h"
#include "support/cliprocess.h"
#include "support/testmain.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <set>

using namespace morven;
using namespace morven::station;

namespace {

// 20 records of 16 bytes: three download lines (8, 8 and 4 records).
const QByteArray kFirmware = [] {
    QByteArray text;
    for (int i = 0; i < 20; ++i)
        text += test::hexRecord(QByteArray(16, char(i)), quint16(16 * i)) + "\n";
    return text + ":00000001FF\n";
}();

std::unique_ptr<sim::SimTarget> listeningTarget(const QString &options)
{
    const sim::SimConfig c
        = sim::parseSimArguments(QStringList{"morven-sim", "--tcp", "0"} + options.split(' ', Qt::SkipEmptyParts));
    auto target = std::make_unique<sim::SimTarget>(c.bootloader, c.transport);
    if (!target->listen())
        qFatal("the simulated target cannot listen on the loopback");
    return target;
}

} // namespace

class StationTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    // A recipe for these targets' ports; `sha256` empty: the firmware's own.
    QString recipe(const std::vector<std::unique_ptr<sim::SimTarget>> &targets, const QString &sha256 = {})
    {
        test::writeFile(dir.filePath(QStringLiteral("fw.hex")), kFirmware);
        QJsonArray slotList;
        for (std::size_t i = 0; i < targets.size(); ++i)
            slotList.append(QJsonObject{{"label", QStringLiteral("A%1").arg(i + 1)},
                {"port", QStringLiteral("tcp:127.0.0.1:%1").arg(targets[i]->port())}});
        const QString digest = sha256.isEmpty()
            ? QString::fromLatin1(QCryptographicHash::hash(kFirmware, QCryptographicHash::Sha256).toHex())
            : sha256;
        const QJsonObject o{{"name", "Board"}, {"firmware", "fw.hex"}, {"sha256", digest}, {"format", "w"},
            {"probe_interval_ms", 40}, {"slots", slotList}};
        return test::writeFile(dir.filePath(QStringLiteral("recipe.json")), QJsonDocument(o).toJson());
    }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void wrongHashSendsNothing()
    {
        std::vector<std::unique_ptr<sim::SimTarget>> targets;
        targets.push_back(listeningTarget(QString()));
        Station station;
        StationOptions options;
        options.records = dir.filePath(QStringLiteral("refused.sqlite"));
        const auto why = station.open(recipe(targets, QString(64, QLatin1Char('0'))), options);
        QVERIFY(why && why->contains(QLatin1String("SHA-256")));
        QCOMPARE(station.slotCount(), std::size_t(0));
        QTest::qWait(100); // a connection, had one been made, would have arrived by now
        QVERIFY(!targets[0]->hasClient() && targets[0]->bootloader().frames().empty());
    }

    // Three positions at once: one passes, one rejects a line 11 times, one is unplugged
    // mid-download; each unit is recorded once, under its slot, with where it ended.
    void everyUnitRecordedOnce()
    {
        std::vector<std::unique_ptr<sim::SimTarget>> targets;
        for (const char *options : {"", "--reject 2:11", "--drop-after 2"})
            targets.push_back(listeningTarget(QLatin1String(options)));
        connect(targets[2].get(), &sim::SimTarget::clientDropped, targets[2].get(), &sim::SimTarget::stopListening);
        Station station;
        StationOptions options;
        options.records = dir.filePath(QStringLiteral("units.sqlite"));
        options.operatorName = QStringLiteral("ann");
        options.stationName = QStringLiteral("bench-1");
        const std::optional<QString> why = station.open(recipe(targets), options);
        QVERIFY2(!why, qPrintable(why.value_or(QString())));
        station.run();
        QVERIFY2(QTest::qWaitFor([&] { return station.unitsEnded() == 3; }, 10000),
            qPrintable(
                QStringLiteral("units ended: %1; %2 / %3 / %4")
                    .arg(station.unitsEnded())
                    .arg(station.slot(0).stateText(), station.slot(1).stateText(), station.slot(2).stateText())));
        QCOMPARE(station.unitsPassed(), 1);

        UnitRecords records;
        QVERIFY(!records.open(options.records));
        std::vector<UnitRecord> rows;
        QVERIFY(!records.list({}, rows));
        QCOMPARE(rows.size(), std::size_t(3));
        QStringList seen;
        for (const UnitRecord &r : rows) {
            seen << QStringList{r.slot, resultName(r.result), r.phase, QString::number(r.linesSent), r.operatorName,
                r.station, r.recipe, r.firmware}
                        .join(' ');
            QVERIFY(r.endedAt.isValid() && r.startedAt <= r.endedAt);
        }
        seen.sort();
        QCOMPARE(seen, (QStringList{"A1 passed done 3 ann bench-1 Board fw.hex", "A2 failed download 1 ann bench-1 Board fw.hex",
                           "A3 failed download 1 ann bench-1 Board fw.hex"}));
        QCOMPARE(std::set<QString>({rows[0].unitId, rows[1].unitId, rows[2].unitId}).size(), std::size_t(3));
    }
};

MORVEN_TEST_CLASS(StationTest)
#include "test_station.moc"
