#include "panel/shutter_panel.h"
#include "support/fakes.h"

#include <gtest/gtest.h>

#include <sstream>

namespace veltra {
namespace {

using test::bytes;

struct Fixture {
    test::RecordingSink sink;
    test::ScriptedPrompter prompter;
    ShutterPanel panel{sink, prompter};
    PanelState s;
    Fixture() {
        panel.setActivePort(1);
        // The panel as it starts: Close, Fast, Enable on High, Low for Open.
        s.shutterPosition = 1;
        s.shutterMode = 0;
        s.triggerMode = 0;
        s.syncMode = 1;
        s.triggerPulseChecked = s.syncPulseChecked = true;
    }
    const ReplyDecoder& d() const { return panel.decoder(); }
    int rx(int b, int port = 1) { return panel.onPortRxChar(s, b, port); }
    void feed(const std::string& hex, int port = 1) {
        for (int b : bytes(hex)) rx(b, port);
    }
};

const char* kFastReply = "CC AA DC 00 A0 B0 00 00 00 00 00 21 05 07 45 67 F3 00 0A 0D";
const char* kNdReply = "CC AC DE 48 00 A2 B1 10 00 05 00 00 00 00 00 00 00 F2 00 03";

// Everything a status reply sets, on one line.
std::string describe(const PanelState& s) {
    std::ostringstream o;
    o << "pos " << s.shutterPosition << " mode " << s.shutterMode << " steps " << s.ndSteps << " '" << s.ndCaption
      << "' " << s.openingLabel << "/" << s.closingLabel << " trig " << s.triggerPulseChecked << s.triggerMode
      << " sync " << s.syncPulseChecked << s.syncMode << " delay " << s.delayLabel << " exp " << s.exposureLabel
      << " sel " << s.timerSelectIndex << " edit " << formatTimerValue(s.editedTime, false) << " sliders";
    for (int v : s.sliders) o << ' ' << v;
    o << " | " << s.cycleLabel << " | run " << s.runningOption << " repeat " << s.repeatText << "/"
      << s.leftCycleText << " lines " << s.log.size();
    return o.str();
}

const char* kFastPanel =
    "pos 0 mode 0 steps 0 'Neutral Density' 12 ms/12 ms trig 0-1 sync 0-1 delay 00 : 00 : 00 : 000 : 0 "
    "exp 01 : 05 : 07 : 456 : 7 sel 1 edit 01 : 05 : 07 : 456 : 7 sliders 1 5 7 456 7 | "
    "Cycle Time  -  01 : 05 : 07 : 480 : 7 | run 2 repeat 10/10 lines 20";
const char* kNdPanel =
    "pos 1 mode 2 steps 72 'Neutral Density - 72' 19.0 ms/19.0 ms trig 11 sync 10 delay 00 : 00 : 05 : 000 : 0 "
    "exp 00 : 00 : 00 : 000 : 0 sel 0 edit 00 : 00 : 05 : 000 : 0 sliders 0 0 5 0 0 | "
    "Cycle Time  -  00 : 00 : 05 : 038 : 0 | run 1 repeat 3/3 lines 20";

TEST(Decoder, FastLayoutStatusReplyRefreshesThePanel) {
    Fixture f;
    f.feed(kFastReply);
    EXPECT_EQ(describe(f.s), kFastPanel);
    EXPECT_FALSE(f.d().statusReplyInProgress());
    EXPECT_EQ(f.s.log.line(0), "204       0xCC");
    EXPECT_EQ(f.s.log.line(3), "0           0x00");
    EXPECT_EQ(f.s.log.line(12), "5           0x05");
    EXPECT_EQ(f.s.log.line(18), "10         0x0A");
    EXPECT_TRUE(f.sink.sent.empty());
}

TEST(Decoder, NeutralDensityLayoutStatusReplyRefreshesThePanel) {
    Fixture f;
    f.feed(kNdReply);
    EXPECT_EQ(describe(f.s), kNdPanel);
    f.feed("0D");  // the reply is complete: a carriage return is only logged
    EXPECT_EQ(f.s.log.size(), 21u);
    EXPECT_EQ(f.s.log.back(), "13         0x0D");
    EXPECT_EQ(f.s.repeatText, "3");
}

// Replies carry no port of their own: a reply split across two ports at any
// byte decodes as one stream.
TEST(Decoder, RepliesSplitAtEveryByteAcrossPortsDecodeTheSame) {
    for (const char* reply : {kFastReply, kNdReply}) {
        const auto all = bytes(reply);
        for (std::size_t cut = 0; cut <= all.size(); ++cut) {
            Fixture f;
            for (std::size_t i = 0; i < all.size(); ++i) f.rx(all[i], i < cut ? 1 : 3);
            EXPECT_EQ(describe(f.s), reply == kFastReply ? kFastPanel : kNdPanel) << "cut at " << cut;
        }
    }
}

TEST(Decoder, LogLinesKeepTheHexColumn) {
    struct Row { int b; const char* normal; const char* run; } rows[] = {
        {0, "0           0x00", "0         0x00"},
        {5, "5           0x05", "5         0x05"},
        {9, "9           0x09", "9         0x09"},
        {10, "10         0x0A", "10         0x0A"},
        {13, "13         0x0D", "13         0x0D"},
        {99, "99         0x63", "99         0x63"},
        {100, "100       0x64", "100       0x64"},
        {238, "238       0xEE", "238       0xEE"},
        {255, "255       0xFF", "255       0xFF"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(normalLogLine(static_cast<std::uint8_t>(r.b)), r.normal);
        EXPECT_EQ(runLogLine(static_cast<std::uint8_t>(r.b)), r.run);
    }
}

TEST(Decoder, StepLabelsRoundAnExactHalfUp) {
    EXPECT_EQ(ndOpeningText(54, 0.2638888888888889), "14.3 ms");
    EXPECT_EQ(ndOpeningText(126, 0.2638888888888889), "33.3 ms");
    EXPECT_EQ(ndOpeningText(72, 0.2638888888888889), "19.0 ms");
    EXPECT_EQ(ndOpeningText(0, 0.2638888888888889), "0.0 ms");
}

TEST(Decoder, PortOutOfRangeIsIgnoredCompletely) {
    Fixture f;
    EXPECT_EQ(f.rx(0xCC, 0), kRxIgnored);
    EXPECT_EQ(f.rx(0xCC, 5), kRxIgnored);
    EXPECT_TRUE(f.s.log.empty());
    EXPECT_FALSE(f.d().statusReplyInProgress());
}

TEST(Decoder, OnlineEchoPicksTheAnsweringPortOnce) {
    Fixture f;
    f.panel.portOpenedAtStartup(f.s, 1);
    f.panel.portOpenedAtStartup(f.s, 3);
    EXPECT_EQ(f.rx(0xEE, 3), kRxOnline);
    EXPECT_EQ(f.panel.activePort(), 3);
    EXPECT_EQ(f.s.ports[2].status, "Ready for Veltra");
    EXPECT_EQ(f.rx(0xEE, 1), kRxStatus);
    EXPECT_EQ(f.panel.activePort(), 3);
    EXPECT_EQ(f.s.ports[0].status, "Connected");
    EXPECT_EQ(f.s.log.size(), 2u);
    EXPECT_EQ(f.s.log.back(), "238       0xEE");
}

TEST(Decoder, ControllerInformationShowsAsTwoLines) {
    Fixture f;
    f.feed("FD 56 45 4C 54 52 41 20 43 31 2E E9 32");
    ASSERT_EQ(f.s.log.size(), 3u);
    EXPECT_EQ(f.s.log.line(0), "253       0xFD");
    EXPECT_EQ(f.s.log.line(1), "VELTRA C");
    EXPECT_EQ(f.s.log.line(2), "1.\u00E92");
    EXPECT_FALSE(f.d().infoInProgress());
    f.feed("FD 41 42 00 43 44 45 46 47 00 31 32 33");  // a 0 byte ends the visible text
    EXPECT_EQ(f.s.log.line(4), "AB");
    EXPECT_EQ(f.s.log.line(5), "");
}

TEST(Decoder, EchoBytesInsideAReplyAreData) {
    Fixture f;
    f.feed("CC AA CC FD");  // mode byte CC: no mode radio, first layout
    EXPECT_EQ(f.s.shutterMode, 0xCC - 0xDC);
    EXPECT_FALSE(f.d().infoInProgress());
    EXPECT_TRUE(f.d().statusReplyInProgress());
}

TEST(Decoder, RepeatFFFFShowsAsANumber) {
    Fixture f;
    f.feed("CC AA DC 00 A0 B0 00 00 00 00 00 00 00 00 00 00 F0 FF FF 0D");
    EXPECT_EQ(f.s.repeatText, "65535");
    EXPECT_EQ(f.s.runningOption, -1);
    EXPECT_EQ(f.s.timerSelectIndex, -1);
}

struct RunRow {
    const char* name;
    int runMode, startPosition, triggerMode;
    const char* repeat;
    const char* left;
    const char* reports;
    std::vector<std::string> lefts;  // left cycle number after each report
    int runModeAfter;
    std::size_t logLines;
};

TEST(Decoder, RunCountingFollowsShutterReports) {
    const RunRow rows[] = {
        {"go counts down and ends", 2, 0, -1, "3", "3", "AA AC AA AC AA", {"2", "2", "1", "1", "3"}, 0, 0},
        {"go from close counts closes", 2, 1, 0, "3", "3", "AA AC AA AC AA AC", {"3", "2", "2", "1", "1", "3"}, 0, 0},
        {"trigger with input goes on", 1, 0, 0, "2", "2", "AA AC AA AC AA", {"1", "1", "2", "2", "1"}, 1, 0},
        {"trigger without input ends", 1, 0, -1, "2", "2", "AA AC AA", {"1", "1", "2"}, 0, 0},
        {"empty left counts below zero", 2, 0, -1, "3", "", "AA AA AA", {"-1", "-2", "-3"}, 2, 0},
        {"continuous never counts", 2, 0, -1, "Continuous", "Continuous", "AA AC AA", {"Continuous", "Continuous", "Continuous"}, 2, 0},
        {"carriage return ends", 2, 0, -1, "5", "4", "AA 0D", {"3", "5"}, 0, 1},
        {"other bytes are logged", 2, 0, -1, "5", "5", "CC 05", {"5", "5"}, 2, 2},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Fixture f;
        f.s.shutterPosition = r.startPosition;
        f.s.repeatText = r.repeat;
        f.panel.onRunningOption(f.s, r.runMode);  // Go (2) or On Trigger Pulse (1)
        f.s.triggerMode = r.triggerMode;
        f.s.leftCycleText = r.left;
        const auto in = bytes(r.reports);
        for (std::size_t i = 0; i < in.size(); ++i) {
            f.rx(in[i]);
            EXPECT_EQ(f.s.leftCycleText, r.lefts[i]) << "after byte " << i;
            if (in[i] == 0xAA) {
                EXPECT_EQ(f.s.shutterPosition, 0);
            }
            if (in[i] == 0xAC) {
                EXPECT_EQ(f.s.shutterPosition, 1);
            }
        }
        EXPECT_EQ(f.d().runMode(), r.runModeAfter);
        EXPECT_EQ(f.s.log.size(), r.logLines);
    }
}

TEST(Decoder, StatusReplyDuringARunIsNotDecoded) {
    Fixture f;
    f.s.repeatText = f.s.leftCycleText = "4";
    f.panel.onRunningOption(f.s, 2);  // from Close
    f.s.runningOption = -1;
    f.feed(kFastReply);
    EXPECT_EQ(f.s.shutterPosition, 0);  // the AA inside moved the radio
    EXPECT_EQ(f.s.repeatText, "4");
    EXPECT_EQ(f.s.runningOption, -1);
    EXPECT_EQ(f.s.log.size(), 19u);  // the AA is not logged
    EXPECT_EQ(f.d().runMode(), 0);  // the closing 0D ended the run
}

// Replies in which every field differs from its neighbours and from zero, so a
// field read from the wrong position shows. The Fast layout ignores the byte
// after the mode (48 here would read as 72 steps); 0x20 flags an exposure of
// 0 hours, which still selects Exposure Time.
TEST(Decoder, EveryFieldOfBothLayoutsComesFromItsOwnPosition) {
    struct Row { const char* reply; const char* panel; } rows[] = {
        {"CC AA DC 48 A3 B1 13 2A 3B 98 76 20 05 07 45 67 F1 01 02 33",
         "pos 0 mode 0 steps 0 'Neutral Density' 12 ms/12 ms trig 12 sync 10 delay 03 : 42 : 59 : 987 : 6 "
         "exp 00 : 05 : 07 : 456 : 7 sel 1 edit 00 : 05 : 07 : 456 : 7 sliders 0 5 7 456 7 | "
         "Cycle Time  -  03 : 48 : 07 : 468 : 3 | run 0 repeat 258/258 lines 20"},
        {"CC AC DE 90 5A A4 B0 12 3B 00 99 99 00 00 01 00 05 F0 FF FE",
         "pos 1 mode 2 steps 144 'Neutral Density - 144' 38.0 ms/38.0 ms trig 13 sync 0-1 "
         "delay 02 : 59 : 00 : 999 : 9 exp 00 : 00 : 01 : 000 : 5 sel 0 edit 02 : 59 : 00 : 999 : 9 "
         "sliders 2 59 0 999 9 | Cycle Time  -  02 : 59 : 02 : 076 : 4 | run -1 repeat 65534/65534 lines 20"},
        // Soft, with a Close position byte that is neither AA nor AC.
        {"CC 00 DD 01 A1 B2 04 3B 01 01 10 00 3A 3B 00 01 F2 FF 00 00",
         "pos 1 mode 1 steps 0 'Neutral Density' 70 ms/70 ms trig 10 sync 11 delay 04 : 59 : 01 : 011 : 0 "
         "exp 00 : 58 : 59 : 000 : 1 sel 0 edit 04 : 59 : 01 : 011 : 0 sliders 4 59 1 11 0 | "
         "Cycle Time  -  05 : 58 : 00 : 151 : 1 | run 1 repeat 65280/65280 lines 20"},
    };
    for (const auto& r : rows) {
        Fixture f;
        f.feed(r.reply);
        EXPECT_EQ(describe(f.s), r.panel) << r.reply;
        EXPECT_FALSE(f.d().statusReplyInProgress()) << r.reply;
    }
}

// The information lines end at exactly 8 and 12 bytes; the byte after them is
// back on the normal path.
TEST(Decoder, InformationEndsAtTheTwelfthByte) {
    Fixture f;
    f.feed("FD 41 42 43 44 45 46 47");
    EXPECT_EQ(f.s.log.size(), 1u);
    f.feed("48");
    EXPECT_EQ(f.s.log.size(), 2u);
    f.feed("49 4A 4B");
    EXPECT_EQ(f.s.log.size(), 2u);
    f.feed("4C");
    ASSERT_EQ(f.s.log.size(), 3u);
    EXPECT_EQ(f.s.log.line(1), "ABCDEFGH");
    EXPECT_EQ(f.s.log.line(2), "IJKL");
    f.feed("4D");
    EXPECT_EQ(f.s.log.back(), "77         0x4D");
}

// A status reply ends after position 18: the next byte is logged only.
TEST(Decoder, StatusReplyEndsAfterPositionEighteen) {
    Fixture f;
    f.feed("CC AA DC 00 A0 B0 00 00 00 00 00 21 05 07 45 67 F3 00 0A");
    EXPECT_TRUE(f.d().statusReplyInProgress());  // position 18 still to come
    EXPECT_EQ(f.s.repeatText, "10");
    f.feed("0D");
    EXPECT_FALSE(f.d().statusReplyInProgress());
    f.feed("AC");
    EXPECT_EQ(f.s.shutterPosition, 0);
    EXPECT_FALSE(f.d().statusReplyInProgress());
}

}  // namespace
}  // namespace veltra
