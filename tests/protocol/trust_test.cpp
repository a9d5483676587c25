// What the controller's echo, a closing port and out-of-range values must not
// do: start phantom replies, keep a download going on a new line, or reach
// the controller as bytes no control would send.
#include "panel_harness.h"

#include <functional>

namespace veltra {
namespace {

using test::bytes;
using test::expectFastStatus;
using test::kFastReply;
using test::Panel;
using test::Strings;

// Status asked twice gets the controller's own status both times: no byte
// before it was taken for a reply's start or left expected.
void expectStatusTwice(Panel& t) {
    for (int i = 0; i < 2; ++i) {
        t.panel.onStatus(t.s);
        t.feed(kFastReply);
        expectFastStatus(t);
    }
}

TEST(Echo, CommandsWhoseBytesLookLikeReplyStartsAreOnlyLogged) {
    // The repeats are sent with "Send to Controller"; the bytes are received before the Status reply.
    struct Row { const char* name; Strings repeats; const char* received; } rows[] = {
        {"204 ends in CC", {"204"}, "FA F0 00 CC 0D"},
        {"253 ends in FD", {"253"}, "FA F0 00 FD 0D"},
        {"52428 is CC CC", {"52428"}, "FA F0 CC CC 0D"},
        {"two commands before either echo", {"204", "204"}, "FA F0 00 CC 0D FA F0 00 CC 0D"},
        {"no echo at all", {"204"}, "0D"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Panel t;
        for (const std::string& n : r.repeats) t.repeat(n.c_str());
        t.feed(r.received);
        expectStatusTwice(t);
        EXPECT_EQ(t.s.log.size(), bytes(r.received).size() + 40);
    }
}

// Reset's own carriage return brings the Status, with a command queued behind it.
TEST(Echo, AnEchoedCarriageReturnKeepsNoMeaning) {
    Panel t;
    t.panel.onReset(t.s);
    t.feed("FB");  // the echo of Reset
    t.repeat("13");
    t.feed("FA F0 00 0D");  // the count's 0D is echo, not the controller's CR
    EXPECT_EQ(t.sink.hex(), (Strings{"FB", "FA F0 00 0D"}));
    t.feed("0D");
    EXPECT_EQ(t.sink.last(), "CC");
}

// Online is answered once, by the controller's EE and not by an echoed one;
// the port that answered is the active one.
TEST(Echo, OnlineIsAnsweredOnceAndNotByAnEchoedOnlineByte) {
    Panel t;
    t.panel.portOpenedAtStartup(t.s, 1);
    t.panel.portOpenedAtStartup(t.s, 3);  // awaits the Online echo again
    t.repeat("238");                      // goes to COM3
    t.feed("FA F0 00 EE", 3);
    EXPECT_TRUE(t.d().awaitingOnlineReply());
    EXPECT_EQ(t.rx(0xEE, 3), RxResult::Online);
    EXPECT_EQ(t.s.ports[2].status, "Ready for Veltra");
    EXPECT_EQ(t.rx(0xEE, 1), RxResult::Status);
    EXPECT_EQ(std::tuple(t.panel.activePort(), t.s.ports[0].status, t.s.log.back()), std::tuple(3, "Connected", "238       0xEE"));
}

// Commands sent faster than their answers come: the carriage return that
// closes an earlier command's answer is not the controller's own.
TEST(Echo, ACarriageReturnClosingAnEarlierAnswerNeitherEndsARunNorAnswersReset) {
    Panel go;
    go.repeat("3");
    go.panel.onRunningOption(go.s, 2);
    go.feed("FA F0 00 03 0D FA F3");
    EXPECT_EQ(go.d().runMode(), 2);
    go.feed("AA AC 0D");
    EXPECT_EQ(std::tuple(go.s.leftCycleText, go.d().runMode()), std::tuple(std::string("3"), 0));

    // STOP's closing carriage return ends the run even with more sent behind it.
    Panel burst;
    burst.repeat("3");
    burst.feed("FA F0 00 03 0D");
    burst.panel.onRunningOption(burst.s, 1);
    burst.feed("FA F2 AC");
    burst.panel.onStop(burst.s), burst.panel.onPowerOn(burst.s), burst.panel.onReset(burst.s);
    burst.feed("BF 0D");
    EXPECT_EQ(burst.d().runMode(), 0);
    burst.feed("CE 0D FB");
    EXPECT_EQ(burst.sink.last(), "FB");
    burst.feed("0D");
    EXPECT_EQ(burst.sink.last(), "CC");
}

// A reply answers only the head of the queue: what was sent behind the
// Status or Get Controller Info is still echoed after the reply's own bytes.
TEST(Echo, CommandsQueuedBehindAReplyStayExpectedAfterIt) {
    struct Row { const char* name; void (ShutterPanel::*ask)(PanelState&); const char* reply; } rows[] = {  // echo and reply
        {"status", &ShutterPanel::onStatus, kFastReply},
        {"information", &ShutterPanel::onGetControllerInfo, "FD 56 45 4C 54 52 41 20 53 31 2E 31 32"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Panel t;
        (t.panel.*r.ask)(t.s);
        t.repeat("204");
        t.feed(r.reply);
        t.feed("FA F0 00 CC 0D");
        expectStatusTwice(t);
    }
}

TEST(Echo, AByteOnAnotherPortOrInsideAReplyIsNoEcho) {
    Panel t;
    t.repeat("204");
    t.feed("FA F0 00", 1);
    t.feed("CC", 2);  // another port's CC starts a reply as it always did
    EXPECT_TRUE(t.d().statusReplyInProgress());
}

// ---- a port that closes ends what waited on it -----------------------------

// Lost or reopened in place: either way the flow ends with one log line, and
// the same device back sends nothing of it and decodes Status normally.
TEST(PortClosed, EveryFlowOnThePortEndsWithOneLogLine) {
    // Each row leaves its log line, before ": COM1 closed".
    const struct Row { const char* name; std::function<void(Panel&)> start; std::string line; } rows[] = {
        {"apply", [](Panel& t) { t.panel.onApply(t.s); }, "Apply stopped"},
        {"run", [](Panel& t) { t.s.repeatText = "3"; t.panel.onRunningOption(t.s, 2); }, "Run count stopped"},
        {"status reply", [](Panel& t) { t.panel.onStatus(t.s); t.feed("CC AA DC"); }, "Status reply abandoned"},
        {"information", [](Panel& t) { t.panel.onGetControllerInfo(t.s); t.feed("FD 56 45"); },
         "Controller information abandoned"},
        {"status request", [](Panel& t) { t.panel.onReset(t.s); }, "Status request dropped"},
    };
    for (const Row& r : rows)
        for (const bool lost : {true, false}) {
            SCOPED_TRACE(std::string(r.name) + (lost ? ", lost" : ", reopened"));
            Panel t;
            r.start(t);
            const std::size_t sent = t.sink.sent.size(), logged = t.s.log.size();
            t.panel.portLost(t.s, 3, "device gone");  // another port: the flow goes on
            EXPECT_EQ(t.s.log.size(), logged);
            if (lost) {
                t.panel.portLost(t.s, 1, "device gone");
                EXPECT_EQ(t.s.ports[0].status, "Disconnected");
            }
            t.panel.portReopened(t.s, 1, true, "");
            EXPECT_EQ(std::tuple(t.s.log.back(), t.s.log.size()), std::tuple(r.line + (lost ? ": COM1 closed" : ": COM1 reopened"), logged + 1));
            t.feed("AC 0D DC 0D FA A1 0D 0D");
            EXPECT_EQ(std::tuple(t.sink.sent.size(), t.d().runMode(), t.d().applyInProgress()), std::tuple(sent, 0, false));
            expectStatusTwice(t);
        }
}

// ---- Apply sends nothing a control would refuse ------------------------------

TEST(ApplyChecks, AValueNoControlWouldSendIsRefusedBeforeTheFirstByte) {
    // An empty message: the download starts.
    struct Row { const char* name; std::function<void(PanelState&)> change; std::string message; } rows[] = {
        {"delay hours 16", [](PanelState& s) { s.delayTime.hours = "16"; }, msg::fieldLimitMessage(kHours)},
        {"delay 5 hours", [](PanelState& s) { s.delayTime = {"5", "0", "0", "0", "0"}; }, ""},
        {"exposure minutes 60", [](PanelState& s) { s.exposureTime.minutes = "60"; }, msg::fieldLimitMessage(kMinutes)},
        {"exposure seconds 59", [](PanelState& s) { s.exposureTime.seconds = "59"; }, ""},
        {"exposure tenths -1", [](PanelState& s) { s.exposureTime.tenths = "-1"; }, msg::fieldLimitMessage(kTenths)},
        {"delay ms 1000", [](PanelState& s) { s.delayTime.milliseconds = "1000"; }, msg::fieldLimitMessage(kMilliseconds)},
        {"past five hours", [](PanelState& s) { s.delayTime = {"5", "0", "0", "1", "0"}; }, msg::kTimerMax},
        {"trigger 4", [](PanelState& s) { s.triggerMode = 4; }, msg::kBadTrigger},
        {"trigger 3", [](PanelState& s) { s.triggerMode = 3; }, ""},
        {"trigger -2", [](PanelState& s) { s.triggerMode = -2; }, msg::kBadTrigger},
        {"sync 2", [](PanelState& s) { s.syncMode = 2; }, msg::kBadSync},
        {"mode 3", [](PanelState& s) { s.shutterMode = 3; }, msg::kBadMode},
        {"no mode", [](PanelState& s) { s.shutterMode = -1; }, ""},
        {"steps 145", [](PanelState& s) { s.shutterMode = 2; s.ndSteps = 145; }, msg::kStepsTooMany},
        {"steps 144", [](PanelState& s) { s.shutterMode = 2; s.ndSteps = 144; }, ""},
        {"steps -1", [](PanelState& s) { s.shutterMode = 2; s.ndSteps = -1; }, msg::kNegativeSteps},
        {"position 2", [](PanelState& s) { s.shutterPosition = 2; }, msg::kBadPosition},
        {"running option 3", [](PanelState& s) { s.runningOption = 3; }, msg::kBadRunningOption},
        {"repeat -5", [](PanelState& s) { s.repeatText = "-5"; }, msg::kNegativeRepeat},
        {"repeat 65536", [](PanelState& s) { s.repeatText = "65536"; }, msg::kRepeatTooLarge},
        {"repeat 65535", [](PanelState& s) { s.repeatText = "65535"; }, ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Panel t;
        t.s.delayTime = t.s.exposureTime = {"0", "0", "1", "0", "0"};
        t.s.repeatText = "3";
        r.change(t.s);
        t.panel.onApply(t.s);
        EXPECT_EQ(t.prompter.warnings, r.message.empty() ? Strings{} : Strings{r.message});
        EXPECT_EQ(std::tuple(t.sink.sent.size(), t.d().applyInProgress()), std::tuple(r.message.empty() ? 1ul : 0ul, r.message.empty()));
    }
}

TEST(ApplyChecks, ARepeatTextTurnedNegativeDuringTheDownloadStopsIt) {
    Panel t;
    t.s.delayTime = t.s.exposureTime = {"0", "0", "1", "0", "0"};
    t.s.repeatText = "3";
    t.panel.onApply(t.s);
    t.feed("AC 0D DC 0D FA A1 0D FA B2 0D");
    t.s.repeatText = "-5";
    t.feed("FA 10 00 01 00 00 0D FA 20 00 01 00 00 0D");
    EXPECT_EQ(std::tuple(t.d().applyInProgress(), t.sink.hex().back(), t.s.log.back()),
              std::tuple(false, "FA 20 00 01 00 00", std::string("Apply stopped: ") + msg::kNegativeRepeat));
}

}  // namespace
}  // namespace veltra
