#pragma once

#include "model/panel_state.h"

#include <string>

// .cfg files read and written by the panel's own load and save, with no
// controller: for front ends that take settings from a file (the C library).
// Run where Qt objects may live (a client's loop); a failure throws
// ConfigFileError in the user's words.
namespace veltra {

PanelState loadConfigFile(const std::string& path);
// Writes the settings of `s` and its selected timer.
void saveConfigFile(const std::string& path, const PanelState& s);

}  // namespace veltra
