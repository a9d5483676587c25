#include "protocol/commands.h"

#include <gtest/gtest.h>

namespace veltra {
namespace {

// The panel's tests pin each control's bytes; here each value at and past the
// ends of its range. A value past a selector's range counts as off (a loaded
// .cfg file can carry any number); counts keep their low bits.
TEST(Commands, ValuesAtAndPastTheEndsOfTheirRanges) {
    const auto repeat = [](int n) { const auto b = repeatCountBytes(n); return repeatCommand(b[0], b[1]); };
    struct Row { Command c; const char* hex; } rows[] = {
        {shutterCommand(-1), "AC"},
        {triggerCommand(-2), "FA A0"}, {triggerCommand(2), "FA A3"}, {triggerCommand(4), "FA A0"},
        {syncCommand(-2), "FA B0"}, {syncCommand(2), "FA B0"},
        {*runningOptionCommand(2), "FA F3"},
        {*modeCommand(1, 99), "DD"}, {*modeCommand(2, 0), "DE 00"}, {*modeCommand(2, 255), "DE FF"},
        {*modeCommand(2, 256), "DE 00"}, {*modeCommand(2, 300), "DE 2C"},
        {repeat(0), "FA F0 00 00"}, {repeat(255), "FA F0 00 FF"}, {repeat(256), "FA F0 01 00"},
        {repeat(257), "FA F0 01 01"}, {repeat(65535), "FA F0 FF FF"}, {repeat(65536), "FA F0 00 00"},
        {repeat(-1), "FA F0 00 FF"}, {repeat(-256), "FA F0 FF 00"},
    };
    for (const auto& r : rows) EXPECT_EQ(toHex(r.c), r.hex);
    EXPECT_FALSE(modeCommand(-1, 0) || modeCommand(3, 0) || runningOptionCommand(-1) || runningOptionCommand(3));
}

TEST(Commands, TimerPacksTheSubSecondPartAsDecimalDigits) {
    // The delay's; the milliseconds each side of one, two and three digits.
    struct Row { TimerValue v; const char* hex; } rows[] = {
        {{"5", "", "", "", ""}, "FA 15 00 00 00 00"}, {{"", "59", "59", "999", "9"}, "FA 10 3B 3B 99 99"},
        {{"2abc", "07", "", "", ""}, "FA 12 07 00 00 00"}, {{"", "", "1", "", "1"}, "FA 10 00 01 00 01"},
        {{"", "", "", "9", "0"}, "FA 10 00 00 00 90"}, {{"", "", "", "10", "0"}, "FA 10 00 00 01 00"},
        {{"", "", "", "99", "9"}, "FA 10 00 00 09 99"}, {{"", "", "", "100", "0"}, "FA 10 00 00 10 00"},
    };
    for (const auto& r : rows) EXPECT_EQ(toHex(timerCommand(TimerSelector::Delay, r.v)), r.hex);
}

}  // namespace
}  // namespace veltra
