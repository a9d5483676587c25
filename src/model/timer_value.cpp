#include "model/timer_value.h"

#include "model/leading_int.h"

#include <cstdint>

namespace veltra {

std::string& TimerValue::field(int f) {
    switch (f) {
    case kHours: return hours;
    case kMinutes: return minutes;
    case kSeconds: return seconds;
    case kMilliseconds: return milliseconds;
    default: return tenths;
    }
}

const std::string& TimerValue::field(int f) const {
    return const_cast<TimerValue*>(this)->field(f);
}

int TimerValue::value(int f) const { return leadingInt(field(f)); }

CycleAllowance cycleAllowance(int shutterMode, int ndSteps) {
    if (shutterMode == 1) return {140, 0};
    if (shutterMode != 2) return {24, 0};
    // One opening takes ndSteps * 38 / 144 ms: m whole milliseconds and t tenths,
    // the tenths rounded half up from the part the integer division dropped.
    const std::int64_t num = 38LL * ndSteps;
    const std::int64_t m = num / 144;
    const std::int64_t rem10 = (num - m * 144) * 10;  // tenths * 144
    std::int64_t t = rem10 / 144;
    if ((rem10 - t * 144) * 2 >= 144) ++t;
    return {static_cast<int>(2 * m), static_cast<int>(2 * t)};
}

TimerValue computeCycleTime(const TimerValue& delay, const TimerValue& exposure, int shutterMode,
                            int ndSteps) {
    const CycleAllowance add = cycleAllowance(shutterMode, ndSteps);
    static constexpr std::array<int, kTimerFieldCount> kBase{0, 60, 60, 1000, 10};
    TimerValue out;
    std::int64_t carry = 0;
    for (int f = kTenths; f >= kHours; --f) {
        std::int64_t sum = std::int64_t{delay.value(f)} + exposure.value(f) + carry;
        if (f == kTenths) sum += add.tenths;
        if (f == kMilliseconds) sum += add.milliseconds;
        if (f == kHours) {
            out.field(f) = std::to_string(sum);
            break;
        }
        // C-style division: quotient toward zero, remainder keeps the sign.
        out.field(f) = std::to_string(sum % kBase[static_cast<std::size_t>(f)]);
        carry = sum / kBase[static_cast<std::size_t>(f)];
    }
    return out;
}

namespace {

std::string pad(const std::string& text, int value, int width2Below, int width3Below) {
    // width3Below: values below it get two zeros; width2Below: one zero.
    if (value < width3Below) return "00" + text;
    if (value < width2Below) return "0" + text;
    return text;
}

}  // namespace

std::string formatTimerValue(const TimerValue& v, bool cycle) {
    const int h = v.value(kHours), m = v.value(kMinutes), s = v.value(kSeconds);
    const int ms = v.value(kMilliseconds), t = v.value(kTenths);

    std::string hs;
    if (h == 0) hs = "00";
    else if (!cycle || h < 10) hs = "0" + v.hours;
    else hs = v.hours;

    const std::string mins = m == 0 ? "00" : pad(v.minutes, m, 10, INT32_MIN);
    const std::string secs = s == 0 ? "00" : pad(v.seconds, s, 10, INT32_MIN);
    const std::string msec = ms == 0 ? "000" : pad(v.milliseconds, ms, 100, 10);
    const std::string tens = t == 0 ? "0" : v.tenths;
    return hs + " : " + mins + " : " + secs + " : " + msec + " : " + tens;
}

std::string cycleTimeLabel(const TimerValue& cycle) {
    return "Cycle Time  -  " + formatTimerValue(cycle, true);
}

}  // namespace veltra
