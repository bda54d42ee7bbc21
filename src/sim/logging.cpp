// The simulated target's log category.
#include "sim/logging.h"

Q_LOGGING_CATEGORY(lcSim, "morven.sim", QtWarningMsg)
