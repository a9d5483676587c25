#pragma once

#include <array>
#include <string>

namespace veltra {

// The five fields of a duration, in display order (hours first).
enum TimerField : int { kHours = 0, kMinutes = 1, kSeconds = 2, kMilliseconds = 3, kTenths = 4 };
inline constexpr int kTimerFieldCount = 5;

// Largest value each field accepts in the time edits, and its slider range (0..max).
inline constexpr std::array<int, kTimerFieldCount> kTimerFieldMax{5, 59, 59, 999, 9};

// A duration held as five decimal texts, as typed, loaded or decoded. The
// texts are never normalised: "07" stays "07" (value 7).
struct TimerValue {
    std::string hours;
    std::string minutes;
    std::string seconds;
    std::string milliseconds;
    std::string tenths;

    std::string& field(int f);
    const std::string& field(int f) const;
    int value(int f) const;  // leading-integer value of a field
    bool operator==(const TimerValue&) const = default;
};

// What one opening plus one closing of the shutter adds to the cycle.
struct CycleAllowance {
    int milliseconds = 0;
    int tenths = 0;
    bool operator==(const CycleAllowance&) const = default;
};
CycleAllowance cycleAllowance(int shutterMode, int ndSteps);

// delay + exposure + allowance, carried from tenths up to hours; hours take
// the whole sum. Every field of the result is a plain "%d" text.
TimerValue computeCycleTime(const TimerValue& delay, const TimerValue& exposure, int shutterMode,
                            int ndSteps);

// "hh : mm : ss : mmm : t" padded by value; `cycle` selects the hours rule of
// the cycle time (no leading zero from 10 hours on).
std::string formatTimerValue(const TimerValue& value, bool cycle);

// Text of the cycle-time label.
std::string cycleTimeLabel(const TimerValue& cycle);

inline constexpr const char* kZeroTimerText = "00 : 00 : 00 : 000 : 0";

}  // namespace veltra
