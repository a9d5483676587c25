#include "client/config_io.h"

#include "client/client_errors.h"
#include "client/refusal_text.h"
#include "panel/prompter.h"
#include "panel/shutter_panel.h"
#include "protocol/command_sink.h"

#include <optional>
#include <vector>

namespace veltra {

namespace {

class NoLine : public CommandSink {
public:
    bool send(int, const Command&) override { return false; }
};

// Answers the file dialog with the path and keeps what the panel would show.
class FilePrompts : public Prompter {
public:
    explicit FilePrompts(std::string path) : m_path(std::move(path)) {}
    void warning(const std::string& text) override { errors.push_back(text); }
    bool confirm(const std::string&) override { return false; }
    std::optional<std::string> askNdSteps() override { return std::nullopt; }
    std::optional<std::string> chooseConfigFile(bool) override { return m_path; }
    void error(const std::string&, const std::string& text) override { errors.push_back(text); }
    std::vector<std::string> errors;

private:
    std::string m_path;
};

}  // namespace

PanelState loadConfigFile(const std::string& path) {
    NoLine line;
    FilePrompts prompts(path);
    ShutterPanel panel(line, prompts);
    PanelState state;
    panel.initialise(state);
    panel.onLoadConfigFile(state);
    if (!prompts.errors.empty()) throw ConfigFileError(configFileText(prompts.errors.front(), path));
    return state;
}

void saveConfigFile(const std::string& path, const PanelState& s) {
    NoLine line;
    FilePrompts prompts(path);
    ShutterPanel panel(line, prompts);
    PanelState copy = s;
    panel.onSaveConfigFile(copy);
    if (!prompts.errors.empty()) throw ConfigFileError(configFileText(prompts.errors.front(), path));
}

}  // namespace veltra
