#pragma once

#include <functional>

class QObject;

namespace veltra {

// SIGTERM (a logout, kill), SIGINT (Ctrl+C) and SIGHUP (the terminal gone)
// end the program as "Exit" does: `quit` runs on the thread of `context`,
// from its event loop (or any box's nested one), never inside the signal
// handler. Does nothing where the platform has no such signals.
void onQuitSignals(QObject* context, std::function<void(int signal)> quit);
// Catches those signals from now on, before there is anything to end: one
// that comes meanwhile ends the program as soon as onQuitSignals is set up
// and its event loop runs.
void catchQuitSignals();

}  // namespace veltra
