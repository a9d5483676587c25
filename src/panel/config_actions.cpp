#include "panel/config_file.h"
#include "panel/shutter_panel.h"

namespace veltra {

namespace {
constexpr const char* kFileErrorTitle = "Veltra Utility - COM";
}

void ShutterPanel::onSaveConfigFile(PanelState& s) {
    const std::optional<std::string> path = m_prompter.chooseConfigFile(true);
    if (!path) return;
    std::string error;
    // Written beside the old file and renamed over it: a failure halfway
    // leaves the old file as it was.
    if (!writeConfigFileAtomically(*path, encodeConfig(s), error)) m_prompter.error(kFileErrorTitle, error);
}

void ShutterPanel::onLoadConfigFile(PanelState& s) {
    const std::optional<std::string> path = m_prompter.chooseConfigFile(false);
    if (!path) return;
    const ConfigFileData file = readConfigFile(*path);
    if (!file.ok()) {
        m_prompter.error(kFileErrorTitle, file.error);
        return;
    }
    // The whole file is parsed first; nothing changes unless all eighteen
    // records were read.
    const std::optional<ConfigRecords> records = decodeConfig(file.bytes);
    if (!records) {
        m_prompter.error(kFileErrorTitle, pastEndMessage(*path));
        return;
    }
    applyConfig(s, *records);
}

}  // namespace veltra
