// Times "Open file1" + "Fmt_W_data" + "2Save as" on a 1,000,000-record Intel HEX file, through
// the window's own buttons, and "morvenctl convert --format w" on the same file, beside srec_cat
// converting it to binary. Each runs in a child process of its own, so each peak memory figure
// is that program's alone.
#include "app/frmmain.h"
#include "link/qtserialcomponent.h"
#include "link/qtsocketcomponent.h"
#include "support/scripteddialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr long Records = 1000000;

// Data records of 16 bytes with an extended linear address record at every 64 KiB, as a
// linker writes them, and the end-of-file record.
bool generate(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray out;
    out.reserve(1 << 20);
    char line[64];
    for (long i = 0; i < Records; ++i) {
        const unsigned long address = static_cast<unsigned long>(i) * 16;
        if (address % 0x10000 == 0) {
            const unsigned upper = static_cast<unsigned>(address >> 16);
            const unsigned sum = 2 + 4 + (upper >> 8) + (upper & 255);
            std::snprintf(line, sizeof line, ":02000004%04X%02X\r\n", upper, (256 - (sum & 255)) & 255);
            out += line;
        }
        unsigned sum = 16 + static_cast<unsigned>(((address >> 8) & 255) + (address & 255));
        int n = std::snprintf(line, sizeof line, ":10%04lX00", address & 0xFFFF);
        for (int j = 0; j < 16; ++j) {
            const unsigned byte = static_cast<unsigned>((i * 7 + j * 13) & 255);
            sum += byte;
            n += std::snprintf(line + n, sizeof line - std::size_t(n), "%02X", byte);
        }
        std::snprintf(line + n, sizeof line - std::size_t(n), "%02X\r\n", (256 - (sum & 255)) & 255);
        out += line;
        if (out.size() > (1 << 20) - 64) {
            file.write(out);
            out.clear();
        }
    }
    out += ":00000001FF\r\n";
    return file.write(out) == out.size();
}

struct Run
{
    double seconds = 0;
    double peakMiB = 0;
    int status = -1;
};

// Runs a program under /usr/bin/time, which forks it from a small process of its own: a child
// spawned straight from this big one would inherit its high-water mark of memory on exec.
Run spawnAndMeasure(const std::vector<std::string> &args, const std::string &memoryFile)
{
    std::vector<std::string> all{"/usr/bin/time", "-f", "%M", "-o", memoryFile};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (const std::string &a : all)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    Run run;
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return run;
    int status = 0;
    waitpid(pid, &status, 0);
    run.seconds = double(clock.nsecsElapsed()) / 1e9;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    QFile memory(QString::fromStdString(memoryFile));
    if (memory.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = memory.readAll().trimmed().split('\n');
        run.peakMiB = lines.constLast().toDouble() / 1024.0; // KiB; a failed run's line comes first
    }
    return run;
}

// The child that drives the window: load, convert, save, as an operator would click them.
int runWindow(int argc, char **argv, const QString &in, const QString &out)
{
    QApplication app(argc, argv);
    auto dialogs = std::make_unique<morven::test::ScriptedDialogs>();
    auto *script = dialogs.get();
    morven::FrmMain window(std::make_unique<morven::QtSerialComponent>(), std::make_unique<morven::QtSocketComponent>(),
        std::move(dialogs));
    window.show();
    QApplication::processEvents();
    auto click = [&](const char *name) {
        window.findChild<QAbstractButton *>(QLatin1String(name))->click();
        QApplication::processEvents(); // the list views catch up, as on screen
    };
    QElapsedTimer step;
    step.start();
    script->paths.push_back(in);
    click("Command54");
    const double load = double(step.nsecsElapsed()) / 1e9;
    step.restart();
    click("Command14");
    const double convert = double(step.nsecsElapsed()) / 1e9;
    step.restart();
    script->paths.push_back(out);
    click("Command3");
    const double save = double(step.nsecsElapsed()) / 1e9;
    std::printf("  window steps: load %.3f s, Fmt_W_data %.3f s, save %.3f s; %zu lines in, %zu lines out\n", load,
        convert, save, window.list1Items().count(), window.list2Items().count());
    return script->messages().isEmpty() ? 0 : 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::string(argv[1]) == "--window")
        return runWindow(argc, argv, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));

    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("records.hex"));
    if (!dir.isValid() || !generate(in)) {
        std::fprintf(stderr, "cannot write the input file\n");
        return 1;
    }
    const double fileMiB = double(QFileInfo(in).size()) / (1024.0 * 1024.0);
    std::printf("input: %ld data records, %.1f MiB\n", Records, fileMiB);

    const std::string self = QFileInfo(QString::fromLocal8Bit(argv[0])).absoluteFilePath().toStdString();
    const std::string memory = dir.filePath(QStringLiteral("peak")).toStdString();
    const Run ours = spawnAndMeasure(
        {self, "--window", in.toStdString(), dir.filePath(QStringLiteral("w.txt")).toStdString()}, memory);
    const std::string cliOut = dir.filePath(QStringLiteral("c.txt")).toStdString();
    const Run cli
        = spawnAndMeasure({MORVENCTL_PATH, "convert", "--format", "w", in.toStdString(), "-o", cliOut}, memory);
    const Run srec = spawnAndMeasure({"/usr/bin/srec_cat", in.toStdString(), "-Intel", "-o",
                                         dir.filePath(QStringLiteral("s.bin")).toStdString(), "-Binary"},
        memory);
    if (ours.status != 0 || cli.status != 0 || srec.status != 0) {
        std::fprintf(stderr, "a run failed (window %d, morvenctl %d, srec_cat %d)\n", ours.status, cli.status,
            srec.status);
        return 1;
    }
    QFile windowFile(dir.filePath(QStringLiteral("w.txt"))), cliFile(QString::fromStdString(cliOut));
    if (!windowFile.open(QIODevice::ReadOnly) || !cliFile.open(QIODevice::ReadOnly)
        || windowFile.readAll() != cliFile.readAll()) {
        std::fprintf(stderr, "morvenctl and the window wrote different lines\n");
        return 1;
    }
    std::printf("%-34s %10s %12s\n", "", "time", "peak memory");
    std::printf("%-34s %8.2f s %8.1f MiB\n", "window: load + Fmt_W_data + save", ours.seconds, ours.peakMiB);
    std::printf("%-34s %8.2f s %8.1f MiB\n", "morvenctl convert --format w", cli.seconds, cli.peakMiB);
    std::printf("%-34s %8.2f s %8.1f MiB\n", "srec_cat: to binary", srec.seconds, srec.peakMiB);
    std::printf("time ratio window / srec_cat: %.2f (goal: 1.00 or less)\n", ours.seconds / srec.seconds);
    std::printf("window peak memory / file size: %.2f (goal: under 3)\n", ours.peakMiB / fileMiB);
    std::printf("time ratio morvenctl / srec_cat: %.2f (goal: 0.50 or less)\n", cli.seconds / srec.seconds);
    std::printf("peak memory ratio morvenctl / srec_cat: %.2f (goal: 1.00 or less)\n", cli.peakMiB / srec.peakMiB);
    return 0;
}
