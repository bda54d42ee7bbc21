// The simulated target's log, "morven.sim": bytes and frames it drops without an answer (noise
// outside a frame, frames cut short for length). The bootloader core only counts them; the Qt
// lines log them. Off by default; QT_LOGGING_RULES="morven.sim.info=true".
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcSim)
