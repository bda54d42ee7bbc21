// The update layer's log, "morven.update": reply bytes the framer dropped and acknowledgements
// a session ignored, logged by the Qt code that drives the plain C++ core (the core itself has
// no Qt and only counts them). Off by default; QT_LOGGING_RULES="morven.update.info=true".
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcUpdate)
