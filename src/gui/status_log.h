#pragma once

#include <QLoggingCategory>

namespace veltra {

// "veltra.status": one info line "COM<n>: <status>" whenever a port's status
// text changes. Off unless enabled, e.g. QT_LOGGING_RULES="veltra.status.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcStatus)

}  // namespace veltra
