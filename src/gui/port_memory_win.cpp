#include "gui/port_memory.h"

#include <QSettings>

namespace veltra {

// The registry key HKEY_CURRENT_USER\Software\<organisation>\<application>: no file to check.
std::unique_ptr<QSettings> openPortMemory(QString*) { return std::make_unique<QSettings>(); }

}  // namespace veltra
