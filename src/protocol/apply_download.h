#pragma once

#include "model/panel_state.h"
#include "protocol/command_sink.h"
#include "protocol/protocol_state.h"

namespace veltra {

// The Apply download: the panel goes to the controller one command at a
// time, each when the controller has answered the previous command of k bytes
// with k + 1 bytes (its echo and a carriage return).

// Starts (or restarts) the download: Open or Close goes out now. Returns
// whether it was handed to the active port.
bool startApplyDownload(const PanelState& s, ProtocolState& p, CommandSink& sink);

// Counts one received byte; at each threshold sends the next step, built from
// the panel as it is now. The last step ends the download and starts
// following the run.
void applyDownloadStep(PanelState& s, ProtocolState& p, CommandSink& sink);

}  // namespace veltra
