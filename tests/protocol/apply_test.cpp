#include "panel/shutter_panel.h"
#include "support/fakes.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

namespace veltra {
namespace {

using Strings = std::vector<std::string>;

struct Download {
    test::RecordingSink sink;
    test::ScriptedPrompter prompter;
    ShutterPanel panel{sink, prompter};
    PanelState s;

    Download() {
        panel.setActivePort(2);
        s.shutterPosition = 1;
        s.shutterMode = 0;
        s.triggerMode = 0;
        s.syncMode = 1;
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
        for (std::size_t answered = 0; panel.decoder().applyInProgress() && answered < sink.sent.size(); ++answered) {
            const int k = static_cast<int>((sink.sent[answered].hex.size() + 1) / 3);
            for (int i = 0; i <= k; ++i) {
                const std::size_t before = sink.sent.size();
                panel.onPortRxChar(s, i < k ? 0x55 : 0x0D, 2);
                ++received;
                if (sink.sent.size() > before) counts.push_back(received);
            }
        }
        return counts;
    }
};

TEST(ApplyDownload, StepsGoOutInOrderWhenEachCommandIsAnswered) {
    struct Row {
        const char* name;
        std::function<void(PanelState&)> change;
        std::vector<int> counts;
        Strings sent;
        int runMode;
    } rows[] = {
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
        EXPECT_FALSE(d.panel.decoder().applyInProgress());
        EXPECT_EQ(d.panel.decoder().runMode(), r.runMode);
    }
}

TEST(ApplyDownload, EachStepUsesThePanelAsItIsThenAndStatusRepliesAreNotDecoded) {
    Download d;
    d.panel.onApply(d.s);
    d.panel.onPortRxChar(d.s, 0xCC, 2);
    d.s.shutterMode = 1;  // changed while the first answer was under way
    for (int b : {0xAA, 0xDD, 0x00, 0xA0, 0xB0}) d.panel.onPortRxChar(d.s, b, 2);
    EXPECT_EQ(d.sink.hex(), (Strings{"AC", "DD", "FA A1"}));
    EXPECT_EQ(std::tuple(d.s.shutterPosition, d.s.triggerMode, d.s.syncMode), std::tuple(1, 0, 1));
    EXPECT_FALSE(d.panel.decoder().statusReplyInProgress());
    EXPECT_EQ(d.s.log.size(), 6u);
    d.panel.onApply(d.s);  // a new Apply starts over: two answer bytes bring the mode
    d.panel.onPortRxChar(d.s, 0xAC, 2);
    d.panel.onPortRxChar(d.s, 0x0D, 2);
    EXPECT_EQ(d.sink.hex(), (Strings{"AC", "DD", "FA A1", "AC", "DD"}));
}

// A download that ends with Go or On Trigger Pulse follows the run from the
// shutter position the panel had: each report of that position counts one
// cycle off "Left Cycle Number", reports of the other position do not.
TEST(ApplyDownload, TheRunItStartsCountsFromThePanelsShutterPosition) {
    struct Row {
        const char* name;
        int shutterPosition, runningOption;
        const char* reports;
        Strings lefts;  // left cycle number after each report
        int runModeAfter;
    } rows[] = {
        {"go from close counts closes", 1, 2, "AA AC AA AC AA AC", {"3", "2", "2", "1", "1", "3"}, 0},
        {"go from open counts opens", 0, 2, "AA AC AA AC AA", {"2", "2", "1", "1", "3"}, 0},
        {"trigger pulse from close counts closes", 1, 1, "AC AA AC AC", {"2", "2", "1", "3"}, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Download d;
        d.s.shutterPosition = r.shutterPosition;
        d.s.runningOption = r.runningOption;
        d.s.triggerMode = -1;
        d.s.repeatText = d.s.leftCycleText = "3";
        d.run();
        ASSERT_EQ(d.panel.decoder().runMode(), r.runningOption);
        std::istringstream in(r.reports);
        std::string hex;
        for (const std::string& left : r.lefts) {
            ASSERT_TRUE(in >> hex);
            d.panel.onPortRxChar(d.s, std::stoi(hex, nullptr, 16), 2);
            EXPECT_EQ(d.s.leftCycleText, left) << "after " << hex;
        }
        EXPECT_EQ(d.panel.decoder().runMode(), r.runModeAfter);
    }
}

}  // namespace
}  // namespace veltra
