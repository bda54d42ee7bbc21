// How fast morvenctl updates targets:
//  1. a 1 MiB image to one simulated target over a pseudo-terminal at 115200 baud, the target
//     pacing its bytes at that rate, against the wire limit (every byte of every frame and
//     every reply at 10 bits a byte);
//  2. 32 simulated targets on loopback TCP, each paced at 115200 baud like a device behind a
//     serial-to-network bridge, updated at once, against the time for one.
// Usage: bench_flash [image KiB for part 1, default 1024] [image KiB for part 2, default 64]
#include "records/conversion.h"
#include "records/linestore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int Baud = 115200;
constexpr int ReplyBytes = 15;

QString tool(const char *name)
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../src/") + QLatin1String(name);
}

// Intel HEX records of an image of `kib` KiB of random bytes, converted as "Fmt_W_data" does.
morven::LineStore downloadLines(int kib)
{
    QRandomGenerator random(7);
    morven::LineStore records;
    char line[64];
    for (int i = 0; i < kib * 64; ++i) {
        const unsigned address = unsigned(i) * 16;
        if (address % 0x10000 == 0) {
            const unsigned upper = address >> 16;
            std::snprintf(line, sizeof line, ":02000004%04X%02X", upper,
                (256 - ((6 + (upper >> 8) + (upper & 255)) & 255)) & 255);
            records.append(line);
        }
        unsigned sum = 16 + ((address >> 8) & 255) + (address & 255);
        int n = std::snprintf(line, sizeof line, ":10%04X00", address & 0xFFFF);
        for (int j = 0; j < 16; ++j) {
            const unsigned byte = random.bounded(256);
            sum += byte;
            n += std::snprintf(line + n, sizeof line - std::size_t(n), "%02X", byte);
        }
        std::snprintf(line + n, sizeof line - std::size_t(n), "%02X", (256 - (sum & 255)) & 255);
        records.append(line);
    }
    records.append(":00000001FF");
    return std::move(morven::convertRecords(records, morven::Format::W).lines);
}

QString save(const morven::LineStore &lines, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    morven::writeItems(lines, [&](std::string_view b) { file.write(b.data(), qint64(b.size())); });
    return path;
}

// Seconds the wire needs at `baud` for the announce, every line and every reply.
double wireSeconds(const morven::LineStore &lines)
{
    const double bytes = 17.0 + ReplyBytes + double(lines.byteSize()) + double(lines.size()) * ReplyBytes;
    return bytes * 10.0 / Baud;
}

// Starts a simulated target and returns the endpoint it prints ("serial device ..." or
// "listening on ...").
std::unique_ptr<QProcess> startSim(const QStringList &args, QString &endpoint)
{
    auto sim = std::make_unique<QProcess>();
    sim->start(tool("sim/morven-sim"), args);
    if (!sim->waitForStarted(10000) || !sim->waitForReadyRead(10000))
        qFatal("the simulated target did not start");
    const QString line = QString::fromLocal8Bit(sim->readLine()).trimmed();
    endpoint = line.section(QLatin1Char(' '), -1);
    return sim;
}

double flash(const QStringList &args)
{
    QProcess ctl;
    QElapsedTimer clock;
    clock.start();
    ctl.start(tool("cli/morvenctl"), args);
    ctl.waitForFinished(-1);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (ctl.exitStatus() != QProcess::NormalExit || ctl.exitCode() != 0)
        qFatal("morvenctl failed (%d): %s", ctl.exitCode(), ctl.readAllStandardError().constData());
    return seconds;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int serialKib = argc > 1 ? QByteArray(argv[1]).toInt() : 1024;
    const int tcpKib = argc > 2 ? QByteArray(argv[2]).toInt() : 64;
    QTemporaryDir dir;

    // 1. Serial, one target, against the wire.
    {
        const morven::LineStore lines = downloadLines(serialKib);
        const QString file = save(lines, dir.filePath(QStringLiteral("serial.txt")));
        QString device;
        auto sim = startSim({"--pty", "--baud", QString::number(Baud)}, device);
        const double seconds = flash(
            {"flash", file, "--serial", device, "--baud", QString::number(Baud), "--no-wait", "--no-erase", "--quiet"});
        sim->terminate();
        sim->waitForFinished();
        const double wire = wireSeconds(lines);
        std::printf(
            "serial, %d KiB image, %zu lines at %d baud: %.2f s; wire limit %.2f s; ratio %.3f (goal: 1.05 or less)\n",
            serialKib, lines.size(), Baud, seconds, wire, seconds / wire);
    }

    // 2. TCP, 32 targets at once against one.
    {
        const morven::LineStore lines = downloadLines(tcpKib);
        const QString file = save(lines, dir.filePath(QStringLiteral("tcp.txt")));
        auto run = [&](int targets) {
            std::vector<std::unique_ptr<QProcess>> sims;
            QStringList args{"flash", file, "--no-wait", "--no-erase", "--quiet"};
            for (int i = 0; i < targets; ++i) {
                QString endpoint;
                sims.push_back(startSim({"--tcp", "127.0.0.1:0", "--baud", QString::number(Baud)}, endpoint));
                args << "--tcp" << endpoint;
            }
            const double seconds = flash(args);
            for (auto &sim : sims) {
                sim->terminate();
                sim->waitForFinished();
            }
            return seconds;
        };
        const double one = run(1);
        const double many = run(32);
        std::printf(
            "tcp, %d KiB image, %zu lines, targets paced at %d baud: 1 target %.2f s; 32 targets %.2f s; ratio %.3f "
            "(goal: 1.5 or less)\n",
            tcpKib, lines.size(), Baud, one, many, many / one);
    }
    return 0;
}
