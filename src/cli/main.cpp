// morvenctl: the update tool without its window, for scripts, production lines and speed.
#include "cli/commandline.h"
#include "cli/commands.h"
#include "version.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {

using Command = int (*)(const QStringList &);

struct Entry
{
    const char *name;
    Command run;
};

constexpr Entry kCommands[] = {
    {"convert", morven::cli::runConvert},
    {"flash", morven::cli::runFlash},
    {"ping", morven::cli::runPing},
    {"erase", morven::cli::runErase},
    {"ports", morven::cli::runPorts},
    {"sim", morven::cli::runSim},
    {"records", morven::cli::runRecords},
    {"station", morven::cli::runStation},
};

Command find(const QString &name)
{
    for (const Entry &e : kCommands)
        if (name == QLatin1String(e.name))
            return e.run;
    return nullptr;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("morvenctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MORVEN_VERSION));
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    const QString command = args.value(0);
    using namespace morven::cli;
    if (command == QLatin1String("--version") || command == QLatin1String("-V")) {
        std::printf("morvenctl %s\n", MORVEN_VERSION);
        return Ok;
    }
    // "morvenctl help flash" is "morvenctl flash --help".
    if (command == QLatin1String("help") && args.size() > 1)
        args = QStringList{args[1], QStringLiteral("--help")};
    const QString wanted = args.value(0);
    if (const Command run = find(wanted))
        return runProgram(QLatin1String("morvenctl ") + wanted, [&] { return run(args); });
    if (wanted.isEmpty()) {
        std::fputs(usage(), stderr);
        return BadInput;
    }
    if (wanted == QLatin1String("help") || wanted == QLatin1String("--help") || wanted == QLatin1String("-h")) {
        std::fputs(usage(), stdout);
        return Ok;
    }
    return usageError(QStringLiteral("morvenctl"),
        wanted.startsWith(QLatin1Char('-')) ? QStringLiteral("unknown option '%1'").arg(wanted)
                                            : QStringLiteral("no command '%1'").arg(wanted));
}

const char *morven::cli::usage()
{
    return "usage: morvenctl <command> [options]\n"
           "\n"
           "commands:\n"
           "  convert  turn Intel HEX records, S-records or binary data into :O or :W download lines\n"
           "  flash    update one or more targets with a download file (or records, with --format)\n"
           "  ping     send link tests until the bootloader answers\n"
           "  erase    erase the target's flash (or, with --data, its data area)\n"
           "  ports    list the serial ports and how to name them\n"
           "  sim      run a simulated target\n"
           "  records  print the record of every unit the production station flashed\n"
           "  station  run a production station from its recipe, one line per event\n"
           "\n"
           "'morvenctl help <command>' describes each command; exit codes are in morvenctl(1).\n";
}
