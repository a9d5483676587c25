#include "model/panel_state.h"

#include <algorithm>

namespace veltra {

void setSlider(PanelState& s, int field, int position) {
    const int max = kTimerFieldMax[static_cast<std::size_t>(field)];
    s.sliders[static_cast<std::size_t>(field)] = std::clamp(position, 0, max);
}

}  // namespace veltra
