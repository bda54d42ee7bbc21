// The update layer's log category (library morven_updatelog, outside the Qt-free core).
#include "update/logging.h"

Q_LOGGING_CATEGORY(lcUpdate, "morven.update", QtWarningMsg)
