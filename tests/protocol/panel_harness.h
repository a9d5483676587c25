#pragma once

#include "panel/shutter_panel.h"
#include "support/fakes.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace veltra::test {

using Strings = std::vector<std::string>;

// The panel as it starts with a controller on `port` that has answered
// Online; nothing sent or logged yet.
struct Panel {
    RecordingSink sink;
    ScriptedPrompter prompter;
    ShutterPanel panel{sink, prompter};
    PanelState s;
    int port;

    explicit Panel(int active = 1) : port(active) {
        panel.initialise(s);
        panel.portOpenedAtStartup(s, port);
        feed("EE");
        sink.sent.clear();
        s.log.clear();
    }
    const ReplyDecoder& d() const { return panel.decoder(); }
    RxResult rx(int b) { return rx(b, port); }
    RxResult rx(int b, int on) { return panel.onPortRxChar(s, b, on); }
    void feed(const std::string& hex) { feed(hex, port); }
    void feed(const std::string& hex, int on) { for (int b : bytes(hex)) rx(b, on); }
    void repeat(const char* n) { s.repeatText = n, panel.onSendRepeat(s); }
};

// Everything a status reply sets, on one line.
inline std::string describe(const PanelState& s) {
    std::ostringstream o;
    o << "pos " << s.shutterPosition << " mode " << s.shutterMode << " steps " << s.ndSteps << " '" << s.ndCaption
      << "' " << s.openingLabel << "/" << s.closingLabel << " trig " << s.triggerPulseChecked << s.triggerMode
      << " sync " << s.syncPulseChecked << s.syncMode << " delay " << s.delayLabel << " exp " << s.exposureLabel
      << " sel " << s.timerSelectIndex << " edit " << formatTimerValue(s.editedTime, false) << " sliders";
    for (int v : s.sliders) o << ' ' << v;
    o << " | " << s.cycleLabel << " | run " << s.runningOption << " repeat " << s.repeatText << "/"
      << s.leftCycleText;
    return o.str();
}

// A Fast reply: Open, no trigger or sync, delay 0, exposure 1:05:07.456.7,
// Go, repeat 10; and the panel it shows.
inline const char* kFastReply = "CC AA DC 00 A0 B0 00 00 00 00 00 21 05 07 45 67 F3 00 0A 0D";
inline const char* kFastPanel =
    "pos 0 mode 0 steps 0 'Neutral Density' 12 ms/12 ms trig 0-1 sync 0-1 delay 00 : 00 : 00 : 000 : 0 "
    "exp 01 : 05 : 07 : 456 : 7 sel 1 edit 01 : 05 : 07 : 456 : 7 sliders 1 5 7 456 7 | "
    "Cycle Time  -  01 : 05 : 07 : 480 : 7 | run 2 repeat 10/10";

// The controller's own status reached the panel whole.
inline void expectFastStatus(const Panel& t) {
    EXPECT_EQ(describe(t.s), kFastPanel);
    EXPECT_FALSE(t.d().statusReplyInProgress());
}

}  // namespace veltra::test
