// The station's speed: 32 slots on loopback TCP, each target paced at 115200 baud both ways like
// a device behind a serial-to-network bridge, one 64 KiB image, against one slot alone, in one
// run; and the longest time the window's event loop was blocked while its 32 tiles updated.
// Given a PostgreSQL database, also 32 slots with a serial number per unit recorded there
// against the same recorded in SQLite.
//
//   cmake --build --preset default --target bench_station
//   QT_QPA_PLATFORM=offscreen build/default/bench/bench_station [KiB] [slots] [postgresql://...]
// (scripts/bench starts a throwaway PostgreSQL cluster for it.)
#include "station/station.h"
#include "stationwindow/stationwindow.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int Baud = 115200;

QString tool(const char *relative)
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../src/") + QLatin1String(relative);
}

// `kib` KiB of data as 16-byte Intel HEX records, with the address records every 64 KiB.
QByteArray image(int kib)
{
    QByteArray text;
    char line[64];
    for (int i = 0; i < kib * 64; ++i) {
        if (i % 4096 == 0) {
            const unsigned upper = unsigned(i / 4096);
            std::snprintf(line, sizeof line, ":02000004%04X%02X\n", upper, (0x100 - ((6 + (upper >> 8) + upper) & 0xFF)) & 0xFF);
            text += line;
        }
        unsigned sum = 16u + unsigned((i * 16) >> 8 & 0xFF) + unsigned((i * 16) & 0xFF);
        int n = std::snprintf(line, sizeof line, ":10%04X00", unsigned((i * 16) & 0xFFFF));
        for (int j = 0; j < 16; ++j) {
            const unsigned b = unsigned(i * 7 + j) & 0xFF;
            sum += b;
            n += std::snprintf(line + n, sizeof line - std::size_t(n), "%02X", b);
        }
        std::snprintf(line + n, sizeof line - std::size_t(n), "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += line;
    }
    return text + ":00000001FF\n";
}

struct Run
{
    double seconds = 0;
    double longestBlockMs = 0;
};

// Starts `count` paced simulated targets, a station window on them, and waits until every slot
// has recorded its unit.
Run run(const QTemporaryDir &dir, const QByteArray &firmware, int count, const QString &records, bool serial)
{
    std::vector<std::unique_ptr<QProcess>> sims;
    QJsonArray slotList;
    for (int i = 0; i < count; ++i) {
        auto sim = std::make_unique<QProcess>();
        sim->start(tool("sim/morven-sim"), {"--tcp", "127.0.0.1:0", "--baud", QString::number(Baud)});
        if (!sim->waitForStarted(10000) || !sim->waitForReadyRead(10000))
            qFatal("the simulated target did not start");
        const QString endpoint = QString::fromLocal8Bit(sim->readLine()).trimmed().section(QLatin1Char(' '), -1);
        slotList.append(QJsonObject{{"label", QStringLiteral("S%1").arg(i + 1)}, {"port", "tcp:" + endpoint}});
        sims.push_back(std::move(sim));
    }
    QJsonObject recipe{{"name", "Bench"}, {"firmware", "fw.hex"},
        {"sha256", QString::fromLatin1(QCryptographicHash::hash(firmware, QCryptographicHash::Sha256).toHex())},
        {"format", "w"}, {"probe_interval_ms", 20}, {"reply_timeout_ms", 5000}, {"slots", slotList}};
    if (serial)
        recipe.insert("unit_serial", QJsonObject{{"address", "0x40"}, {"format", "u32le"}, {"first", 1}});
    static int runs = 0;
    const QString path = dir.filePath(QStringLiteral("recipe%1.json").arg(++runs));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(recipe).toJson()) < 0)
        qFatal("cannot write the recipe");
    file.close();

    morven::station::StationOptions options;
    options.records = records;
    options.queue = dir.filePath(QStringLiteral("queue.sqlite"));
    morven::stationwindow::StationWindow window(options);
    window.show();
    // A 5 ms tick: any gap beyond it is time the event loop could not run.
    QElapsedTimer sinceTick;
    double longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, double(sinceTick.nsecsElapsed()) / 1e6 - 5.0);
        sinceTick.restart();
    });
    QElapsedTimer clock;
    clock.start();
    if (const auto why = window.openRecipe(path))
        qFatal("%s", qPrintable(*why));
    sinceTick.start();
    tick.start(5);
    while (window.station()->unitsEnded() < count)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    Run r{double(clock.nsecsElapsed()) / 1e9, longest};
    if (window.station()->unitsPassed() != count)
        qFatal("%d of %d units passed", window.station()->unitsPassed(), count);
    for (auto &sim : sims) {
        sim->terminate();
        sim->waitForFinished();
    }
    return r;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("MORVEN_STATION_NO_DIALOGS", "1");
    QApplication app(argc, argv);
    const int kib = argc > 1 ? QByteArray(argv[1]).toInt() : 64;
    const int slotCount = argc > 2 ? QByteArray(argv[2]).toInt() : 32;
    QTemporaryDir dir;
    const QByteArray firmware = image(kib);
    QFile fw(dir.filePath(QStringLiteral("fw.hex")));
    if (!fw.open(QIODevice::WriteOnly) || fw.write(firmware) != firmware.size())
        qFatal("cannot write the firmware");
    fw.close();
    const QString postgresql = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    const auto file = [&](const char *name) { return dir.filePath(QLatin1String(name)); };
    const Run one = run(dir, firmware, 1, file("one.sqlite"), false);
    const Run many = run(dir, firmware, slotCount, file("many.sqlite"), false);
    std::printf("station, %d KiB image, targets paced at %d baud: 1 slot %.2f s; %d slots %.2f s; ratio %.3f "
                "(goal: 1.2 or less)\n",
        kib, Baud, one.seconds, slotCount, many.seconds, many.seconds / one.seconds);
    std::printf("window event loop with %d tiles updating: longest block %.1f ms (goal: 50 ms or less)\n", slotCount,
        many.longestBlockMs);
    if (!postgresql.isEmpty()) {
        // Best of two rounds each, taken in turns, so one slow moment of the machine does not decide.
        double local = 1e9, shared = 1e9;
        for (int round = 0; round < 2; ++round) {
            local = std::min(local, run(dir, firmware, slotCount, file("serial.sqlite"), true).seconds);
            shared = std::min(shared, run(dir, firmware, slotCount, postgresql, true).seconds);
        }
        std::printf("%d slots with a serial number per unit (best of 2): records in SQLite %.2f s; in PostgreSQL %.2f s; ratio "
                    "%.3f (goal: 1.05 or less)\n",
            slotCount, local, shared, shared / local);
    }
    return 0;
}
