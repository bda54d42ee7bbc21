// morven-sim: the simulated update target as a program, for scripts and manual runs.
#include "cmdline/cmdline.h"
#include "sim/simprogram.h"

#include <QCoreApplication>
#include <QFileInfo>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return morven::cli::runProgram(
        name, [&] { return morven::sim::runSimProgram(QCoreApplication::arguments(), name); });
}
