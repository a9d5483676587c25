#pragma once

#include "model/panel_state.h"
#include "model/received_log.h"

#include <QString>
#include <QStringList>

#include <array>

namespace veltra {

// What the command line asks for.
struct AppOptions {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    std::array<QString, kPortCount> devices{};  // from --port N=DEVICE; empty: default
    std::size_t logLines = ReceivedLog::kDefaultMaxLines;  // --log-lines N
    QString trafficLog;                                     // --traffic-log FILE; empty: none
    QString text;                               // help, version or error text to print
};

inline constexpr int kUsageExitCode = 2;

// Parses the program's arguments (the first is the program itself):
// --help, --version, any number of --port N=DEVICE (N from 1 to 4),
// --log-lines N (1 or more) and --traffic-log FILE. Nothing else is accepted.
AppOptions parseAppOptions(const QStringList& arguments);

}  // namespace veltra
