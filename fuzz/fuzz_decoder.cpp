// Feeds arbitrary byte streams through the reply decoder from any starting
// state; the sanitizers catch memory and arithmetic faults, the checks below
// catch broken invariants.
#include "panel/shutter_panel.h"

#include <cstdint>
#include <cstdlib>

namespace {

struct CountingSink : veltra::CommandSink {
    bool send(int port, const veltra::Command& c) override {
        if (port < 1 || port > 4 || c.length < 1 || c.length > 6) std::abort();
        return true;
    }
};

struct SilentPrompter : veltra::Prompter {
    void warning(const std::string&) override {}
    bool confirm(const std::string&) override { return true; }
    std::optional<std::string> askNdSteps() override { return std::nullopt; }
    std::optional<std::string> chooseConfigFile(bool) override { return std::nullopt; }
    void error(const std::string&, const std::string&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    CountingSink sink;
    SilentPrompter prompter;
    veltra::ShutterPanel panel(sink, prompter);
    veltra::PanelState s;
    panel.initialise(s);
    panel.portOpenedAtStartup(s, 1);

    // The first bytes choose the starting state, reached through the actions.
    const std::uint8_t flags = data[0];
    s.shutterMode = static_cast<int>(data[1] % 4) - 1;
    if (flags & 0x10) s.repeatText = "Continuous";
    else if (flags & 0x20) s.repeatText = "3";
    s.shutterPosition = (flags & 0x40) ? 0 : 1;
    if (flags & 0x01) panel.onRunningOption(s, 1 + ((flags >> 1) & 1));
    if (flags & 0x04) panel.onApply(s);
    if (flags & 0x08) panel.onReset(s);
    const bool manyPorts = flags & 0x80;

    for (std::size_t i = 2; i < size; ++i) {
        const std::size_t before = s.log.size();
        const int port = manyPorts ? 1 + static_cast<int>(i & 3) : 1;
        panel.onPortRxChar(s, data[i], port);
        if (s.log.size() > before + 1) std::abort();
        if (panel.decoder().infoInProgress() && panel.decoder().statusReplyInProgress()) std::abort();
        for (int f = 0; f < veltra::kTimerFieldCount; ++f)
            if (s.sliders[static_cast<std::size_t>(f)] < 0 ||
                s.sliders[static_cast<std::size_t>(f)] > veltra::kTimerFieldMax[static_cast<std::size_t>(f)])
                std::abort();
    }
    return 0;
}
