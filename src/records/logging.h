// The records layer's log, "morven.records": what the list files drop without a message by
// design (a file that cannot be read or written). Only the Qt part (library morven_lists) logs;
// the plain C++ core reports through its results. Off by default;
// QT_LOGGING_RULES="morven.records.info=true" turns it on.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcRecords)
