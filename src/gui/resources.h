#pragma once

#include <QIcon>

namespace veltra {

// The program icon, compiled into the gui library.
QIcon appIcon();

}  // namespace veltra
