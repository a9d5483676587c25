#include "sim/sim_controller.h"
#include "sim/sim_test_util.h"

#include <gtest/gtest.h>

namespace veltra {
namespace {

using namespace simtest;

// A controller on a fake clock.
class SimControllerTest : public ::testing::Test {
protected:
    // Sends `cmd` at the current time and returns what is answered at once.
    Bytes send(std::string_view cmd) {
        const Bytes b = hx(cmd);
        c.receive(b, t);
        return concat(c.advance(t));
    }
    Bytes status() {
        const Bytes r = send("CC");
        return Bytes(r.begin() + 1, r.end());
    }
    // Everything sent from now until `until`, with times.
    std::vector<SimOutput> runUntil(SimTime until) {
        t = until;
        return c.advance(t);
    }

    SimController c;
    SimTime t{0};
};

struct ReplyRow {
    const char* command;
    const char* reply;
};

TEST_F(SimControllerTest, everyCommand_isAnsweredAtOnce) {
    const ReplyRow rows[] = {
        {"EE", "EE"},
        {"FD", "FD 56 45 4C 54 52 41 20 53 31 2E 31 32"},  // "VELTRA S" "1.12"
        {"FB", "FB"},                                      // its 0D follows later
        {"AA", "AA 0D"},
        {"AC", "AC 0D"},
        {"BF", "BF 0D"},
        {"CE", "CE 0D"},
        {"CF", "CF 0D"},
        {"DC", "DC 0D"},
        {"DD", "DD 0D"},
        {"DE 90", "DE 90 0D"},
        {"FA A0", "FA A0 0D"},
        {"FA A1", "FA A1 0D"},
        {"FA A4", "FA A4 0D"},
        {"FA B0", "FA B0 0D"},
        {"FA B2", "FA B2 0D"},
        {"FA C0", "FA C0 0D"},
        {"FA C1", "FA C1 0D"},
        {"FA F0 01 2C", "FA F0 01 2C 0D"},
        {"FA 10 00 00 00 50", "FA 10 00 00 00 50 0D"},
        {"FA 21 02 03 45 67", "FA 21 02 03 45 67 0D"},
        {"FA F1", "FA F1 0D"},
        // The utility follows these runs from the moment it sends them: a
        // carriage return would end its counting at once.
        {"FA F2", "FA F2"},
        {"FA F3", "FA F3"},
    };
    for (const ReplyRow& row : rows) {
        SCOPED_TRACE(row.command);
        SimController fresh;
        fresh.receive(hx(row.command), t);
        EXPECT_EQ(hexText(concat(fresh.advance(t))), row.reply);
    }
}

TEST_F(SimControllerTest, statusReply_isEchoAndNineteenBytes) {
    const Bytes r = send("CC");
    ASSERT_EQ(r.size(), 20u);
    EXPECT_EQ(r[0], 0xCC);
    const auto st = c.statusBytes();
    EXPECT_EQ(Bytes(r.begin() + 1, r.end()), Bytes(st.begin(), st.end()));
}

struct StatusRow {
    const char* commands;  // sent before the Status request
    const char* status;    // the 19 bytes after the echo
};

TEST_F(SimControllerTest, statusReply_reflectsEachCommand) {
    const StatusRow rows[] = {
        // Factory: Close, Fast, trigger and sync off, zero timers, F0, repeat 1,
        // position 18 unused (0x00).
        {"", "AC DC 00 A0 B0 00 00 00 00 00 00 00 00 00 00 F0 00 01 00"},
        {"AA", "AA DC 00 A0 B0 00 00 00 00 00 00 00 00 00 00 F0 00 01 00"},
        {"AA AC", "AC DC 00 A0 B0 00 00 00 00 00 00 00 00 00 00 F0 00 01 00"},
        {"DD", "AC DD 00 A0 B0 00 00 00 00 00 00 00 00 00 00 F0 00 01 00"},
        {"FA A3", "AC DC 00 A3 B0 00 00 00 00 00 00 00 00 00 00 F0 00 01 00"},
        {"FA A3 FA A0", "AC DC 00 A0 B0 00 00 00 00 00 00 00 00 00 00 F0 00 01 00"},
        {"FA B2", "AC DC 00 A0 B2 00 00 00 00 00 00 00 00 00 00 F0 00 01 00"},
        // Exposure 1 h 2 min 3 s 456.7 ms: the flag nibble stays with the hours.
        {"FA 21 02 03 45 67", "AC DC 00 A0 B0 00 00 00 00 00 21 02 03 45 67 F0 00 01 00"},
        {"FA 10 00 00 00 50", "AC DC 00 A0 B0 10 00 00 00 50 00 00 00 00 00 F0 00 01 00"},
        {"FA 15 00 00 00 00", "AC DC 00 A0 B0 15 00 00 00 00 00 00 00 00 00 F0 00 01 00"},
        // A zero timer reports 0x00, flag included.
        {"FA 10 00 00 00 50 FA 10 00 00 00 00",
         "AC DC 00 A0 B0 00 00 00 00 00 00 00 00 00 00 F0 00 01 00"},
        {"FA 20 00 00 00 00", "AC DC 00 A0 B0 00 00 00 00 00 00 00 00 00 00 F0 00 01 00"},
        {"FA F1", "AC DC 00 A0 B0 00 00 00 00 00 00 00 00 00 00 F1 00 01 00"},
        {"FA F2", "AC DC 00 A0 B0 00 00 00 00 00 00 00 00 00 00 F2 00 01 00"},
        {"FA F0 01 2C", "AC DC 00 A0 B0 00 00 00 00 00 00 00 00 00 00 F0 01 2C 00"},
        {"FA F0 FF FF", "AC DC 00 A0 B0 00 00 00 00 00 00 00 00 00 00 F0 FF FF 00"},
        // Neutral Density: the steps follow the mode and everything moves one on.
        {"DE 48 FA A2 FA B1 FA 10 00 05 00 00 FA F2 FA F0 00 03",
         "AC DE 48 00 A2 B1 10 00 05 00 00 00 00 00 00 00 F2 00 03"},
        {"DE 90 FA 21 02 03 45 67 FA F0 01 2C",
         "AC DE 90 00 A0 B0 00 00 00 00 00 21 02 03 45 67 F0 01 2C"},
        // Back to Fast: the steps are kept but not shown.
        {"DE 90 DC", "AC DC 00 A0 B0 00 00 00 00 00 00 00 00 00 00 F0 00 01 00"},
        // Power and the Online/Info requests change nothing that is reported.
        {"CF EE FD CE", "AC DC 00 A0 B0 00 00 00 00 00 00 00 00 00 00 F0 00 01 00"},
    };
    for (const StatusRow& row : rows) {
        SCOPED_TRACE(row.commands);
        SimController fresh;
        fresh.receive(hx(row.commands), t);
        fresh.advance(t);
        fresh.receive(hx("CC"), t);
        const Bytes r = concat(fresh.advance(t));
        ASSERT_EQ(r.size(), 20u);
        EXPECT_EQ(hexText(Bytes(r.begin() + 1, r.end())), row.status);
    }
}

TEST_F(SimControllerTest, powerCommands_switchThePowerFlag) {
    EXPECT_TRUE(c.powerOn());
    send("CF");
    EXPECT_FALSE(c.powerOn());
    send("CE");
    EXPECT_TRUE(c.powerOn());
}

TEST_F(SimControllerTest, reset_echoesNowAndSendsCarriageReturnWhenBackUp) {
    send("AA DD FA F0 00 07");
    t = ms(1000);
    EXPECT_EQ(hexText(send("FB")), "FB");
    // Back in the power-up (here: factory) state at once.
    EXPECT_EQ(c.settings(), SimSettings{});
    EXPECT_EQ(c.nextDue(), ms(1050));
    EXPECT_TRUE(runUntil(ms(1050) - SimTime{1}).empty());
    const auto out = runUntil(ms(2000));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], (SimOutput{ms(1050), {0x0D}}));
    EXPECT_FALSE(c.nextDue().has_value());
}

TEST_F(SimControllerTest, resetTwice_sendsOneCarriageReturnAfterTheSecond) {
    send("FB");
    t = ms(30);
    send("FB");
    const auto out = runUntil(ms(500));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].at, ms(80));
}

TEST_F(SimControllerTest, saveConfigThenReset_restoresTheSavedState) {
    send("AA DE 48 FA A4 FA B1 FA 11 02 03 45 67 FA 20 00 01 00 00 FA F0 00 05 FA F1");
    EXPECT_EQ(hexText(send("FA C1")), "FA C1 0D");
    const SimSettings saved = c.settings();
    EXPECT_EQ(c.savedSettings(), saved);
    send("AC DC FA A0 FA B0 FA 10 00 00 00 00 FA F0 00 01");
    EXPECT_NE(c.settings(), saved);
    send("FB");
    EXPECT_EQ(c.settings(), saved);
    runUntil(ms(100));
    EXPECT_EQ(hexText(status()), "AA DE 48 00 A4 B1 11 02 03 45 67 20 00 01 00 00 F1 00 05");
}

TEST_F(SimControllerTest, restoreDefault_givesFactoryStateButKeepsTheSavedOne) {
    send("AA DD FA A2 FA F0 00 09 FA C1 FA B1 FA 21 00 00 00 00");
    const SimSettings saved = c.savedSettings();
    EXPECT_EQ(hexText(send("FA C0")), "FA C0 0D");
    EXPECT_EQ(c.settings(), SimSettings{});
    EXPECT_EQ(hexText(status()), "AC DC 00 A0 B0 00 00 00 00 00 00 00 00 00 00 F0 00 01 00");
    EXPECT_EQ(c.savedSettings(), saved);
    send("FB");
    EXPECT_EQ(c.settings(), saved);
}

// Delay 100 ms, exposure 200 ms, repeat 3, Fast (12 ms per movement).
TEST_F(SimControllerTest, goWithRepeatThree_runsThreeCyclesThenCarriageReturn) {
    send("FA 10 00 00 10 00 FA 20 00 00 20 00 FA F0 00 03");
    t = ms(1000);
    EXPECT_EQ(hexText(send("FA F3")), "FA F3");
    EXPECT_TRUE(c.running());
    EXPECT_EQ(c.nextDue(), ms(1112));
    const std::vector<SimOutput> expected = {
        {ms(1112), {0xAA}}, {ms(1324), {0xAC}},  // cycle 1: 100 + 12, then 200 + 12
        {ms(1436), {0xAA}}, {ms(1648), {0xAC}},  // cycle 2
        {ms(1760), {0xAA}}, {ms(1972), {0xAC}},  // cycle 3
        {ms(1972), {0x0D}},                      // the run is over
    };
    EXPECT_EQ(runUntil(ms(10'000)), expected);
    EXPECT_FALSE(c.running());
    EXPECT_FALSE(c.settings().shutterOpen);
    EXPECT_FALSE(c.nextDue().has_value());
}

TEST_F(SimControllerTest, goReports_comeOutAtTheirTimesWhateverTheStepsOfTheClock) {
    send("FA 10 00 00 10 00 FA 20 00 00 20 00 FA F0 00 02 FA F3");
    std::vector<SimOutput> all;
    for (t = SimTime{0}; t <= ms(1000); t += SimTime{777}) {
        for (SimOutput& o : c.advance(t)) all.push_back(o);
    }
    const std::vector<SimOutput> expected = {
        {ms(112), {0xAA}}, {ms(324), {0xAC}}, {ms(436), {0xAA}}, {ms(648), {0xAC}}, {ms(648), {0x0D}},
    };
    EXPECT_EQ(all, expected);
}

TEST_F(SimControllerTest, shutterMovement_takesHalfTheModesCycleAllowance) {
    struct Row {
        const char* mode;
        SimTime open;
    };
    const Row rows[] = {
        {"DC", ms(12)}, {"DD", ms(70)}, {"DE 48", ms(19)}, {"DE 90", ms(38)},
        {"DE 00", SimController::kShortestMove},  // never zero, so a run always moves on
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.mode);
        SimController fresh;
        fresh.receive(hx(row.mode), t);
        fresh.receive(hx("FA F3"), t);
        fresh.advance(t);
        EXPECT_EQ(fresh.nextDue(), row.open);
    }
}

TEST_F(SimControllerTest, goWithRepeatZero_endsAtOnce) {
    send("FA F0 00 00");
    EXPECT_EQ(hexText(send("FA F3")), "FA F3 0D");
    EXPECT_FALSE(c.running());
}

TEST_F(SimControllerTest, continuousRun_goesOnUntilStop) {
    send("FA F0 FF FF FA F3");
    const Bytes reports = concat(runUntil(ms(500)));
    ASSERT_EQ(reports.size(), 41u);  // 24 ms per cycle: 20 cycles and an opening
    for (std::size_t i = 0; i < reports.size(); ++i) EXPECT_EQ(reports[i], i % 2 ? 0xAC : 0xAA);
    EXPECT_TRUE(c.settings().shutterOpen);
    EXPECT_EQ(hexText(send("BF")), "BF 0D");
    EXPECT_FALSE(c.running());
    EXPECT_TRUE(runUntil(ms(100'000)).empty());
    EXPECT_TRUE(c.settings().shutterOpen);  // STOP leaves the shutter where it is
}

TEST_F(SimControllerTest, stopMidRun_endsTheRunWithEchoAndCarriageReturn) {
    send("FA 10 00 00 10 00 FA 20 00 00 20 00 FA F0 00 03 FA F3");
    const auto first = runUntil(ms(200));
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0], (SimOutput{ms(112), {0xAA}}));
    EXPECT_EQ(hexText(send("BF")), "BF 0D");
    EXPECT_FALSE(c.running());
    EXPECT_FALSE(c.nextDue().has_value());
    EXPECT_TRUE(runUntil(ms(10'000)).empty());
    EXPECT_EQ(status()[0], 0xAA);
}

TEST_F(SimControllerTest, stopWithoutRun_isAnsweredAsUsual) {
    EXPECT_EQ(hexText(send("BF")), "BF 0D");
}

TEST_F(SimControllerTest, goAgainDuringRun_restartsTheSeries) {
    send("FA F0 00 02 FA F3");
    runUntil(ms(12));  // first opening
    EXPECT_EQ(hexText(send("FA F3")), "FA F3");
    EXPECT_EQ(hexText(concat(runUntil(ms(1000)))), "AA AC AA AC 0D");
}

TEST_F(SimControllerTest, powerUpOptionDuringRun_endsTheRunWithItsCarriageReturn) {
    send("FA F0 00 05 FA F3");
    runUntil(ms(30));
    EXPECT_EQ(hexText(send("FA F1")), "FA F1 0D");
    EXPECT_FALSE(c.running());
    EXPECT_TRUE(runUntil(ms(10'000)).empty());
}

TEST_F(SimControllerTest, triggerPulse_runsOneCyclePerPulseWithoutCarriageReturn) {
    send("FA A1 FA 10 00 00 10 00 FA F0 00 02");
    EXPECT_FALSE(c.trigger(t));  // nothing waits for a trigger yet
    EXPECT_EQ(hexText(send("FA F2")), "FA F2");
    EXPECT_TRUE(runUntil(ms(5000)).empty());

    EXPECT_TRUE(c.trigger(t));
    EXPECT_FALSE(c.trigger(t + ms(50)));  // a pulse during a cycle is ignored
    std::vector<SimOutput> expected = {{ms(5112), {0xAA}}, {ms(5124), {0xAC}}};
    EXPECT_EQ(runUntil(ms(6000)), expected);

    // With the trigger input on, pulses go on being served past the repeat count.
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(c.trigger(t));
        EXPECT_EQ(hexText(concat(runUntil(t + ms(1000)))), "AA AC");
    }
    EXPECT_TRUE(c.running());
    EXPECT_EQ(hexText(send("BF")), "BF 0D");
    EXPECT_FALSE(c.trigger(t));
}

TEST_F(SimControllerTest, triggerPulseWithTriggerInputOff_stopsAfterRepeatCycles) {
    send("FA F0 00 02 FA F2");
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(c.trigger(t));
        EXPECT_EQ(hexText(concat(runUntil(t + ms(100)))), "AA AC");
    }
    EXPECT_FALSE(c.running());
    EXPECT_FALSE(c.trigger(t));
    EXPECT_TRUE(runUntil(t + ms(100)).empty());
}

TEST_F(SimControllerTest, savedPowerUpOption_runsAtPowerUpAndAfterReset) {
    SimSettings saved;
    saved.runningOption = SimRunningOption::PowerUp;
    saved.repeat = 2;
    saved.exposure = *SimTimer::fromTenths(1000);  // 100 ms
    SimController up(saved);
    EXPECT_TRUE(up.running());
    std::vector<SimOutput> expected = {
        {ms(12), {0xAA}}, {ms(124), {0xAC}}, {ms(136), {0xAA}}, {ms(248), {0xAC}}, {ms(248), {0x0D}}};
    EXPECT_EQ(up.advance(ms(1000)), expected);

    up.receive(hx("FB"), ms(2000));
    expected = {{ms(2000), {0xFB}}, {ms(2050), {0x0D}},   // back up,
                {ms(2062), {0xAA}}, {ms(2174), {0xAC}},   // then the power-up run
                {ms(2186), {0xAA}}, {ms(2298), {0xAC}}, {ms(2298), {0x0D}}};
    EXPECT_EQ(up.advance(ms(5000)), expected);
}

TEST_F(SimControllerTest, savedTriggerOption_waitsForTriggersAtPowerUp) {
    SimSettings saved;
    saved.runningOption = SimRunningOption::TriggerPulse;
    saved.triggerMode = 2;
    SimController up(saved);
    EXPECT_TRUE(up.advance(ms(1000)).empty());
    EXPECT_TRUE(up.trigger(ms(1000)));
    EXPECT_EQ(hexText(concat(up.advance(ms(2000)))), "AA AC");
}

TEST_F(SimControllerTest, savedGoOption_doesNotRunAtPowerUp) {
    SimSettings saved;
    saved.runningOption = SimRunningOption::Go;
    SimController up(saved);
    EXPECT_FALSE(up.running());
    EXPECT_TRUE(up.advance(ms(1000)).empty());
}

TEST_F(SimControllerTest, resetDuringRun_stopsIt) {
    send("FA F0 FF FF FA F3");
    runUntil(ms(100));
    t = ms(100);
    send("FB");
    EXPECT_FALSE(c.running());
    EXPECT_EQ(hexText(concat(runUntil(ms(1000)))), "0D");
}

TEST_F(SimControllerTest, commandSplitAtEveryPoint_givesTheSameAnswer) {
    const Bytes stream = hx("EE DE 48 FA 21 02 03 45 67 FA F0 01 2C FA A2 CC");
    SimController whole;
    whole.receive(stream, t);
    const Bytes expected = concat(whole.advance(t));
    ASSERT_EQ(expected.size(), 1 + 3 + 7 + 5 + 3 + 20u);
    for (std::size_t cut1 = 0; cut1 <= stream.size(); ++cut1) {
        for (std::size_t cut2 = cut1; cut2 <= stream.size(); ++cut2) {
            SimController split;
            const std::span<const std::uint8_t> s(stream);
            split.receive(s.subspan(0, cut1), t);
            split.receive(s.subspan(cut1, cut2 - cut1), t);
            split.receive(s.subspan(cut2), t);
            ASSERT_EQ(concat(split.advance(t)), expected) << "cuts " << cut1 << ", " << cut2;
        }
    }
}

TEST_F(SimControllerTest, byteByByte_isParsedLikeOneBlock) {
    const Bytes cmd = hx("FA 21 02 03 45 67");
    for (std::size_t i = 0; i + 1 < cmd.size(); ++i) {
        c.receive(std::span(cmd).subspan(i, 1), t);
        EXPECT_TRUE(c.advance(t).empty());
    }
    c.receive(std::span(cmd).subspan(cmd.size() - 1), t);
    EXPECT_EQ(hexText(concat(c.advance(t))), "FA 21 02 03 45 67 0D");
}

TEST_F(SimControllerTest, garbageBytes_areSkipped) {
    const auto log = c.receive(hx("00 12 FA 99 EE 0D 7F FA FA A1 DE"), t);
    const std::vector<SimReceived> expected = {
        {hx("00 12 FA 99"), false},  // FA with no selector after it is noise too
        {hx("EE"), true},
        {hx("0D 7F FA"), false},
        {hx("FA A1"), true},
    };
    EXPECT_EQ(log, expected);
    EXPECT_EQ(hexText(concat(c.advance(t))), "EE FA A1 0D");
    EXPECT_EQ(c.settings().triggerMode, 0);
    // The DE at the end waits for its steps byte.
    EXPECT_EQ(hexText(send("05")), "DE 05 0D");
    EXPECT_EQ(c.settings().ndSteps, 5);
}

TEST_F(SimControllerTest, clockGoingBack_countsAsTheLatestTime) {
    send("FA F3");
    c.advance(ms(5));
    const auto out = c.advance(ms(1));  // earlier than before: nothing new, nothing lost
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(hexText(concat(c.advance(ms(100)))), "AA AC 0D");
}

TEST(SimTimerTest, fromTenths_packsTheSubSecondDigits) {
    struct Row {
        long long tenths;
        SimTimer timer;
    };
    const Row rows[] = {
        {0, {0, 0, 0, 0x00, 0x00}},
        {50, {0, 0, 0, 0x00, 0x50}},
        {4567, {0, 0, 0, 0x45, 0x67}},
        {(3600LL + 2 * 60 + 3) * 10'000 + 4567, {1, 2, 3, 0x45, 0x67}},
        {(15 * 3600LL + 59 * 60 + 59) * 10'000 + 9999, {15, 59, 59, 0x99, 0x99}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.tenths);
        const auto timer = SimTimer::fromTenths(row.tenths);
        ASSERT_TRUE(timer.has_value());
        EXPECT_EQ(*timer, row.timer);
        EXPECT_EQ(timer->duration(), SimTime{row.tenths * 100});
    }
    EXPECT_FALSE(SimTimer::fromTenths(16 * 3600LL * 10'000).has_value());
    EXPECT_FALSE(SimTimer::fromTenths(-1).has_value());
}

}  // namespace
}  // namespace veltra
