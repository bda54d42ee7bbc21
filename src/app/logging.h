// The window's log, "morven.app": what the window drops without a message by design (a frame
// for a link that is not open or has failed, a port that does not open, a refused connection).
// Off by default; QT_LOGGING_RULES="morven.app.info=true" turns it on.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcApp)
