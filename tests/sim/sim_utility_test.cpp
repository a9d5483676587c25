// The simulated controller against the utility's own reply decoder and Apply
// download: what the utility relies on from a controller, end to end, on a
// fake clock.

#include "protocol/apply_download.h"
#include "protocol/commands.h"
#include "protocol/reply_decoder.h"
#include "sim/sim_controller.h"
#include "sim/sim_test_util.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veltra {
namespace {

using namespace simtest;

class SimUtilityTest : public ::testing::Test, public CommandSink {
protected:
    SimUtilityTest() {
        p.activePort = 1;
        s.shutterPosition = 1;
        s.shutterMode = 0;
        s.repeatText = "3";
        s.leftCycleText = "3";
    }

    bool send(int port, const Command& command) override {
        EXPECT_EQ(port, 1);
        sent.push_back(hexText(Bytes(command.data().begin(), command.data().end())));
        sim.receive(command.data(), now);
        return true;
    }

    // Lets the clock run to `until`, handing every byte to the decoder at the
    // moment it is sent. Commands the decoder sends reach the controller at
    // that same moment.
    void runUntil(SimTime until) {
        for (;;) {
            const auto due = sim.nextDue();
            if (!due || *due > until) break;
            now = std::max(now, *due);
            for (const SimOutput& out : sim.advance(now)) {
                for (const std::uint8_t b : out.bytes) {
                    decoder.onPortRxChar(s, b, 1);
                    if (s.leftCycleText != lastLeft) leftCycles.push_back(lastLeft = s.leftCycleText);
                }
            }
        }
        now = std::max(now, until);
    }

    SimController sim;
    SimTime now{0};
    PanelState s;
    ProtocolState p;
    ReplyDecoder decoder{p, *this};
    std::vector<std::string> sent;
    std::string lastLeft = "3";
    std::vector<std::string> leftCycles;
};

TEST_F(SimUtilityTest, goWithRepeatThree_countsThreeTwoOneThenEnds) {
    send(1, repeatCommand(0, 3));
    runUntil(ms(1));
    send(1, *runningOptionCommand(2));
    p.runMode = 2;
    p.runStartPosition = s.shutterPosition;  // Close
    runUntil(ms(10'000));
    EXPECT_EQ(leftCycles, (std::vector<std::string>{"2", "1", "3"}));
    EXPECT_EQ(p.runMode, 0);
    EXPECT_EQ(s.shutterPosition, 1);
}

TEST_F(SimUtilityTest, stopDuringGo_endsTheRunAtTheCarriageReturn) {
    send(1, repeatCommand(0, 3));
    runUntil(ms(1));
    send(1, *runningOptionCommand(2));
    p.runMode = 2;
    p.runStartPosition = 1;
    runUntil(ms(30));  // one cycle from 1 ms: 24 ms
    EXPECT_EQ(leftCycles, (std::vector<std::string>{"2"}));
    send(1, stopCommand());
    runUntil(ms(10'000));
    EXPECT_EQ(p.runMode, 0);
    EXPECT_EQ(s.leftCycleText, "3");
    EXPECT_EQ(s.log.back(), "13         0x0D");
}

TEST_F(SimUtilityTest, triggerPulseWithTriggerInput_keepsCountingUntilStop) {
    s.repeatText = s.leftCycleText = lastLeft = "2";
    s.triggerMode = 0;
    send(1, triggerCommand(0));
    send(1, repeatCommand(0, 2));
    runUntil(ms(1));  // their carriage returns must not reach the run counting
    send(1, *runningOptionCommand(1));
    p.runMode = 1;
    p.runStartPosition = 1;
    runUntil(ms(100));
    EXPECT_EQ(p.runMode, 1) << "the echo of On Trigger Pulse must not end the run";
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(sim.trigger(now));
        runUntil(now + ms(100));
    }
    EXPECT_EQ(leftCycles, (std::vector<std::string>{"1", "2", "1"}));
    EXPECT_EQ(p.runMode, 1);
    send(1, stopCommand());
    runUntil(now + ms(100));
    EXPECT_EQ(p.runMode, 0);
}

TEST_F(SimUtilityTest, applyDownload_completesAndProgramsTheController) {
    s.shutterPosition = 0;
    s.triggerMode = 3;
    s.syncMode = 1;
    s.delayTime = {"0", "0", "0", "100", "0"};
    s.exposureTime = {"1", "2", "3", "456", "7"};
    s.runningOption = 0;  // On Power Up: no run to follow afterwards
    for (const int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        s.shutterMode = mode;
        s.ndSteps = 72;
        sent.clear();
        ASSERT_TRUE(startApplyDownload(s, p, *this));
        runUntil(now + ms(1000));
        EXPECT_EQ(p.applyReplyCount, -1) << "the download stalled";
        ASSERT_EQ(sent.size(), 8u);
        EXPECT_EQ(sent.back(), "FA F1");
        const SimSettings& got = sim.settings();
        EXPECT_TRUE(got.shutterOpen);
        EXPECT_EQ(static_cast<int>(got.mode), mode);
        EXPECT_EQ(got.triggerMode, 3);
        EXPECT_EQ(got.syncMode, 1);
        EXPECT_EQ(got.delay.duration(), ms(100));
        EXPECT_EQ(got.exposure, (SimTimer{1, 2, 3, 0x45, 0x67}));
        EXPECT_EQ(got.repeat, 3);
        EXPECT_EQ(got.runningOption, SimRunningOption::PowerUp);
    }
}

TEST_F(SimUtilityTest, applyDownloadEndingWithGo_isFollowedToItsEnd) {
    s.runningOption = 2;
    ASSERT_TRUE(startApplyDownload(s, p, *this));
    runUntil(ms(10'000));
    EXPECT_EQ(p.applyReplyCount, -1);
    EXPECT_EQ(sent.back(), "FA F3");
    EXPECT_EQ(leftCycles, (std::vector<std::string>{"2", "1", "3"}));
    EXPECT_EQ(p.runMode, 0);
}

TEST_F(SimUtilityTest, statusReply_refreshesThePanel) {
    send(1, timerCommand(TimerSelector::Exposure, {"1", "2", "3", "456", "7"}));
    send(1, makeCommand({CMD_NEUTRAL_DENSITY, 72}));
    send(1, triggerCommand(1));
    send(1, repeatCommand(0x01, 0x2C));
    runUntil(ms(10));
    s.shutterMode = -1;
    s.repeatText.clear();
    send(1, statusCommand());
    runUntil(ms(20));
    EXPECT_EQ(p.statusIndex, -1) << "the reply was not complete";
    EXPECT_EQ(s.shutterMode, 2);
    EXPECT_EQ(s.ndSteps, 72);
    EXPECT_EQ(s.triggerMode, 1);
    EXPECT_EQ(s.syncMode, -1);
    EXPECT_EQ(s.exposureTime, (TimerValue{"1", "2", "3", "456", "7"}));
    EXPECT_EQ(s.delayTime, (TimerValue{"0", "0", "0", "0", "0"}));
    EXPECT_EQ(s.timerSelectIndex, 1);
    EXPECT_EQ(s.runningOption, -1);
    EXPECT_EQ(s.repeatText, "300");
}

TEST_F(SimUtilityTest, zeroExposure_leavesTheDelaySelected) {
    send(1, timerCommand(TimerSelector::Delay, {"0", "0", "5", "0", "0"}));
    send(1, statusCommand());
    runUntil(ms(10));
    EXPECT_EQ(s.timerSelectIndex, 0);
    EXPECT_EQ(s.delayLabel, "00 : 00 : 05 : 000 : 0");
}

TEST_F(SimUtilityTest, reset_makesTheUtilityAskForStatusAtTheCarriageReturn) {
    send(1, makeCommand({CMD_SOFT}));
    send(1, saveConfigCommand());
    send(1, makeCommand({CMD_FAST}));
    runUntil(ms(10));
    sent.clear();
    s.shutterMode = 0;
    send(1, resetCommand());
    p.statusRequestPending = 1;
    runUntil(ms(1000));
    EXPECT_EQ(sent, (std::vector<std::string>{"FB", "CC"}));
    EXPECT_EQ(p.statusRequestPending, -1);
    EXPECT_EQ(s.shutterMode, 1);  // the saved Soft
}

TEST_F(SimUtilityTest, controllerInfo_showsTwoLines) {
    send(1, getInfoCommand());
    runUntil(ms(10));
    ASSERT_GE(s.log.size(), 3u);
    EXPECT_EQ(s.log.line(s.log.size() - 2), "VELTRA S");
    EXPECT_EQ(s.log.back(), "1.12");
    EXPECT_EQ(p.infoCount, -1);
}

}  // namespace
}  // namespace veltra
