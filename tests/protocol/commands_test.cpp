#include "protocol/commands.h"

#include <gtest/gtest.h>

namespace veltra {
namespace {

// Commands the Apply download and echo tests do not send, and each value at
// and past the ends of its range.
TEST(Commands, EveryCommandHasItsExactBytes) {
    const auto repeat = [](int n) { const auto b = repeatCountBytes(n); return repeatCommand(b[0], b[1]); };
    struct Row { Command c; const char* hex; } rows[] = {
        {onlineCommand(), "EE"},
        {getInfoCommand(), "FD"},
        {powerOnCommand(), "CE"},
        {powerOffCommand(), "CF"},
        {stopCommand(), "BF"},
        {restoreDefaultCommand(), "FA C0"},
        {*modeCommand(1, 99), "DD"},
        {shutterCommand(-1), "AC"},
        // A value past a selector's range counts as off (a loaded .cfg file
        // can carry any number).
        {triggerCommand(-2), "FA A0"},
        {triggerCommand(-1), "FA A0"},
        {triggerCommand(0), "FA A1"},
        {triggerCommand(1), "FA A2"},
        {triggerCommand(2), "FA A3"},
        {triggerCommand(3), "FA A4"},
        {triggerCommand(4), "FA A0"},
        {syncCommand(-2), "FA B0"},
        {syncCommand(-1), "FA B0"},
        {syncCommand(0), "FA B1"},
        {syncCommand(1), "FA B2"},
        {syncCommand(2), "FA B0"},
        {*runningOptionCommand(0), "FA F1"},
        {*runningOptionCommand(1), "FA F2"},
        {*runningOptionCommand(2), "FA F3"},
        {*modeCommand(2, 0), "DE 00"},
        {*modeCommand(2, 255), "DE FF"},
        {*modeCommand(2, 256), "DE 00"},
        {*modeCommand(2, 300), "DE 2C"},
        {repeat(0), "FA F0 00 00"},
        {repeat(1), "FA F0 00 01"},
        {repeat(255), "FA F0 00 FF"},
        {repeat(256), "FA F0 01 00"},
        {repeat(257), "FA F0 01 01"},
        {repeat(65535), "FA F0 FF FF"},
        {repeat(65536), "FA F0 00 00"},
        {repeat(-1), "FA F0 00 FF"},
        {repeat(-256), "FA F0 FF 00"},
    };
    for (const auto& r : rows) EXPECT_EQ(toHex(r.c), r.hex);
    EXPECT_FALSE(modeCommand(-1, 0));
    EXPECT_FALSE(modeCommand(3, 0));
    EXPECT_FALSE(runningOptionCommand(-1));
    EXPECT_FALSE(runningOptionCommand(3));
}

TEST(Commands, TimerPacksTheSubSecondPartAsDecimalDigits) {
    struct Row { TimerSelector sel; TimerValue v; const char* hex; } rows[] = {
        {TimerSelector::Exposure, {"1", "2", "3", "456", "7"}, "FA 21 02 03 45 67"},
        {TimerSelector::Delay, {"5", "", "", "", ""}, "FA 15 00 00 00 00"},
        {TimerSelector::Delay, {"", "", "", "7", "3"}, "FA 10 00 00 00 73"},
        {TimerSelector::Delay, {"", "", "", "70", "3"}, "FA 10 00 00 07 03"},
        {TimerSelector::Delay, {"", "", "", "700", "3"}, "FA 10 00 00 70 03"},
        {TimerSelector::Delay, {"", "59", "59", "999", "9"}, "FA 10 3B 3B 99 99"},
        {TimerSelector::Delay, {"2abc", "07", "", "", ""}, "FA 12 07 00 00 00"},
        // Each packed digit on both sides of its limit.
        {TimerSelector::Delay, {"", "", "", "9", "0"}, "FA 10 00 00 00 90"},
        {TimerSelector::Delay, {"", "", "", "10", "0"}, "FA 10 00 00 01 00"},
        {TimerSelector::Delay, {"", "", "", "99", "9"}, "FA 10 00 00 09 99"},
        {TimerSelector::Delay, {"", "", "", "100", "0"}, "FA 10 00 00 10 00"},
        {TimerSelector::Delay, {"", "", "1", "", "1"}, "FA 10 00 01 00 01"},
    };
    for (const auto& r : rows) EXPECT_EQ(toHex(timerCommand(r.sel, r.v)), r.hex);
}

}  // namespace
}  // namespace veltra
