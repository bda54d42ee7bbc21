#include "commands.h"

#include <cstdio>

namespace morven::cli {

int runSim(const QStringList &)
{
    std::fprintf(stderr, "morvenctl: sim is not built yet\n");
    return Internal;
}

} // namespace morven::cli
