#include "client/setting_names.h"

#include "model/controller_settings.h"
#include "model/leading_int.h"

#include <cstdio>

namespace veltra {

namespace {
const char* const kTriggerNames[] = {"high", "low", "rising", "falling"};
const char* const kSyncNames[] = {"high", "low"};
const char* const kRunningNames[] = {"power-up", "trigger", "go"};
const char* const kModeNames[] = {"fast", "soft", "nd"};

template <std::size_t N>
int indexOf(const char* const (&names)[N], const std::string& name) {
    for (std::size_t i = 0; i < N; ++i)
        if (name == names[i]) return static_cast<int>(i);
    return -2;
}
}  // namespace

std::string shutterName(int p) { return p == 0 ? "open" : "close"; }
std::string modeName(int m) { return m >= 0 && m <= 2 ? kModeNames[m] : "none"; }
std::string triggerName(int t) { return t >= 0 && t <= 3 ? kTriggerNames[t] : "off"; }
std::string syncName(int s) { return s >= 0 && s <= 1 ? kSyncNames[s] : "off"; }
std::string runningOptionName(int o) { return o >= 0 && o <= 2 ? kRunningNames[o] : "none"; }
std::string repeatName(int r) { return r == kContinuousCount ? "continuous" : std::to_string(r); }
int triggerFromName(const std::string& n) { return n == "off" ? -1 : indexOf(kTriggerNames, n); }
int syncFromName(const std::string& n) { return n == "off" ? -1 : indexOf(kSyncNames, n); }
int runningOptionFromName(const std::string& n) { return indexOf(kRunningNames, n); }
int modeFromName(const std::string& n) { return indexOf(kModeNames, n); }

std::string timerText(const TimerValue& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d.%d", t.value(kHours), t.value(kMinutes), t.value(kSeconds),
                  t.value(kMilliseconds), t.value(kTenths));
    return buf;
}

std::optional<TimerValue> parseTimerText(const std::string& text) {
    // HH:MM:SS.mmm.t: five runs of digits split by ':', ':', '.', '.'.
    static constexpr char kSeparators[] = {':', ':', '.', '.'};
    TimerValue t;
    std::size_t at = 0;
    for (int f = 0; f < kTimerFieldCount; ++f) {
        std::string digits;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits.size() < 4) digits += text[at++];
        if (digits.empty()) return std::nullopt;
        t.field(f) = digits;
        if (f < kTimerFieldCount - 1) {
            if (at >= text.size() || text[at] != kSeparators[f]) return std::nullopt;
            ++at;
        }
    }
    if (at != text.size()) return std::nullopt;
    return t;
}

long long timerTenths(const TimerValue& t) {
    return ((static_cast<long long>(t.value(kHours)) * 60 + t.value(kMinutes)) * 60 + t.value(kSeconds)) * 10000 +
           static_cast<long long>(t.value(kMilliseconds)) * 10 + t.value(kTenths);
}

}  // namespace veltra
