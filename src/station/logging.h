// The station layer's log, "morven.station": links to fixture positions that are not there or
// went away, and records that could not be written. Off by default;
// QT_LOGGING_RULES="morven.station.info=true".
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcStation)
