#include "gui/status_log.h"

namespace veltra {

Q_LOGGING_CATEGORY(lcStatus, "veltra.status", QtWarningMsg)

}  // namespace veltra
