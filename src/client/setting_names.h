#pragma once

#include "model/timer_value.h"

#include <optional>
#include <string>

namespace veltra {

// The names scripts use for settings (command line, JSON, Python).
std::string shutterName(int shutterPosition);       // "open", "close"
std::string modeName(int shutterMode);              // "fast", "soft", "nd", "none"
std::string triggerName(int triggerMode);           // "off", "high", "low", "rising", "falling"
std::string syncName(int syncMode);                 // "off", "high", "low"
std::string runningOptionName(int runningOption);   // "none", "power-up", "trigger", "go"
std::string repeatName(int repeat);                 // "3", "continuous" for 65535
// -2 when the name is none of the above.
int triggerFromName(const std::string& name);
int syncFromName(const std::string& name);
int runningOptionFromName(const std::string& name);
int modeFromName(const std::string& name);
// "HH:MM:SS.mmm.t", padded; and back (none when the text has another form).
std::string timerText(const TimerValue& t);
std::optional<TimerValue> parseTimerText(const std::string& text);
// The duration in tenths of a millisecond.
long long timerTenths(const TimerValue& t);

}  // namespace veltra
