#include "quit_signals.h"

#include <QObject>

// Windows has none of these signals: the console's events end the program as the system does.

namespace veltra {

void onQuitSignals(QObject*, std::function<void(int)>) {}
void catchQuitSignals() {}

}  // namespace veltra
