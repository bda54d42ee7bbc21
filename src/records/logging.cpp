// The records layer's log category, in the Qt part of the layer.
#include "records/logging.h"

Q_LOGGING_CATEGORY(lcRecords, "morven.records", QtWarningMsg)
