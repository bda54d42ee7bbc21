// The commands of morvenctl.
#pragma once

#include "station/exitcodes.h"

#include <QStringList>

namespace morven::cli {

// A target's run and its outcome codes live with the station, which runs them too.
using namespace morven::station;

// Each takes the arguments from the subcommand's name on and returns the exit status; a bad
// command line or input file ends it by throwing Failure (see cmdline/cmdline.h).
int runConvert(const QStringList &args);
int runFlash(const QStringList &args);
int runPing(const QStringList &args);
int runErase(const QStringList &args);
int runPorts(const QStringList &args);
int runSim(const QStringList &args);
int runRecords(const QStringList &args);
int runStation(const QStringList &args);

const char *usage();

} // namespace morven::cli
