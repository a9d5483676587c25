#include "model/controller_settings.h"

#include "model/leading_int.h"

namespace veltra {

int repeatCount(const ControllerSettings& s) {
    return s.repeatText == kContinuousText ? kContinuousCount : leadingInt(s.repeatText);
}

TimerValue cycleTime(const ControllerSettings& s) {
    return computeCycleTime(s.delayTime, s.exposureTime, s.shutterMode, s.ndSteps);
}

}  // namespace veltra
