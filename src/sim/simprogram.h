// The simulated target as a program: morven-sim and morvenctl sim.
#pragma once

#include <QString>
#include <QStringList>

namespace morven::sim {

// Runs the simulated target as its command line `args` says (args[0] names the program, as
// QCoreApplication::arguments() gives it) until SIGINT or SIGTERM; returns the exit status.
// A command line or an endpoint it cannot use ends it with cli::Failure, for the caller's
// cli::runProgram() to print. Needs a QCoreApplication.
int runSimProgram(const QStringList &args, const QString &name);

} // namespace morven::sim
