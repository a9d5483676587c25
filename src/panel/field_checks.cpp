#include "panel/field_checks.h"

#include "model/leading_int.h"

namespace veltra {

namespace msg {

std::string portNotConnected(int port) {
    return "COM" + std::to_string(port) + " is not connected: the command was not sent.";
}

const char* fieldLimitMessage(int field) {
    switch (field) {
    case kHours: return "Hours number must be less than 6! Please retype.";
    case kMinutes: return "Minutes number must be less than 60! Please retype.";
    case kSeconds: return "Seconds number must be less than 60! Please retype.";
    case kMilliseconds: return "Milliseconds number must be less than 1000! Please retype.";
    default: return "1/10 Milliseconds number must be less than 10! Please retype.";
    }
}

}  // namespace msg

namespace {

bool fieldInRange(int field, int value) {
    return value >= 0 && value <= kTimerFieldMax[static_cast<std::size_t>(field)];
}

std::optional<std::string> message(const char* text) { return std::string(text); }

}  // namespace

std::optional<std::string> checkNdSteps(const std::string& steps) {
    const int v = leadingInt(steps);
    if (v > kMaxNdSteps) return message(msg::kStepsTooMany);
    if (steps.empty()) return message(msg::kNoSteps);
    // A negative count would reach the controller as a step byte above 144.
    if (v < 0) return message(msg::kNegativeSteps);
    return std::nullopt;
}

std::optional<std::string> checkTimeField(int field, const std::string& text, bool atMaximum) {
    // Below 0 is refused like above the limit: it would reach the controller
    // as a garbage byte.
    if (field != kHours && atMaximum) return message(msg::kTimerMax);
    if (!fieldInRange(field, leadingInt(text))) return message(msg::fieldLimitMessage(field));
    return std::nullopt;
}

std::optional<std::string> checkTimer(const TimerValue& t) {
    const bool atMaximum = t.value(kHours) == 5;
    for (int f = 0; f < kTimerFieldCount; ++f) {
        const int v = t.value(f);
        if (f != kHours && atMaximum && v != 0) return message(msg::kTimerMax);
        if (!fieldInRange(f, v)) return message(msg::fieldLimitMessage(f));
    }
    return std::nullopt;
}

std::optional<std::string> checkRepeatForApply(const std::string& repeatText) {
    if (repeatText == kContinuousText) return std::nullopt;
    const int n = leadingInt(repeatText);
    // -5 would go out as 65531 cycles, 70000 as 4464.
    if (n < 0) return message(msg::kNegativeRepeat);
    if (n > 0xFFFF) return message(msg::kRepeatTooLarge);
    return std::nullopt;
}

std::optional<std::string> checkApplyStep(ApplyStep step, const ControllerSettings& s) {
    switch (step) {
    case ApplyStep::Position:
        if (s.shutterPosition < -1 || s.shutterPosition > 1) return message(msg::kBadPosition);
        break;
    case ApplyStep::Mode:
        if (s.shutterMode < -1 || s.shutterMode > 2) return message(msg::kBadMode);
        if (s.shutterMode == 2) return checkNdSteps(std::to_string(s.ndSteps));
        break;
    case ApplyStep::Trigger:
        if (s.triggerMode < -1 || s.triggerMode > 3) return message(msg::kBadTrigger);
        break;
    case ApplyStep::Sync:
        if (s.syncMode < -1 || s.syncMode > 1) return message(msg::kBadSync);
        break;
    case ApplyStep::Delay: return checkTimer(s.delayTime);
    case ApplyStep::Exposure: return checkTimer(s.exposureTime);
    case ApplyStep::Repeat: return checkRepeatForApply(s.repeatText);
    case ApplyStep::RunningOption:
        if (s.runningOption < -1 || s.runningOption > 2) return message(msg::kBadRunningOption);
        break;
    }
    return std::nullopt;
}

std::optional<std::string> checkApplySettings(const ControllerSettings& s) {
    for (int i = 0; i < kApplyStepCount; ++i) {
        if (auto m = checkApplyStep(static_cast<ApplyStep>(i), s)) return m;
    }
    return std::nullopt;
}

}  // namespace veltra
