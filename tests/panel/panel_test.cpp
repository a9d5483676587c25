#include "panel/config_file.h"
#include "panel/shutter_panel.h"
#include "support/fakes.h"
#include "support/temp_file.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

#include <gtest/gtest.h>

namespace veltra {
namespace {

using Strings = std::vector<std::string>;

struct Panel {
    test::RecordingSink sink;
    test::ScriptedPrompter prompter;
    ShutterPanel panel{sink, prompter};
    PanelState s;
    explicit Panel(bool connected = true) {
        panel.initialise(s);
        if (connected) panel.portOpenedAtStartup(s, 1);
        sink.sent.clear();
    }
    const ReplyDecoder& d() const { return panel.decoder(); }
};

// One operator action: the panel before it, the action, and what must follow.
struct Scenario {
    const char* name;
    std::function<void(Panel&)> act;
    Strings sent;
    Strings warnings;
    std::function<void(Panel&)> check = [](Panel&) {};
};

void run(const std::vector<Scenario>& scenarios) {
    for (const Scenario& sc : scenarios) {
        SCOPED_TRACE(sc.name);
        Panel t;
        sc.act(t);
        EXPECT_EQ(t.sink.hex(), sc.sent);
        EXPECT_EQ(t.prompter.warnings, sc.warnings);
        sc.check(t);
    }
}

TEST(Startup, OpenedPortsGetOnlineTheLastIsActiveAndClosedOnesSayWhy) {
    Panel t(false);
    t.panel.portOpenedAtStartup(t.s, 1);
    t.panel.portFailedAtStartup(t.s, 2, "no such device");
    t.panel.portOpenedAtStartup(t.s, 3);
    EXPECT_EQ(std::tuple(t.sink.sent.size(), t.sink.sent[1].port, t.panel.activePort(), t.d().awaitingOnlineReply()),
              std::tuple(2u, 3, 3, true));
    EXPECT_EQ(t.s.ports[1], (PortView{"Disconnected", false, "no such device"}));
    EXPECT_EQ(t.s.ports[2], (PortView{"Connected", true, ""}));
    // Close, Fast, Enable on High and Low for Open, both boxes checked.
    EXPECT_EQ(std::tuple(t.s.shutterPosition, t.s.shutterMode, t.s.triggerMode, t.s.syncMode, t.s.triggerPulseChecked, t.s.syncPulseChecked),
              std::tuple(1, 0, 0, 1, true, true));
    t.panel.portReopened(t.s, 2, true, "");
    EXPECT_EQ(t.s.ports[1], (PortView{"Connected", true, ""}));
    EXPECT_EQ(t.panel.activePort(), 3);  // a reopened port becomes active only when none was
    t.panel.portReopened(t.s, 2, false, "busy");
    EXPECT_EQ(t.s.ports[1], (PortView{"Disconnected", false, "busy"}));
    Panel none(false);
    none.panel.portReopened(none.s, 4, true, "");
    EXPECT_EQ(none.panel.activePort(), 4);
}

TEST(Commands, EveryControlSendsItsBytesAndKeepsThePanelInStep) {
    run({
        {"online", [](Panel& t) { t.panel.onOnline(t.s); }, {"EE"}, {}},
        {"status", [](Panel& t) { t.panel.onStatus(t.s); }, {"CC"}, {}},
        {"info", [](Panel& t) { t.panel.onGetControllerInfo(t.s); }, {"FD"}, {}},
        {"power", [](Panel& t) { t.panel.onPowerOff(t.s); t.panel.onPowerOn(t.s); }, {"CF", "CE"}, {}},
        {"stop", [](Panel& t) { t.panel.onStop(t.s); }, {"BF"}, {}},
        {"open close", [](Panel& t) { t.panel.onOpen(t.s); t.panel.onClose(t.s); t.panel.onClose(t.s); }, {"AA", "AC", "AC"}, {},
         [](Panel& t) { EXPECT_EQ(t.s.shutterPosition, 1); }},
        {"reset then CR asks status once",
         [](Panel& t) { t.panel.onReset(t.s); for (int b : {0xFB, 0x0D, 0x0D}) t.panel.onPortRxChar(t.s, b, 1); }, {"FB", "CC"}, {}},
        {"soft", [](Panel& t) { t.panel.onSoft(t.s); }, {"DD"}, {},
         [](Panel& t) { EXPECT_EQ(t.s.openingLabel, "70 ms"); EXPECT_EQ(t.s.cycleLabel, "Cycle Time  -  00 : 00 : 00 : 140 : 0"); }},
        {"fast after nd keeps the steps", [](Panel& t) { t.s.ndSteps = 37; t.s.ndCaption = "Neutral Density - 37"; t.panel.onFast(t.s); }, {"DC"}, {},
         [](Panel& t) { EXPECT_EQ(t.s.ndCaption, "Neutral Density"); EXPECT_EQ(t.s.closingLabel, "12 ms"); EXPECT_EQ(t.s.ndSteps, 37); }},
        {"nd cancelled after soft: soft again, nothing sent", [](Panel& t) { t.s.shutterMode = 2; t.panel.onNeutralDensity(t.s, 1); }, {}, {},
         [](Panel& t) { EXPECT_EQ(std::tuple(t.s.ndCaption, t.s.openingLabel, t.s.shutterMode), std::tuple("Neutral Density", "12 ms", 1)); }},
        {"nd cancelled with no mode shown: none again", [](Panel& t) { t.s.shutterMode = 2; t.panel.onNeutralDensity(t.s, -1); }, {}, {},
         [](Panel& t) { EXPECT_EQ(t.s.shutterMode, -1); }},
        {"nd cancelled after nd 37: caption and labels kept", [](Panel& t) {
             t.prompter.ndAnswers.push_back("37"); t.panel.onNeutralDensity(t.s, 0); t.panel.onNeutralDensity(t.s, 2); }, {"DE 25"}, {},
         [](Panel& t) { EXPECT_EQ(std::tuple(t.s.ndCaption, t.s.openingLabel, t.s.shutterMode), std::tuple("Neutral Density - 37", "9.8 ms", 2)); }},
        {"trigger box off then on", [](Panel& t) { t.s.triggerMode = 1; t.panel.onTriggerPulse(t.s); t.panel.onTriggerPulse(t.s); }, {"FA A0", "FA A1"}, {},
         [](Panel& t) { EXPECT_EQ(t.s.triggerMode, 0); EXPECT_TRUE(t.s.triggerPulseChecked); }},
        {"trigger radio checks the box", [](Panel& t) { t.s.triggerPulseChecked = false; t.panel.onTriggerRadio(t.s, 3); }, {"FA A4"}, {},
         [](Panel& t) { EXPECT_TRUE(t.s.triggerPulseChecked); }},
        {"sync box on picks low for open", [](Panel& t) { t.s.syncMode = -1; t.s.syncPulseChecked = false; t.panel.onSyncPulse(t.s); t.panel.onSyncPulse(t.s); t.panel.onSyncRadio(t.s, 0); },
         {"FA B2", "FA B0", "FA B1"}, {}, [](Panel& t) { EXPECT_EQ(t.s.syncMode, 0); EXPECT_TRUE(t.s.syncPulseChecked); }},
        {"no port: nothing sent, operator told", [](Panel& t) { t.panel.setActivePort(0); t.panel.onStatus(t.s); }, {}, {msg::kNoPort}},
        {"closed active port: not sent, no status pending", [](Panel& t) { t.sink.closed.insert(1); t.panel.onReset(t.s); }, {},
         {"COM1 is not connected: the command was not sent."}, [](Panel& t) { EXPECT_FALSE(t.d().statusRequestPending()); }},
    });
}

TEST(Commands, NeutralDensityStepsTable) {
    struct Row { const char* text; const char* label; const char* cycle; const char* hex; } rows[] = {
        {"1", "0.3 ms", "000 : 6", "DE 01"},   {"18", "4.8 ms", "009 : 6", "DE 12"},  // 4.75: halves round up
        {"54", "14.3 ms", "028 : 6", "DE 36"}, {"abc", "0.0 ms", "000 : 0", "DE 00"},
        {"12xyz", "3.2 ms", "006 : 4", "DE 0C"}, {"144", "38.0 ms", "076 : 0", "DE 90"},
    };
    for (const auto& r : rows) {
        Panel t;
        t.prompter.ndAnswers.push_back(std::string(r.text));
        t.panel.onNeutralDensity(t.s, 0);
        EXPECT_EQ(std::tuple(t.s.openingLabel, t.s.closingLabel, t.s.cycleLabel, t.sink.last()),
                  std::tuple(r.label, r.label, std::string("Cycle Time  -  00 : 00 : 00 : ") + r.cycle, r.hex)) << r.text;
    }
    struct Check { const char* text; const char* message; } checks[] = {
        {"", msg::kNoSteps}, {"145", msg::kStepsTooMany}, {"99999999999999", msg::kStepsTooMany},
        {"-3", msg::kNegativeSteps}, {"144", nullptr}, {"0", nullptr}, {" 7x", nullptr},
    };
    for (const auto& c : checks) EXPECT_EQ(checkNdSteps(c.text).value_or(""), c.message ? c.message : "") << c.text;
}

TEST(TimerEditor, FieldChecksRefuseOutOfRangeWithTheFieldsMessage) {
    struct Row { int field; const char* typed; const char* hours; const char* message; const char* left; int slider; } rows[] = {
        {kHours, "6", "", msg::fieldLimitMessage(kHours), "", 0},
        {kMinutes, "60", "", msg::fieldLimitMessage(kMinutes), "", 0},
        {kMinutes, "-3", "", msg::fieldLimitMessage(kMinutes), "", 0},
        {kMinutes, "59", "", nullptr, "59", 59},
        {kSeconds, "07", "", nullptr, "07", 7},
        {kMilliseconds, "1000", "", msg::fieldLimitMessage(kMilliseconds), "", 0},
        {kMilliseconds, "999x", "", nullptr, "999x", 999},
        {kTenths, "10", "", msg::fieldLimitMessage(kTenths), "", 0},
        {kSeconds, "1", "5", msg::kTimerMax, "", 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.typed);
        Panel t;
        t.s.editedTime.hours = r.hours;
        t.s.editedTime.field(r.field) = r.typed;
        t.panel.onTimeFieldEdited(t.s, r.field);
        EXPECT_EQ(t.prompter.warnings, r.message ? Strings{r.message} : Strings{});
        EXPECT_EQ(std::tuple(t.s.editedTime.field(r.field), t.s.sliders[static_cast<std::size_t>(r.field)]), std::tuple(r.left, r.slider));
    }
}

TEST(TimerEditor, HoursAtFiveAndSliderReleases) {
    Panel t;
    t.s.editedTime = {"5", "10", "20", "300", "4"};
    t.s.sliders = {0, 10, 20, 300, 4};
    t.panel.onTimeFieldEdited(t.s, kHours);
    EXPECT_EQ(t.s.editedTime, (TimerValue{"5", "", "", "", ""}));
    EXPECT_EQ(t.s.sliders, (std::array<int, 5>{5, 0, 0, 0, 0}));
    t.s.sliders[kSeconds] = 30, t.panel.onSliderReleased(t.s, kSeconds);  // refused while hours is 5
    EXPECT_EQ(std::tuple(t.s.sliders[kSeconds], t.prompter.warnings), std::tuple(0, Strings{msg::kTimerMax}));
    t.s.sliders[kHours] = 4, t.panel.onSliderReleased(t.s, kHours);
    t.s.sliders[kMilliseconds] = 250, t.panel.onSliderReleased(t.s, kMilliseconds);
    EXPECT_EQ(t.s.editedTime, (TimerValue{"4", "", "", "250", ""}));
}

TEST(TimerTransfer, StoresShowsAndSends) {
    struct Row { int select; TimerValue edited; const char* hex; const char* delay; const char* exposure; const char* cycle; } rows[] = {
        {1, {"1", "2", "3", "456", "7"}, "FA 21 02 03 45 67", "00 : 00 : 00 : 000 : 0", "01 : 02 : 03 : 456 : 7", "01 : 02 : 03 : 480 : 7"},
        {0, {"0", "0", "0", "5", "0"}, "FA 10 00 00 00 50", "00 : 00 : 00 : 005 : 0", "00 : 00 : 00 : 000 : 0", "00 : 00 : 00 : 029 : 0"},
        // No selection and the empty item are the delay for store, label and selector alike.
        {-1, {"", "", "1", "", ""}, "FA 10 00 01 00 00", "00 : 00 : 01 : 000 : 0", "00 : 00 : 00 : 000 : 0", "00 : 00 : 01 : 024 : 0"},
        {2, {"", "", "", "", ""}, "FA 10 00 00 00 00", "00 : 00 : 00 : 000 : 0", "00 : 00 : 00 : 000 : 0", "00 : 00 : 00 : 024 : 0"},
    };
    for (const auto& r : rows) {
        Panel t;
        t.s.timerSelectIndex = r.select;
        t.s.editedTime = r.edited;
        t.panel.onSetTimer(t.s);
        EXPECT_EQ(std::tuple(t.sink.hex(), t.s.delayLabel, t.s.exposureLabel, t.s.cycleLabel),
                  std::tuple(Strings{r.hex}, r.delay, r.exposure, std::string("Cycle Time  -  ") + r.cycle));
        EXPECT_EQ(r.select == 1 ? t.s.exposureTime : t.s.delayTime, r.edited);
    }
    Panel bad;  // a text that never went through the field checks (a loaded file)
    bad.s.editedTime = {"", "-3", "", "", ""};
    bad.panel.onSetTimer(bad.s);
    EXPECT_EQ(std::tuple(bad.sink.sent.size(), bad.prompter.warnings), std::tuple(0ul, Strings{msg::fieldLimitMessage(kMinutes)}));
}

TEST(RunConfiguration, RepeatRunningOptionsConfirmationsAndApply) {
    const auto repeat = [](const char* text) { return [text](Panel& t) { t.s.repeatText = text; t.panel.onSendRepeat(t.s); }; };
    const auto left = [](const char* text) { return [text](Panel& t) { EXPECT_EQ(t.s.repeatText, text); EXPECT_EQ(t.s.leftCycleText, text); }; };
    run({
        {"65000", repeat("65000"), {"FA F0 FD E8"}, {}, left("65000")},
        {"65001", repeat("65001"), {"FA F0 FF FF"}, {}, left("Continuous")},
        {"continuous", repeat("Continuous"), {"FA F0 FF FF"}, {}, left("Continuous")},
        {"negative refused", [](Panel& t) { t.s.repeatText = "-5"; t.panel.onSendRepeat(t.s); t.panel.onApply(t.s); }, {},
         {msg::kNegativeRepeat, msg::kNegativeRepeat}, [](Panel& t) { EXPECT_FALSE(t.d().applyInProgress()); }},
        {"go without repeat", [](Panel& t) { t.s.runningOption = 2; t.panel.onRunningOption(t.s, 2); }, {}, {msg::kRepeatFirst},
         [](Panel& t) { EXPECT_EQ(t.s.runningOption, 2); EXPECT_EQ(t.d().runMode(), 0); }},
        {"trigger then power up", [](Panel& t) { t.s.repeatText = "3"; t.panel.onRunningOption(t.s, 1); t.panel.onRunningOption(t.s, 0); }, {"FA F2", "FA F1"}, {},
         [](Panel& t) { EXPECT_EQ(t.d().runMode(), 1); }},
        {"confirmed", [](Panel& t) { t.panel.onRestoreDefault(t.s); t.panel.onSaveConfigToController(t.s); }, {"FA C0", "FA C1"}, {},
         [](Panel& t) { EXPECT_EQ(t.prompter.confirms, (Strings{msg::kRestoreDefault, msg::kSaveConfig})); EXPECT_TRUE(t.d().statusRequestPending()); }},
        {"cancelled", [](Panel& t) { t.prompter.confirmAnswer = false; t.panel.onRestoreDefault(t.s); t.panel.onSaveConfigToController(t.s); }, {}, {},
         [](Panel& t) { EXPECT_FALSE(t.d().statusRequestPending()); }},
    });
}

// Saving and loading a whole panel is the end-to-end suite's restart test.
// Loading takes any number the file holds (Apply refuses delay hours 16) and
// sends nothing; a truncated file is refused and leaves the panel as it was.
TEST(ConfigFileActions, LoadingSendsNothingAndATruncatedFileChangesNothing) {
    PanelState saved;
    saved.delayTime.hours = "16";
    const std::string whole = encodeConfig(saved);
    for (const std::size_t cut : {std::size_t{0}, std::size_t{1}}) {
        const auto path = test::uniqueTempPath("veltra-load-", ".cfg");
        std::ofstream(path, std::ios::binary) << whole.substr(0, whole.size() - cut);  // seventeen records
        Panel t;
        t.s.shutterMode = 2;
        t.prompter.file = path.string();
        t.panel.onLoadConfigFile(t.s);
        std::filesystem::remove(path);
        EXPECT_TRUE(t.sink.sent.empty());
        const Strings refused{"An attempt was made to access " + path.filename().string() + " past its end."};
        EXPECT_EQ(std::tuple(t.prompter.errors, t.s.delayTime.hours, t.s.shutterMode),
                  cut == 0 ? std::tuple(Strings{}, std::string("16"), saved.shutterMode) : std::tuple(refused, std::string(), 2));
    }
}

}  // namespace
}  // namespace veltra
