#pragma once

#include "model/choices.h"
#include "model/timer_value.h"

#include <optional>
#include <string>

namespace veltra {

// The names scripts use for settings (command line, JSON, Python).
std::string shutterName(std::optional<ShutterPosition> p);        // "open", "close", "none"
std::string modeName(std::optional<ShutterMode> m);               // "fast", "soft", "nd", "none"
std::string triggerName(TriggerInput t);                          // "off", "high", "low", "rising", "falling"
std::string syncName(SyncOutput s);                               // "off", "high", "low"
std::string runningOptionName(std::optional<RunningOption> o);    // "power-up", "trigger", "go", "none"
std::string repeatName(int repeat);                               // "3", "continuous" for 65535
// None when the name is none of the above ("none" included).
std::optional<ShutterPosition> shutterFromName(const std::string& name);
std::optional<ShutterMode> modeFromName(const std::string& name);
std::optional<TriggerInput> triggerFromName(const std::string& name);
std::optional<SyncOutput> syncFromName(const std::string& name);
std::optional<RunningOption> runningOptionFromName(const std::string& name);
// "HH:MM:SS.mmm.t", padded; and back (none when the text has another form).
std::string timerText(const TimerValue& t);
std::optional<TimerValue> parseTimerText(const std::string& text);
// The duration in tenths of a millisecond.
long long timerTenths(const TimerValue& t);

}  // namespace veltra
