// The link layer's log: what the window drops without a message by design (refused settings, a
// port that does not open, a connection refused at once). Off by default; turn it on with
// QT_LOGGING_RULES="morven.link.info=true".
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLink)
