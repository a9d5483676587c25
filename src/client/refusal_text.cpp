#include "client/refusal_text.h"

#include "client/setting_names.h"
#include "panel/config_file.h"
#include "panel/field_checks.h"
#include "protocol/apply_download.h"

namespace veltra {

namespace {

constexpr const char* kFieldName[kTimerFieldCount] = {"hours", "minutes", "seconds", "milliseconds",
                                                      "tenths of a millisecond"};

// ", not 6", or nothing when no value was given.
std::string notNumber(const std::string& given) { return given.empty() ? "" : ", not " + given; }
std::string notName(const std::string& given) { return given.empty() ? "" : ", not '" + given + "'"; }

// The timer field `panelText` is the limit message of, or -1.
int limitField(const std::string& panelText) {
    for (int f = 0; f < kTimerFieldCount; ++f)
        if (panelText == msg::fieldLimitMessage(f)) return f;
    return -1;
}

// "delay hours must be 0 to 5, not 6"; `timer` and `given` may be empty.
std::string fieldText(const std::string& timer, int field, const std::string& given) {
    return (timer.empty() ? "" : timer + " ") + kFieldName[field] + " must be 0 to " +
           std::to_string(kTimerFieldMax[static_cast<std::size_t>(field)]) + notNumber(given);
}

std::string maximumText(const std::string& timer, const std::string& given) {
    return (timer.empty() ? std::string("a timer") : timer) + " must be at most 5 hours (05:00:00.000.0)" +
           notNumber(given);
}

}  // namespace

std::string refusalText(const std::string& panelText, const std::string& given) {
    const std::string& t = panelText;
    if (t == msg::kStepsTooMany || t == msg::kNegativeSteps) return "nd steps must be 0 to 144" + notNumber(given);
    if (t == msg::kNoSteps) return "mode nd needs the number of steps, 0 to 144";
    if (t == msg::kNegativeRepeat || t == msg::kRepeatTooLarge)
        return "repeat must be 0 to 65535 or continuous" + notNumber(given);
    if (t == msg::kRepeatFirst) return "the repeat number is not set: set it (repeat N or continuous) before the run";
    if (t == msg::kBadPosition) return "shutter must be open or close" + notName(given);
    if (t == msg::kBadMode) return "mode must be one of fast, soft, nd" + notName(given);
    if (t == msg::kBadTrigger) return "trigger must be one of off, high, low, rising, falling" + notName(given);
    if (t == msg::kBadSync) return "sync must be one of off, high, low" + notName(given);
    if (t == msg::kBadRunningOption) return "running option must be one of power-up, trigger, go" + notName(given);
    if (t == msg::kTimerMax) return maximumText({}, given);
    if (const int f = limitField(t); f >= 0) return fieldText({}, f, given);
    return t;
}

std::string timerRefusalText(const std::string& panelText, const std::string& timer, const TimerValue& value) {
    if (panelText == msg::kTimerMax) return maximumText(timer, timerText(value));
    if (const int f = limitField(panelText); f >= 0) return fieldText(timer, f, std::to_string(value.value(f)));
    return refusalText(panelText);
}

std::optional<std::string> downloadRefusal(const ControllerSettings& s) {
    const auto refused = checkApplySettings(s);
    if (!refused) return std::nullopt;
    // The step whose check said it, with that step's value.
    for (int k = 0; k < kApplyStepCount; ++k) {
        const auto step = static_cast<ApplyStep>(k);
        if (checkApplyStep(step, s) != refused) continue;
        switch (step) {
        case ApplyStep::Position: return refusalText(*refused, std::to_string(s.shutterPosition));
        case ApplyStep::Mode:
            return refusalText(*refused, std::to_string(*refused == msg::kBadMode ? s.shutterMode : s.ndSteps));
        case ApplyStep::Trigger: return refusalText(*refused, std::to_string(s.triggerMode));
        case ApplyStep::Sync: return refusalText(*refused, std::to_string(s.syncMode));
        case ApplyStep::Delay: return timerRefusalText(*refused, "delay", s.delayTime);
        case ApplyStep::Exposure: return timerRefusalText(*refused, "exposure", s.exposureTime);
        case ApplyStep::Repeat: return refusalText(*refused, s.repeatText);
        case ApplyStep::RunningOption: return refusalText(*refused, std::to_string(s.runningOption));
        }
    }
    return refusalText(*refused);
}

std::string configFileText(const std::string& panelText, const std::string& path) {
    if (panelText == pastEndMessage(path))
        return path + " is not a configuration file saved by Veltra Utility, or it is cut short; nothing was changed";
    return panelText;
}

}  // namespace veltra
