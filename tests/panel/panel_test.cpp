#include "panel/shutter_panel.h"
#include "support/fakes.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

namespace veltra {
namespace {

struct Panel {
    test::RecordingSink sink;
    test::ScriptedPrompter prompter;
    ShutterPanel panel{sink, prompter};
    PanelState s;

    explicit Panel(bool connected = true) {
        panel.initialise(s);
        if (connected) {
            panel.portOpenedAtStartup(s, 1);
            sink.sent.clear();
        }
    }
};

TEST(Startup, OpenedPortsGetOnlineAndTheLastBecomesActive) {
    Panel t(false);
    t.panel.portOpenedAtStartup(t.s, 1);
    t.panel.portFailedAtStartup(t.s, 2, "no such device");
    t.panel.portOpenedAtStartup(t.s, 3);
    t.panel.portFailedAtStartup(t.s, 4, "");
    ASSERT_EQ(t.sink.sent.size(), 2u);
    EXPECT_EQ(t.sink.sent[0].port, 1);
    EXPECT_EQ(t.sink.sent[1].port, 3);
    EXPECT_EQ(t.sink.sent[1].hex, "EE");
    EXPECT_EQ(t.panel.protocol().activePort, 3);
    EXPECT_EQ(t.panel.protocol().awaitingOnlineReply, 1);
    EXPECT_EQ(t.s.ports[0].status, "Connected");
    EXPECT_EQ(t.s.ports[1].status, "Disconnected");
    EXPECT_FALSE(t.s.ports[1].enabled);
    EXPECT_EQ(t.s.ports[1].tooltip, "no such device");
    // The initial panel: Close, Fast, Enable on High, Low for Open, both boxes.
    EXPECT_EQ(t.s.shutterPosition, 1);
    EXPECT_EQ(t.s.shutterMode, 0);
    EXPECT_EQ(t.s.triggerMode, 0);
    EXPECT_EQ(t.s.syncMode, 1);
    EXPECT_TRUE(t.s.triggerPulseChecked && t.s.syncPulseChecked);
    EXPECT_EQ(t.s.runningOption, -1);
    EXPECT_EQ(t.s.timerSelectIndex, -1);
}

TEST(Startup, NothingIsSentWithoutAPortAndTheOperatorIsTold) {
    Panel t(false);
    t.panel.onStatus(t.s);
    t.panel.onOpen(t.s);
    EXPECT_TRUE(t.sink.sent.empty());
    ASSERT_EQ(t.prompter.warnings.size(), 2u);
    EXPECT_EQ(t.prompter.warnings[0], msg::kNoPort);
}

TEST(Startup, AClosedActivePortIsNotWrittenAndTheOperatorIsTold) {
    Panel t;
    t.panel.portLost(t.s, 1, "unplugged");
    t.sink.closed.insert(1);
    t.panel.onReset(t.s);
    EXPECT_TRUE(t.sink.sent.empty());
    EXPECT_EQ(t.panel.protocol().statusRequestPending, -1);
    ASSERT_EQ(t.prompter.warnings.size(), 1u);
    EXPECT_EQ(t.prompter.warnings[0], "COM1 is not connected: the command was not sent.");
    EXPECT_EQ(t.s.ports[0].status, "Disconnected");
}

TEST(Startup, AReopenedPortShowsItsRealState) {
    Panel t(false);
    t.panel.portFailedAtStartup(t.s, 2, "missing");
    t.panel.portReopened(t.s, 2, true, "");
    EXPECT_EQ(t.s.ports[1].status, "Connected");
    EXPECT_TRUE(t.s.ports[1].enabled);
    EXPECT_EQ(t.panel.protocol().activePort, 2);
    t.panel.portReopened(t.s, 2, false, "busy");
    EXPECT_EQ(t.s.ports[1].status, "Disconnected");
    EXPECT_FALSE(t.s.ports[1].enabled);
}

TEST(LineCommands, EachControlSendsItsBytes) {
    using Action = void (ShutterPanel::*)(PanelState&);
    struct Row { Action a; const char* hex; } rows[] = {
        {&ShutterPanel::onOnline, "EE"}, {&ShutterPanel::onStatus, "CC"},
        {&ShutterPanel::onReset, "FB"}, {&ShutterPanel::onGetControllerInfo, "FD"},
        {&ShutterPanel::onPowerOff, "CF"}, {&ShutterPanel::onPowerOn, "CE"},
        {&ShutterPanel::onOpen, "AA"}, {&ShutterPanel::onClose, "AC"},
        {&ShutterPanel::onFast, "DC"}, {&ShutterPanel::onSoft, "DD"},
        {&ShutterPanel::onStop, "BF"},
    };
    for (const auto& r : rows) {
        Panel t;
        (t.panel.*r.a)(t.s);
        EXPECT_EQ(t.sink.hex(), (std::vector<std::string>{r.hex}));
        EXPECT_TRUE(t.prompter.warnings.empty());
    }
}

TEST(LineCommands, ResetThenCarriageReturnRequestsStatusOnce) {
    Panel t;
    t.panel.onReset(t.s);
    t.panel.onPortRxChar(t.s, 0xFB, 1);
    t.panel.onPortRxChar(t.s, 0x0D, 1);
    t.panel.onPortRxChar(t.s, 0x0D, 1);
    EXPECT_EQ(t.sink.hex(), (std::vector<std::string>{"FB", "CC"}));
}

TEST(ShutterMode, FastAndSoftSetLabelsAndCycle) {
    Panel t;
    t.panel.onSoft(t.s);
    EXPECT_EQ(t.s.openingLabel, "70 ms");
    EXPECT_EQ(t.s.cycleLabel, "Cycle Time  -  00 : 00 : 00 : 140 : 0");
    t.s.ndSteps = 37;
    t.s.ndCaption = "Neutral Density - 37";
    t.panel.onFast(t.s);
    EXPECT_EQ(t.s.ndCaption, "Neutral Density");
    EXPECT_EQ(t.s.closingLabel, "12 ms");
    EXPECT_EQ(t.s.ndSteps, 37);
    EXPECT_EQ(t.s.cycleLabel, "Cycle Time  -  00 : 00 : 00 : 024 : 0");
}

TEST(ShutterMode, NeutralDensityStepsTable) {
    struct Row { const char* text; const char* label; const char* cycle; const char* hex; int steps; } rows[] = {
        {"1", "0.3 ms", "00 : 00 : 00 : 000 : 6", "DE 01", 1},
        {"2", "0.5 ms", "00 : 00 : 00 : 001 : 0", "DE 02", 2},
        {"15", "4.0 ms", "00 : 00 : 00 : 008 : 0", "DE 0F", 15},
        {"18", "4.8 ms", "00 : 00 : 00 : 009 : 6", "DE 12", 18},
        {"144", "38.0 ms", "00 : 00 : 00 : 076 : 0", "DE 90", 144},
        {"37", "9.8 ms", "00 : 00 : 00 : 019 : 6", "DE 25", 37},
        {"abc", "0.0 ms", "00 : 00 : 00 : 000 : 0", "DE 00", 0},
        {"12xyz", "3.2 ms", "00 : 00 : 00 : 006 : 4", "DE 0C", 12},
        {"54", "14.3 ms", "00 : 00 : 00 : 028 : 6", "DE 36", 54},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        Panel t;
        t.s.shutterMode = 2;  // the click has checked the radio
        t.prompter.ndAnswers.push_back(std::string(r.text));
        t.panel.onNeutralDensity(t.s);
        EXPECT_EQ(t.s.ndCaption, "Neutral Density - " + std::to_string(r.steps));
        EXPECT_EQ(t.s.openingLabel, r.label);
        EXPECT_EQ(t.s.closingLabel, r.label);
        EXPECT_EQ(t.s.cycleLabel, std::string("Cycle Time  -  ") + r.cycle);
        EXPECT_EQ(t.sink.hex(), (std::vector<std::string>{r.hex}));
        EXPECT_EQ(t.s.ndSteps, r.steps);
    }
}

TEST(ShutterMode, CancelledStepsDialogSendsNothing) {
    Panel t;
    t.s.shutterMode = 2;
    t.panel.onNeutralDensity(t.s);
    EXPECT_TRUE(t.sink.sent.empty());
    EXPECT_EQ(t.s.ndCaption, "Neutral Density");
    EXPECT_EQ(t.s.openingLabel, "12 ms");
    EXPECT_EQ(t.s.shutterMode, 2);
}

TEST(ShutterMode, StepsDialogCheck) {
    struct Row { const char* text; const char* message; } rows[] = {
        {"", msg::kNoSteps}, {"145", msg::kStepsTooMany}, {"99999999999999", msg::kStepsTooMany},
        {"-3", msg::kNegativeSteps}, {"144", nullptr}, {"0", nullptr}, {"abc", nullptr}, {" 7x", nullptr},
    };
    for (const auto& r : rows) {
        const auto m = checkNdSteps(r.text);
        if (r.message) {
            EXPECT_EQ(m.value_or("<passes>"), r.message) << r.text;
        } else {
            EXPECT_FALSE(m) << r.text;
        }
    }
}

TEST(TriggerAndSync, CheckBoxesFollowTheRadioGroups) {
    Panel t;
    t.s.triggerMode = 1;
    t.panel.onTriggerPulse(t.s);
    EXPECT_EQ(t.s.triggerMode, -1);
    EXPECT_FALSE(t.s.triggerPulseChecked);
    t.panel.onTriggerPulse(t.s);
    EXPECT_EQ(t.s.triggerMode, 0);
    EXPECT_TRUE(t.s.triggerPulseChecked);
    t.panel.onTriggerRadio(t.s, 3);
    t.s.syncMode = -1;
    t.s.syncPulseChecked = false;
    t.panel.onSyncPulse(t.s);
    EXPECT_EQ(t.s.syncMode, 1);
    EXPECT_TRUE(t.s.syncPulseChecked);
    t.panel.onSyncPulse(t.s);
    EXPECT_EQ(t.s.syncMode, -1);
    t.panel.onSyncRadio(t.s, 1);
    EXPECT_TRUE(t.s.syncPulseChecked);
    t.panel.onSyncRadio(t.s, 0);
    EXPECT_EQ(t.sink.hex(), (std::vector<std::string>{"FA A0", "FA A1", "FA A4", "FA B2", "FA B0", "FA B2", "FA B1"}));
}

TEST(TimerEditor, FieldChecksRefuseOutOfRangeWithTheFieldsMessage) {
    struct Row { int field; const char* typed; const char* hours; const char* message; const char* left; int slider; } rows[] = {
        {kHours, "6", "", msg::fieldLimitMessage(kHours), "", 0},
        {kHours, "-1", "", msg::fieldLimitMessage(kHours), "", 0},
        {kHours, "4", "", nullptr, "4", 4},
        {kMinutes, "60", "", msg::fieldLimitMessage(kMinutes), "", 0},
        {kMinutes, "59", "", nullptr, "59", 59},
        {kMinutes, "-3", "", msg::fieldLimitMessage(kMinutes), "", 0},
        {kSeconds, "07", "", nullptr, "07", 7},
        {kMilliseconds, "1000", "", msg::fieldLimitMessage(kMilliseconds), "", 0},
        {kMilliseconds, "999x", "", nullptr, "999x", 999},
        {kTenths, "10", "", msg::fieldLimitMessage(kTenths), "", 0},
        {kSeconds, "1", "5", msg::kTimerMax, "", 0},
        {kTenths, "0", "5", msg::kTimerMax, "", 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.typed) + " in field " + std::to_string(r.field));
        Panel t;
        if (r.field != kHours) t.s.editedTime.hours = r.hours;
        t.s.editedTime.field(r.field) = r.typed;
        t.panel.onTimeFieldEdited(t.s, r.field);
        if (r.message) {
            ASSERT_EQ(t.prompter.warnings.size(), 1u);
            EXPECT_EQ(t.prompter.warnings[0], r.message);
        } else {
            EXPECT_TRUE(t.prompter.warnings.empty());
        }
        EXPECT_EQ(t.s.editedTime.field(r.field), r.left);
        EXPECT_EQ(t.s.sliders[static_cast<std::size_t>(r.field)], r.slider);
    }
}

TEST(TimerEditor, HoursAtFiveEmptiesTheOtherFields) {
    Panel t;
    t.s.editedTime = {"5", "10", "20", "300", "4"};
    t.s.sliders = {0, 10, 20, 300, 4};
    t.panel.onTimeFieldEdited(t.s, kHours);
    EXPECT_EQ(t.s.editedTime, (TimerValue{"5", "", "", "", ""}));
    EXPECT_EQ(t.s.sliders, (std::array<int, 5>{5, 0, 0, 0, 0}));
    EXPECT_TRUE(t.prompter.warnings.empty());
}

TEST(TimerEditor, SliderReleases) {
    Panel t;
    t.s.editedTime = {"", "3", "4", "5", "6"};
    t.s.sliders[kHours] = 4;
    t.panel.onSliderReleased(t.s, kHours);
    EXPECT_EQ(t.s.editedTime, (TimerValue{"4", "3", "4", "5", "6"}));
    t.s.sliders[kMilliseconds] = 250;
    t.panel.onSliderReleased(t.s, kMilliseconds);
    EXPECT_EQ(t.s.editedTime.milliseconds, "250");
    t.s.sliders[kHours] = 5;
    t.panel.onSliderReleased(t.s, kHours);
    EXPECT_EQ(t.s.editedTime, (TimerValue{"5", "", "", "", ""}));
    t.s.sliders[kSeconds] = 30;
    t.panel.onSliderReleased(t.s, kSeconds);
    EXPECT_EQ(t.s.sliders[kSeconds], 0);
    EXPECT_EQ(t.s.editedTime.seconds, "");
    EXPECT_EQ(t.prompter.warnings, (std::vector<std::string>{msg::kTimerMax}));
}

TEST(TimerEditor, ComboShowsTheStoredValueAndDropsTyping) {
    Panel t;
    t.s.delayTime = {"0", "1", "2", "3", "4"};
    t.s.exposureTime = {"1", "5", "7", "456", "7"};
    t.s.editedTime = {"3", "3", "3", "3", "3"};
    t.s.timerSelectIndex = 1;
    t.panel.showSelectedTimer(t.s);
    EXPECT_EQ(t.s.editedTime, t.s.exposureTime);
    EXPECT_EQ(t.s.sliders, (std::array<int, 5>{1, 5, 7, 456, 7}));
    t.s.timerSelectIndex = 2;
    t.panel.showSelectedTimer(t.s);
    EXPECT_EQ(t.s.editedTime, t.s.delayTime);
    EXPECT_TRUE(t.sink.sent.empty());
}

TEST(TimerTransfer, StoresShowsAndSends) {
    struct Row { int select; TimerValue edited; const char* hex; const char* delayLabel; const char* exposureLabel; const char* cycle; } rows[] = {
        {1, {"1", "2", "3", "456", "7"}, "FA 21 02 03 45 67", "00 : 00 : 00 : 000 : 0", "01 : 02 : 03 : 456 : 7", "01 : 02 : 03 : 480 : 7"},
        {0, {"0", "0", "0", "5", "0"}, "FA 10 00 00 00 50", "00 : 00 : 00 : 005 : 0", "00 : 00 : 00 : 000 : 0", "00 : 00 : 00 : 029 : 0"},
        {0, {"5", "", "", "", ""}, "FA 15 00 00 00 00", "05 : 00 : 00 : 000 : 0", "00 : 00 : 00 : 000 : 0", "05 : 00 : 00 : 024 : 0"},
        // No selection and the empty item are the delay, consistently.
        {-1, {"", "", "1", "", ""}, "FA 10 00 01 00 00", "00 : 00 : 01 : 000 : 0", "00 : 00 : 00 : 000 : 0", "00 : 00 : 01 : 024 : 0"},
        {2, {"", "", "", "", ""}, "FA 10 00 00 00 00", "00 : 00 : 00 : 000 : 0", "00 : 00 : 00 : 000 : 0", "00 : 00 : 00 : 024 : 0"},
    };
    for (const auto& r : rows) {
        Panel t;
        t.s.timerSelectIndex = r.select;
        t.s.editedTime = r.edited;
        t.panel.onSetTimer(t.s);
        EXPECT_EQ(t.sink.hex(), (std::vector<std::string>{r.hex}));
        EXPECT_EQ(t.s.delayLabel, r.delayLabel);
        EXPECT_EQ(t.s.exposureLabel, r.exposureLabel);
        EXPECT_EQ(t.s.cycleLabel, std::string("Cycle Time  -  ") + r.cycle);
        EXPECT_EQ(r.select == 1 ? t.s.exposureTime : t.s.delayTime, r.edited);
    }
}

TEST(TimerTransfer, OutOfRangeTextFromAFileIsNotSent) {
    Panel t;
    t.s.editedTime = {"", "-3", "", "", ""};
    t.panel.onSetTimer(t.s);
    EXPECT_TRUE(t.sink.sent.empty());
    EXPECT_EQ(t.prompter.warnings, (std::vector<std::string>{msg::fieldLimitMessage(kMinutes)}));
    EXPECT_EQ(t.s.delayTime, TimerValue{});
}

TEST(RunConfiguration, SendToController) {
    struct Row { const char* repeat; const char* hex; const char* after; } rows[] = {
        {"300", "FA F0 01 2C", "300"}, {"65000", "FA F0 FD E8", "65000"},
        {"65001", "FA F0 FF FF", "Continuous"}, {"Continuous", "FA F0 FF FF", "Continuous"},
        {"", "FA F0 00 00", ""}, {"12abc", "FA F0 00 0C", "12abc"},
    };
    for (const auto& r : rows) {
        Panel t;
        t.s.repeatText = r.repeat;
        t.panel.onSendRepeat(t.s);
        EXPECT_EQ(t.sink.hex(), (std::vector<std::string>{r.hex}));
        EXPECT_EQ(t.s.repeatText, r.after);
        EXPECT_EQ(t.s.leftCycleText, r.after);
    }
}

TEST(RunConfiguration, NegativeRepeatIsRefused) {
    Panel t;
    t.s.repeatText = "-5";
    t.panel.onSendRepeat(t.s);
    t.panel.onApply(t.s);
    EXPECT_TRUE(t.sink.sent.empty());
    EXPECT_EQ(t.prompter.warnings, (std::vector<std::string>{msg::kNegativeRepeat, msg::kNegativeRepeat}));
    EXPECT_EQ(t.panel.protocol().applyReplyCount, -1);
}

TEST(RunConfiguration, GoAndTriggerNeedARepeatNumber) {
    Panel t;
    t.s.runningOption = 2;
    t.panel.onRunningOption(t.s, 2);
    EXPECT_TRUE(t.sink.sent.empty());
    EXPECT_EQ(t.prompter.warnings, (std::vector<std::string>{msg::kRepeatFirst}));
    EXPECT_EQ(t.s.runningOption, 2);
    EXPECT_EQ(t.panel.protocol().runMode, 0);
    t.s.repeatText = "3";
    t.panel.onRunningOption(t.s, 1);
    EXPECT_EQ(t.panel.protocol().runMode, 1);
    EXPECT_EQ(t.panel.protocol().runStartPosition, 1);
    t.panel.onRunningOption(t.s, 0);
    EXPECT_EQ(t.sink.hex(), (std::vector<std::string>{"FA F2", "FA F1"}));
}

TEST(RunConfiguration, GoWithRepeatThreeCountsDown) {
    Panel t;
    t.s.repeatText = "3";
    t.panel.onSendRepeat(t.s);
    t.panel.onRunningOption(t.s, 2);  // Close is checked: closes count
    std::vector<std::string> lefts;
    for (int b : {0xAA, 0xAC, 0xAA, 0xAC, 0xAA, 0xAC}) {
        t.panel.onPortRxChar(t.s, b, 1);
        if (b == 0xAC) lefts.push_back(t.s.leftCycleText);
    }
    EXPECT_EQ(lefts, (std::vector<std::string>{"2", "1", "3"}));
    EXPECT_EQ(t.panel.protocol().runMode, 0);
}

TEST(RunConfiguration, ConfirmationsGateTheirCommands) {
    for (bool ok : {true, false}) {
        Panel t;
        t.prompter.confirmAnswer = ok;
        t.panel.onRestoreDefault(t.s);
        t.panel.onSaveConfigToController(t.s);
        EXPECT_EQ(t.prompter.confirms, (std::vector<std::string>{msg::kRestoreDefault, msg::kSaveConfig}));
        const std::vector<std::string> expected = ok ? std::vector<std::string>{"FA C0", "FA C1"} : std::vector<std::string>{};
        EXPECT_EQ(t.sink.hex(), expected);
        EXPECT_EQ(t.panel.protocol().statusRequestPending, ok ? 1 : -1);
    }
}

TEST(RunConfiguration, ApplyStartsTheDownloadWithTheShutterPosition) {
    Panel t;
    t.s.shutterPosition = -1;
    t.panel.onApply(t.s);
    EXPECT_EQ(t.sink.hex(), (std::vector<std::string>{"AC"}));
    EXPECT_EQ(t.panel.protocol().applyReplyCount, 0);
    EXPECT_EQ(t.panel.protocol().applyNextAt, 2);
}

std::string readAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(ConfigFileActions, SaveAfterStartupThenLoadAndTruncatedFile) {
    const auto dir = std::filesystem::temp_directory_path() / ("veltra-panel-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto path = dir / "start.cfg";
    Panel t(false);
    t.prompter.file = path.string();
    t.panel.onSaveConfigFile(t.s);
    const std::string bytes = readAll(path);
    EXPECT_EQ(bytes, std::string("\x01" "1" "\x01" "0" "\x01" "0" "\x01" "0" "\x01" "1" "\x02" "-1", 13) +
                         std::string(10, '\0') + std::string("\x02" "-1" "\x00", 4));
    EXPECT_EQ(bytes.size(), 27u);
    EXPECT_TRUE(t.sink.sent.empty());

    // An ND file loads its captions; a file of seventeen records changes nothing.
    Panel nd(false);
    nd.s.shutterMode = 2;
    nd.s.ndSteps = 144;
    nd.s.runningOption = 2;
    nd.s.repeatText = "12";
    nd.prompter.file = (dir / "nd.cfg").string();
    nd.panel.onSaveConfigFile(nd.s);
    Panel load(false);
    load.prompter.file = nd.prompter.file;
    load.panel.onLoadConfigFile(load.s);
    EXPECT_EQ(load.s.ndCaption, "Neutral Density - 144");
    EXPECT_EQ(load.s.openingLabel, "38.00 ms");
    EXPECT_EQ(load.s.cycleLabel, "Cycle Time  -  00 : 00 : 00 : 076 : 0");
    EXPECT_EQ(load.s.runningOption, 2);
    EXPECT_EQ(load.s.leftCycleText, "12");

    std::string shortFile = readAll(dir / "nd.cfg");
    shortFile.resize(shortFile.size() - 3);  // drops the last record
    std::ofstream(dir / "short.cfg", std::ios::binary) << shortFile;
    Panel broken(false);
    broken.prompter.file = (dir / "short.cfg").string();
    broken.panel.onLoadConfigFile(broken.s);
    EXPECT_EQ(broken.prompter.errors, (std::vector<std::string>{"An attempt was made to access short.cfg past its end."}));
    EXPECT_EQ(broken.s.shutterMode, 0);
    EXPECT_EQ(broken.s.runningOption, -1);
    EXPECT_EQ(broken.s.ndCaption, "Neutral Density");
    EXPECT_TRUE(broken.sink.sent.empty());
    std::filesystem::remove_all(dir);
}

TEST(Log, ClearEmptiesTheLogOnly) {
    Panel t;
    t.panel.onPortRxChar(t.s, 0x05, 1);
    t.s.repeatText = "9";
    t.panel.onClear(t.s);
    EXPECT_TRUE(t.s.log.empty());
    EXPECT_EQ(t.s.repeatText, "9");
}

}  // namespace
}  // namespace veltra
