// The link layer's log, "morven.link": what the links refuse or lose without a message by
// design (refused settings, a port that does not open or fails, a refused connection). Off by
// default; turn it on with QT_LOGGING_RULES="morven.link.info=true".
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLink)
