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
    if (command == QLatin1String("help") && args.size() > 1) {
        args = QStringList{args[1], QStringLiteral("--help")};
        if (!find(args[0])) {
            std::fprintf(stderr, "morvenctl: no command '%s'\n\n%s", qPrintable(args[0]), usage());
            return BadInput;
        }
    }
    if (const Command run = find(args.value(0))) {
        try {
            return run(args);
        } catch (const Failure &f) {
            if (!f.message.isEmpty())
                std::fprintf(stderr, "morvenctl: %s\n", qPrintable(f.message));
            return f.code;
        }
    }
    const bool asked = command.isEmpty() ? false
                                         : command == QLatin1String("help") || command == QLatin1String("--help")
            || command == QLatin1String("-h");
    if (!asked && !command.isEmpty())
        std::fprintf(stderr, "morvenctl: no command '%s'\n\n", qPrintable(command));
    std::fputs(usage(), asked ? stdout : stderr);
    return asked ? Ok : BadInput;
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
           "\n"
           "'morvenctl help <command>' describes each command; exit codes are in morvenctl(1).\n";
}
