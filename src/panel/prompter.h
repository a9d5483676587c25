#pragma once

#include <optional>
#include <string>

namespace veltra {

// Everything the panel asks of the operator. The Qt front end shows real
// boxes and dialogs; tests script the answers.
class Prompter {
public:
    virtual ~Prompter() = default;
    // Modal box titled "Warning", exclamation icon, OK.
    virtual void warning(const std::string& text) = 0;
    // Modal box titled "Warning", information icon, OK and Cancel; true on OK.
    virtual bool confirm(const std::string& text) = 0;
    // The "Neutral Density Shutter Steps" dialog; the accepted text, or none
    // on Cancel. The dialog itself refuses what checkNdSteps refuses.
    virtual std::optional<std::string> askNdSteps() = 0;
    // The file dialog for .cfg files; the chosen path (UTF-8), none on Cancel.
    virtual std::optional<std::string> chooseConfigFile(bool save) = 0;
    // Modal error box (file errors).
    virtual void error(const std::string& title, const std::string& text) = 0;
};

}  // namespace veltra
