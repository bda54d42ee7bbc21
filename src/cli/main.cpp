// morvenctl: the update tool without its window, for scripts, production lines and speed.
#include "commands.h"
#include "version.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("morvenctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MORVEN_VERSION));
    QStringList args = QCoreApplication::arguments();
    const QString command = args.size() > 1 ? args[1] : QString();
    args.removeAt(0);
    using namespace morven::cli;
    if (command == QLatin1String("convert"))
        return runConvert(args);
    if (command == QLatin1String("flash"))
        return runFlash(args);
    if (command == QLatin1String("ping"))
        return runPing(args);
    if (command == QLatin1String("erase"))
        return runErase(args);
    if (command == QLatin1String("sim"))
        return runSim(args);
    if (command == QLatin1String("--version")) {
        std::printf("morvenctl %s\n", MORVEN_VERSION);
        return Ok;
    }
    const bool asked
        = command == QLatin1String("help") || command == QLatin1String("--help") || command == QLatin1String("-h");
    std::fprintf(asked ? stdout : stderr, "%s", usage());
    return asked ? Ok : BadInput;
}
