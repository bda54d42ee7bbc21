// morven-sim: the simulated update target as a program, for scripts and manual runs.
#include "sim/simprogram.h"

#include <QCoreApplication>
#include <QFileInfo>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    return morven::sim::runSimProgram(
        QCoreApplication::arguments(), QFileInfo(QCoreApplication::applicationFilePath()).fileName());
}
