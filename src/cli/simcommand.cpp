// morvenctl sim: the simulated target under morvenctl's name.
#include "cli/commands.h"

#include "sim/simprogram.h"

namespace morven::cli {

int runSim(const QStringList &args)
{
    // The simulated target takes its own options; args[0] ("sim") stands where a program name would.
    return sim::runSimProgram(args, QStringLiteral("morvenctl sim"));
}

} // namespace morven::cli
