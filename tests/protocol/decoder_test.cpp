#include "panel_harness.h"

#include <functional>

namespace veltra {
namespace {

using test::bytes;
using test::describe;
using test::Panel;
using test::Strings;

// Replies in which every field differs from its neighbours and from zero, so a
// field read from the wrong position shows. The Fast layout ignores the byte
// after the mode (48 here would read as 72 steps); 0x20 flags an exposure of
// 0 hours, which still selects Exposure Time. 54 steps open for 14.25 ms,
// shown rounded half up.
struct StatusRow { const char* reply; const char* panel; };
const StatusRow kStatusRows[] = {
    {test::kFastReply, test::kFastPanel},
    {"CC AC DE 36 00 A2 B1 10 00 05 00 00 00 00 00 00 00 F2 00 03",
     "pos 1 mode 2 steps 54 'Neutral Density - 54' 14.3 ms/14.3 ms trig 11 sync 10 delay 00 : 00 : 05 : 000 : 0 "
     "exp 00 : 00 : 00 : 000 : 0 sel 0 edit 00 : 00 : 05 : 000 : 0 sliders 0 0 5 0 0 | "
     "Cycle Time  -  00 : 00 : 05 : 028 : 6 | run 1 repeat 3/3"},
    {"CC AA DC 48 A3 B1 13 2A 3B 98 76 20 05 07 45 67 F1 01 02 33",
     "pos 0 mode 0 steps 0 'Neutral Density' 12 ms/12 ms trig 12 sync 10 delay 03 : 42 : 59 : 987 : 6 "
     "exp 00 : 05 : 07 : 456 : 7 sel 1 edit 00 : 05 : 07 : 456 : 7 sliders 0 5 7 456 7 | "
     "Cycle Time  -  03 : 48 : 07 : 468 : 3 | run 0 repeat 258/258"},
    {"CC AC DE 90 5A A4 B0 12 3B 00 99 99 00 00 01 00 05 F0 FF FE",
     "pos 1 mode 2 steps 144 'Neutral Density - 144' 38.0 ms/38.0 ms trig 13 sync 0-1 "
     "delay 02 : 59 : 00 : 999 : 9 exp 00 : 00 : 01 : 000 : 5 sel 0 edit 02 : 59 : 00 : 999 : 9 "
     "sliders 2 59 0 999 9 | Cycle Time  -  02 : 59 : 02 : 076 : 4 | run -1 repeat 65534/65534"},
    // Soft, with a Close position byte that is neither AA nor AC.
    {"CC 00 DD 01 A1 B2 04 3B 01 01 10 00 3A 3B 00 01 F2 FF 00 00",
     "pos 1 mode 1 steps 0 'Neutral Density' 70 ms/70 ms trig 10 sync 11 delay 04 : 59 : 01 : 011 : 0 "
     "exp 00 : 58 : 59 : 000 : 1 sel 0 edit 04 : 59 : 01 : 011 : 0 sliders 4 59 1 11 0 | "
     "Cycle Time  -  05 : 58 : 00 : 151 : 1 | run 1 repeat 65280/65280"},
};

// Replies carry no port of their own: a reply split across two ports at any
// byte decodes as one stream (at 0 and at its end: whole on one port). Bytes
// from outside COM1..COM4 are ignored.
TEST(Decoder, EveryFieldOfBothLayoutsComesFromItsOwnPositionSplitAnywhere) {
    for (const auto& r : kStatusRows) {
        const auto all = bytes(r.reply);
        for (std::size_t cut = 0; cut <= all.size(); ++cut) {
            SCOPED_TRACE(testing::Message() << r.reply << " cut at " << cut);
            Panel f;
            EXPECT_EQ(std::tuple(f.rx(0xCC, 0), f.rx(0xCC, 5)), std::tuple(RxResult::Ignored, RxResult::Ignored));
            for (std::size_t i = 0; i < all.size(); ++i) f.rx(all[i], i < cut ? 1 : 3);
            EXPECT_EQ(describe(f.s), r.panel);
            EXPECT_EQ(std::tuple(f.d().statusReplyInProgress(), f.s.log.size(), f.sink.sent.size()), std::tuple(false, 20u, 0u));
        }
    }
    // Each reply byte is logged in the normal column.
    Panel f;
    f.feed(test::kFastReply);
    EXPECT_EQ(std::tuple(f.s.log.line(0), f.s.log.line(3)), std::tuple("204       0xCC", "0           0x00"));
}

// A status reply ends after position 18: the next byte is logged only. Bytes
// that would start a reply (CC as delay minutes, FD in the Fast layout's
// unused position) are data inside it.
TEST(Decoder, StatusReplyEndsAfterPositionEighteenAndHoldsReplyStartsAsData) {
    Panel f;
    f.feed("CC AA DC FD A0 B0 00 CC 00 00 00 00 00 00 00 00 F0 FF FF");
    EXPECT_EQ(std::tuple(f.d().statusReplyInProgress(), f.d().infoInProgress()), std::tuple(true, false));  // position 18 to come
    // FF FF is a number here.
    EXPECT_EQ(std::tuple(f.s.delayTime.minutes, f.s.repeatText, f.s.runningOption, f.s.timerSelectIndex),
              std::tuple("204", "65535", -1, -1));
    f.feed("0D AC");
    EXPECT_EQ(std::tuple(f.d().statusReplyInProgress(), f.s.shutterPosition, f.s.log.size()), std::tuple(false, 0, 21u));
}

TEST(Decoder, LogLinesKeepTheHexColumn) {
    struct Row { std::uint8_t b; const char* normal; const char* run; } rows[] = {
        {9, "9           0x09", "9         0x09"}, {10, "10         0x0A", "10         0x0A"},
        {99, "99         0x63", "99         0x63"}, {100, "100       0x64", "100       0x64"},
    };
    for (const auto& r : rows) EXPECT_EQ(std::tuple(normalLogLine(r.b), runLogLine(r.b)), std::tuple(r.normal, r.run));
}

// The information lines end at exactly 8 and 12 bytes, in Windows-1252; a 0
// byte ends the visible text; the byte after them is back on the normal path.
TEST(Decoder, ControllerInformationShowsAsTwoLines) {
    Panel f;
    f.feed("FD 56 45 4C 54 52 41 20");
    EXPECT_EQ(f.s.log.size(), 1u);
    f.feed("43");
    EXPECT_EQ(f.s.log.line(1), "VELTRA C");
    f.feed("31 2E E9");
    EXPECT_EQ(f.s.log.size(), 2u);
    f.feed("32");
    ASSERT_EQ(f.s.log.size(), 3u);
    EXPECT_EQ(f.s.log.line(2), "1.\u00E92");
    EXPECT_FALSE(f.d().infoInProgress());
    f.feed("4D FD 41 42 00 43 44 45 46 47 00 31 32 33");
    EXPECT_EQ(f.s.log.line(3), "77         0x4D");
    EXPECT_EQ(f.s.log.line(5), "AB");
    EXPECT_EQ(f.s.log.line(6), "");
}

// A panel on COM2 with a setting for every step of Apply.
struct Download : test::Panel {
    Download() : Panel(2) {
        s.delayTime = {"1", "2", "3", "456", "7"};
        s.exposureTime = {"0", "0", "0", "12", "0"};
        s.repeatText = "300";
        s.runningOption = 2;
    }
    // Plays a controller that answers each command of k bytes with k + 1
    // bytes; returns the received count at which each command went out. The
    // last step is not answered: a carriage return after it would end the run
    // the download has just started following.
    std::vector<int> run() {
        std::vector<int> counts;
        int received = 0;
        panel.onApply(s);
        for (std::size_t answered = 0; d().applyInProgress() && answered < sink.sent.size(); ++answered) {
            const int k = static_cast<int>((sink.sent[answered].hex.size() + 1) / 3);
            for (int i = 0; i <= k; ++i) {
                const std::size_t before = sink.sent.size();
                rx(i < k ? 0x55 : 0x0D);
                ++received;
                if (sink.sent.size() > before) counts.push_back(received);
            }
        }
        return counts;
    }
};

TEST(ApplyDownload, StepsGoOutInOrderWhenEachCommandIsAnswered) {
    struct Row { const char* name; std::function<void(PanelState&)> change; std::vector<int> counts; Strings sent; int runMode; } rows[] = {
        {"fast, go", [](PanelState&) {}, {2, 4, 7, 10, 17, 24, 29},
         {"AC", "DC", "FA A1", "FA B2", "FA 11 02 03 45 67", "FA 20 00 00 01 20", "FA F0 01 2C", "FA F3"}, 2},
        {"nd one byte later, continuous, power up",
         [](PanelState& s) { s.shutterMode = 2; s.ndSteps = 144; s.shutterPosition = 0; s.repeatText = "Continuous"; s.runningOption = 0; },
         {2, 5, 8, 11, 18, 25, 30},
         {"AA", "DE 90", "FA A1", "FA B2", "FA 11 02 03 45 67", "FA 20 00 00 01 20", "FA F0 FF FF", "FA F1"}, 0},
        {"no mode: straight on with the trigger", [](PanelState& s) { s.shutterMode = -1; }, {2, 5, 8, 15, 22, 27},
         {"AC", "FA A1", "FA B2", "FA 11 02 03 45 67", "FA 20 00 00 01 20", "FA F0 01 2C", "FA F3"}, 2},
        {"no running option: ends without a truncated command", [](PanelState& s) { s.runningOption = -1; },
         {2, 4, 7, 10, 17, 24}, {"AC", "DC", "FA A1", "FA B2", "FA 11 02 03 45 67", "FA 20 00 00 01 20", "FA F0 01 2C"}, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Download d;
        r.change(d.s);
        EXPECT_EQ(d.run(), r.counts);
        EXPECT_EQ(d.sink.hex(), r.sent);
        EXPECT_EQ(std::tuple(d.d().applyInProgress(), d.d().runMode()), std::tuple(false, r.runMode));
    }
}

TEST(ApplyDownload, EachStepUsesThePanelAsItIsThenAndStatusRepliesAreNotDecoded) {
    Download d;
    d.panel.onApply(d.s);
    d.feed("CC");
    d.s.shutterMode = 1;  // changed while the first answer was under way
    d.feed("AA DD 00 A0 B0");
    EXPECT_EQ(d.sink.hex(), (Strings{"AC", "DD", "FA A1"}));
    EXPECT_EQ(std::tuple(d.s.shutterPosition, d.s.triggerMode, d.s.syncMode, d.d().statusReplyInProgress(), d.s.log.size()),
              std::tuple(1, 0, 1, false, 6u));
    d.panel.onApply(d.s);  // a new Apply starts over: two answer bytes bring the mode
    d.feed("AC 0D");
    EXPECT_EQ(d.sink.hex(), (Strings{"AC", "DD", "FA A1", "AC", "DD"}));
}

// A run started by On Trigger Pulse or Go, or by an Apply that ends with one
// of them, counts from the shutter position the panel had: each report of
// that position counts one cycle off "Left Cycle Number".
struct RunRow {
    const char* name; bool byApply; int runMode, startPosition, triggerMode; const char *repeat, *left, *reports;
    std::vector<std::string> lefts;  // left cycle number after each report
    int runModeAfter; std::size_t logLines;
};

TEST(Decoder, RunCountingFollowsShutterReports) {
    const RunRow rows[] = {
        {"go counts down and ends", false, 2, 0, -1, "3", "3", "AA AC AA AC AA", {"2", "2", "1", "1", "3"}, 0, 0},
        {"go from close counts closes", false, 2, 1, 0, "3", "3", "AA AC AA AC AA AC", {"3", "2", "2", "1", "1", "3"}, 0, 0},
        {"trigger with input goes on", false, 1, 0, 0, "2", "2", "AA AC AA AC AA", {"1", "1", "2", "2", "1"}, 1, 0},
        {"trigger without input ends", false, 1, 0, -1, "2", "2", "AA AC AA", {"1", "1", "2"}, 0, 0},
        {"empty left counts below zero", false, 2, 0, -1, "3", "", "AA AA AA", {"-1", "-2", "-3"}, 2, 0},
        {"continuous never counts", false, 2, 0, -1, "Continuous", "Continuous", "AA AC AA", {"Continuous", "Continuous", "Continuous"}, 2, 0},
        {"carriage return ends", false, 2, 0, -1, "5", "4", "AA 0D", {"3", "5"}, 0, 1},
        {"apply, go from close", true, 2, 1, -1, "3", "3", "AA AC AA AC AA AC", {"3", "2", "2", "1", "1", "3"}, 0, 0},
        {"apply, go from open", true, 2, 0, -1, "3", "3", "AA AC AA AC AA", {"2", "2", "1", "1", "3"}, 0, 0},
        {"apply, trigger pulse from close", true, 1, 1, -1, "3", "3", "AC AA AC AC", {"2", "2", "1", "3"}, 0, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Download f;
        f.s.shutterPosition = r.startPosition;
        f.s.repeatText = r.repeat;
        if (r.byApply) f.s.runningOption = r.runMode, f.run();
        else f.panel.onRunningOption(f.s, r.runMode);
        ASSERT_EQ(f.d().runMode(), r.runMode);
        f.s.triggerMode = r.triggerMode;
        f.s.leftCycleText = r.left;
        const std::size_t logged = f.s.log.size();
        const auto in = bytes(r.reports);
        for (std::size_t i = 0; i < in.size(); ++i) {
            f.rx(in[i]);
            EXPECT_EQ(f.s.leftCycleText, r.lefts[i]) << "after byte " << i;
            if (in[i] != 0x0D) {
                EXPECT_EQ(f.s.shutterPosition, in[i] == 0xAC ? 1 : 0) << "after byte " << i;
            }
        }
        EXPECT_EQ(std::tuple(f.d().runMode(), f.s.log.size() - logged), std::tuple(r.runModeAfter, r.logLines));
    }
}

// Other bytes of a run are logged and leave the count alone; the AA inside
// moves the radio and is not logged; the closing 0D ends the run.
TEST(Decoder, StatusReplyDuringARunIsNotDecoded) {
    Panel f;
    f.s.repeatText = f.s.leftCycleText = "4";
    f.panel.onRunningOption(f.s, 2);  // from Close
    f.s.runningOption = -1;
    f.feed(test::kFastReply);
    EXPECT_EQ(std::tuple(f.s.shutterPosition, f.s.repeatText, f.s.leftCycleText, f.s.runningOption, f.s.log.size(), f.d().runMode()),
              std::tuple(0, "4", "4", -1, 19u, 0));
}

}  // namespace
}  // namespace veltra
