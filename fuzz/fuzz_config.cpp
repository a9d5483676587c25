// decodeConfig on arbitrary bytes; whatever it accepts must load, save and
// load again without drifting.
#include "model/leading_int.h"
#include "panel/config_file.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz_config: %s\n", what);
    std::abort();
}

bool samePanel(const veltra::PanelState& a, const veltra::PanelState& b) {
    return a.shutterPosition == b.shutterPosition && a.shutterMode == b.shutterMode &&
           a.ndSteps == b.ndSteps && a.triggerMode == b.triggerMode && a.syncMode == b.syncMode &&
           a.runningOption == b.runningOption && a.timerSelectIndex == b.timerSelectIndex &&
           a.triggerPulseChecked == b.triggerPulseChecked && a.syncPulseChecked == b.syncPulseChecked &&
           a.repeatText == b.repeatText && a.leftCycleText == b.leftCycleText &&
           a.editedTime == b.editedTime && a.sliders == b.sliders && a.ndCaption == b.ndCaption &&
           a.openingLabel == b.openingLabel && a.closingLabel == b.closingLabel &&
           a.delayLabel == b.delayLabel && a.exposureLabel == b.exposureLabel &&
           a.cycleLabel == b.cycleLabel && a.delayTime == b.delayTime &&
           a.exposureTime == b.exposureTime && a.cycleTime == b.cycleTime;
}

constexpr std::size_t kNumeric[] = {veltra::kRecShutterPosition, veltra::kRecShutterMode,
                                    veltra::kRecNdSteps,         veltra::kRecTriggerMode,
                                    veltra::kRecSyncMode,        veltra::kRecTimerSelect,
                                    veltra::kRecRunningOption};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace veltra;
    const std::string_view in(reinterpret_cast<const char*>(data), size);

    ConfigRecords partial;
    const std::size_t complete = decodeConfigRecords(in, partial);
    const auto records = decodeConfig(in);
    require(complete <= kConfigRecordCount, "more records than a file holds");
    require((complete == kConfigRecordCount) == records.has_value(), "count and result disagree");
    if (!records) return 0;
    require(partial == *records, "the two decoders disagree");

    // Decoded texts are exactly what the code page can hold, so writing them
    // again reproduces them.
    require(decodeConfig(encodeRecords(*records)) == records, "records do not survive re-encoding");

    PanelState first;
    applyConfig(first, *records);
    const std::string saved = encodeConfig(first);
    const auto back = decodeConfig(saved);
    require(back.has_value(), "a saved file does not load");

    // Texts come back as read; numbers come back as their leading integer.
    for (std::size_t k = kRecDelayFirst; k < kRecExposureFirst + kTimerFieldCount; ++k)
        require((*back)[k] == (*records)[k], "a time text changed");
    require((*back)[kRecRepeat] == (*records)[kRecRepeat], "the repeat text changed");
    for (std::size_t k : kNumeric)
        require((*back)[k] == std::to_string(leadingInt((*records)[k])), "a number changed");

    // From here on the file is a fixed point: same bytes, same panel.
    require(encodeRecords(*back) == saved, "saving is not stable");
    PanelState second;
    applyConfig(second, *back);
    require(samePanel(first, second), "loading the saved file gives another panel");
    require(encodeConfig(second) == saved, "saving the reloaded panel differs");
    return 0;
}
