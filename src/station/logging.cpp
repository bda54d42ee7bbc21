// The station layer's log category.
#include "station/logging.h"

Q_LOGGING_CATEGORY(lcStation, "morven.station", QtWarningMsg)
