#include "panel/shutter_panel.h"

namespace veltra {

// Filled in with the .cfg codec.
void ShutterPanel::onSaveConfigFile(PanelState&) {}
void ShutterPanel::onLoadConfigFile(PanelState&) {}

}  // namespace veltra
