// The window's log category.
#include "app/logging.h"

Q_LOGGING_CATEGORY(lcApp, "morven.app", QtWarningMsg)
