#include "model/cp1252.h"
#include "model/leading_int.h"
#include "model/timer_value.h"

#include <gtest/gtest.h>

#include <climits>

namespace veltra {
namespace {

TEST(LeadingInt, ReadsTheLeadingDecimalInteger) {
    struct Row { const char* text; int value; } rows[] = {
        {"", 0}, {"abc", 0}, {"07", 7}, {"12abc", 12}, {"  -3", -3}, {"+42", 42},
        {"-", 0}, {" \t 5 6", 5}, {"1.5", 1}, {"- 5", 0},
        {"2147483647", INT_MAX}, {"99999999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN}, {"-99999999999999999999", INT_MIN},
    };
    for (const auto& r : rows) EXPECT_EQ(leadingInt(r.text), r.value) << '"' << r.text << '"';
}

TimerValue tv(const char* h, const char* m, const char* s, const char* ms, const char* t) {
    return TimerValue{h, m, s, ms, t};
}

TEST(CycleAllowance, NeutralDensityRoundsTenthsHalfUp) {
    struct Row { int steps, ms, tenths; } rows[] = {
        {0, 0, 0}, {1, 0, 6}, {2, 0, 10}, {4, 2, 2}, {15, 6, 20},
        {18, 8, 16}, {72, 38, 0}, {100, 52, 8}, {144, 76, 0},
    };
    for (const auto& r : rows)
        EXPECT_EQ(cycleAllowance(2, r.steps), (CycleAllowance{r.ms, r.tenths})) << r.steps;
    EXPECT_EQ(cycleAllowance(0, 144), (CycleAllowance{24, 0}));
    EXPECT_EQ(cycleAllowance(1, 0), (CycleAllowance{140, 0}));
    EXPECT_EQ(cycleAllowance(-1, 0), (CycleAllowance{24, 0}));
    EXPECT_EQ(cycleAllowance(7, 0), (CycleAllowance{24, 0}));
}

TEST(CycleTime, CarriesFromTenthsToHours) {
    struct Row {
        TimerValue delay, exposure;
        int mode, steps;
        const char* label;
    } rows[] = {
        {tv("", "", "", "999", "9"), tv("", "", "", "999", "9"), 0, 0, "Cycle Time  -  00 : 00 : 02 : 023 : 8"},
        {tv("", "", "", "", ""), tv("", "", "", "", ""), 2, 15, "Cycle Time  -  00 : 00 : 00 : 008 : 0"},
        {tv("0", "0", "59", "900", ""), tv("", "", "", "", ""), 1, 0, "Cycle Time  -  00 : 01 : 00 : 040 : 0"},
        {tv("5", "", "", "", ""), tv("5", "", "", "", ""), 0, 0, "Cycle Time  -  10 : 00 : 00 : 024 : 0"},
        {tv("0", "0", "5", "0", "0"), tv("", "", "", "", ""), 2, 72, "Cycle Time  -  00 : 00 : 05 : 038 : 0"},
        {tv("0", "0", "0", "0", "0"), tv("1", "5", "7", "456", "7"), 0, 0, "Cycle Time  -  01 : 05 : 07 : 480 : 7"},
        {tv("", "", "", "", ""), tv("", "", "", "", ""), 2, 144, "Cycle Time  -  00 : 00 : 00 : 076 : 0"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(cycleTimeLabel(computeCycleTime(r.delay, r.exposure, r.mode, r.steps)), r.label);
}

TEST(CycleTime, SaturatedFieldsDoNotOverflow) {
    const TimerValue big = tv("99999999999", "99999999999", "99999999999", "99999999999", "99999999999");
    const TimerValue c = computeCycleTime(big, big, 0, 0);
    EXPECT_GT(std::stoll(c.hours), 0);
}

TEST(FormatTimerValue, PadsByValueAndKeepsTheText) {
    struct Row { TimerValue v; bool cycle; const char* text; } rows[] = {
        {tv("", "7", "", "5", ""), false, "00 : 07 : 00 : 005 : 0"},
        {tv("", "", "", "50", ""), false, "00 : 00 : 00 : 050 : 0"},
        {tv("", "", "", "500", "0"), false, "00 : 00 : 00 : 500 : 0"},
        {tv("", "07", "", "", ""), false, "00 : 007 : 00 : 000 : 0"},
        {tv("1", "5", "7", "456", "7"), false, "01 : 05 : 07 : 456 : 7"},
        {tv("12", "", "", "", ""), false, "012 : 00 : 00 : 000 : 0"},
        {tv("12", "", "", "", ""), true, "12 : 00 : 00 : 000 : 0"},
        {tv("3", "12x", "", "", ""), false, "03 : 12x : 00 : 000 : 0"},
    };
    for (const auto& r : rows) EXPECT_EQ(formatTimerValue(r.v, r.cycle), r.text);
}


TEST(Cp1252, ConvertsBothWays) {
    EXPECT_EQ(cp1252ToUtf8("A\x80\xE9\x81"), "A\u20AC\u00E9\u0081");
    EXPECT_EQ(utf8ToCp1252("A\u20AC\u00E9"), "A\x80\xE9");
    EXPECT_EQ(utf8ToCp1252("\u4E2D"), "?");
    EXPECT_EQ(utf8ToCp1252("\xC3"), "?");  // cut sequence
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(utf8ToCp1252(cp1252ToUtf8(one)), one) << b;
    }
}


}  // namespace
}  // namespace veltra
