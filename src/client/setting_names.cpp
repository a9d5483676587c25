#include "client/setting_names.h"

#include "model/controller_settings.h"
#include "model/leading_int.h"

#include <cstdio>

namespace veltra {

namespace {
// Each choice's name, in the enum's order.
const char* const kPositionNames[] = {"open", "close"};
const char* const kModeNames[] = {"fast", "soft", "nd"};
const char* const kTriggerNames[] = {"off", "high", "low", "rising", "falling"};
const char* const kSyncNames[] = {"off", "high", "low"};
const char* const kRunningNames[] = {"power-up", "trigger", "go"};

template <typename E, std::size_t N>
std::string nameIn(const char* const (&names)[N], std::optional<E> e) {
    return e ? names[static_cast<std::size_t>(*e)] : "none";
}

template <typename E, std::size_t N>
std::optional<E> choiceIn(const char* const (&names)[N], const std::string& name) {
    for (std::size_t i = 0; i < N; ++i)
        if (name == names[i]) return static_cast<E>(i);
    return std::nullopt;
}
}  // namespace

std::string shutterName(std::optional<ShutterPosition> p) { return nameIn(kPositionNames, p); }
std::string modeName(std::optional<ShutterMode> m) { return nameIn(kModeNames, m); }
std::string triggerName(TriggerInput t) { return nameIn(kTriggerNames, std::optional(t)); }
std::string syncName(SyncOutput s) { return nameIn(kSyncNames, std::optional(s)); }
std::string runningOptionName(std::optional<RunningOption> o) { return nameIn(kRunningNames, o); }
std::string repeatName(int r) { return r == kContinuousCount ? "continuous" : std::to_string(r); }
std::optional<ShutterPosition> shutterFromName(const std::string& n) { return choiceIn<ShutterPosition>(kPositionNames, n); }
std::optional<ShutterMode> modeFromName(const std::string& n) { return choiceIn<ShutterMode>(kModeNames, n); }
std::optional<TriggerInput> triggerFromName(const std::string& n) { return choiceIn<TriggerInput>(kTriggerNames, n); }
std::optional<SyncOutput> syncFromName(const std::string& n) { return choiceIn<SyncOutput>(kSyncNames, n); }
std::optional<RunningOption> runningOptionFromName(const std::string& n) { return choiceIn<RunningOption>(kRunningNames, n); }

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
