// The link layer's log category.
#include "link/logging.h"

Q_LOGGING_CATEGORY(lcLink, "morven.link", QtWarningMsg)
