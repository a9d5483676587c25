#include "model/cp1252.h"
#include "model/leading_int.h"
#include "model/received_log.h"
#include "model/timer_value.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

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


// The rows a view shows after `appended` lines "0", "1", ... under a limit.
std::vector<std::string> rows(std::size_t limit, int appended) {
    ReceivedLog log(limit);
    for (int i = 0; i < appended; ++i) log.append(std::to_string(i));
    std::vector<std::string> out;
    for (std::size_t i = 0; i < log.size(); ++i) out.emplace_back(log.line(i));
    return out;
}

TEST(ReceivedLog, KeepsTheNewestLinesDroppingTheOldestInBlocksBehindANotice) {
    using V = std::vector<std::string>;
    struct Row { std::size_t limit; int appended; V shown; } table[] = {
        {32, 32, {}},  // at the limit: all kept, no notice (checked by size below)
        {32, 33, {"--- 2 older lines dropped ---", "2", "3"}},  // blocks of 32/16 = 2 lines
        {32, 35, {"--- 4 older lines dropped ---", "4", "5"}},
        {1, 1, {"0"}},
        {1, 3, {"--- 2 older lines dropped ---", "2"}},
        {3, 4, {"--- 1 older line dropped ---", "1", "2", "3"}},
    };
    for (const Row& r : table) {
        SCOPED_TRACE(testing::Message() << r.limit << " " << r.appended);
        const V got = rows(r.limit, r.appended);
        if (r.shown.empty()) {
            EXPECT_EQ(got.size(), r.limit);
            EXPECT_EQ(got.front(), "0");
            continue;
        }
        EXPECT_LE(got.size(), r.limit + 1);  // the notice row and at most `limit` lines
        EXPECT_EQ(V(got.begin(), got.begin() + static_cast<long>(std::min(got.size(), r.shown.size()))), r.shown);
        EXPECT_EQ(got.back(), std::to_string(r.appended - 1));
    }
}

TEST(ReceivedLog, ClearStartsOverAndALowerLimitDropsAtOnce) {
    ReceivedLog log(1000);
    for (int i = 0; i < 1000; ++i) log.append("line " + std::to_string(i));
    const auto generation = log.generation();
    log.setMaxLines(500);
    EXPECT_LE(log.size(), 501u);
    EXPECT_EQ(log.droppedLines() + log.size() - 1, 1000u);
    EXPECT_EQ(log.line(0), ReceivedLog::droppedNotice(log.droppedLines()));
    EXPECT_EQ(log.back(), "line 999");
    EXPECT_EQ(log.appendedLines(), 1000u);
    EXPECT_EQ(log.generation(), generation);  // dropping is not a clear
    EXPECT_EQ(log.line(log.size()), "");       // a row a view counted before the drop
    log.clear();
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(std::pair(log.droppedLines(), log.generation()), std::pair(std::uint64_t{0}, generation + 1));
    log.append("x");
    EXPECT_EQ(std::pair(log.size(), std::string(log.line(0))), std::pair(std::size_t{1}, std::string("x")));
}

TEST(ReceivedLog, MemoryFollowsTheLinesKeptNotTheLinesSeen) {
    ReceivedLog log(10000);
    for (int i = 0; i < 200000; ++i) log.append("238       0xEE");
    // 10000 lines of 14 characters and a 4-byte end each, plus the blocks' spare room.
    EXPECT_LT(log.memoryBytes(), 10000u * 18 * 2);
    EXPECT_EQ(log.droppedLines() + log.size() - 1, 200000u);
}

}  // namespace
}  // namespace veltra
