#include "model/controller_settings.h"

#include "model/leading_int.h"

namespace veltra {

int repeatCount(const ControllerSettings& s) {
    return s.repeatText == kContinuousText ? kContinuousCount : leadingInt(s.repeatText);
}

}  // namespace veltra
