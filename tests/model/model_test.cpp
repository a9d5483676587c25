#include "model/choices.h"
#include "model/controller_settings.h"
#include "model/cp1252.h"
#include "model/leading_int.h"
#include "model/received_log.h"
#include "model/timer_value.h"
#include "system_cp1252.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

namespace veltra {
namespace {

TEST(LeadingInt, ReadsTheLeadingDecimalInteger) {
    struct Row { const char* text; int value; } rows[] = {
        {"", 0}, {"12abc", 12}, {"  -3", -3}, {"+42", 42}, {"-", 0}, {" \t 5 6", 5}, {"- 5", 0},
        {"2147483647", INT_MAX}, {"99999999999999999999999", INT_MAX}, {"-2147483648", INT_MIN},
        {"-99999999999999999999", INT_MIN},
        // Just inside and just past each end, and the characters either side of the digits.
        {"2147483646", INT_MAX - 1}, {"2147483648", INT_MAX}, {"-2147483647", INT_MIN + 1}, {"-2147483649", INT_MIN},
        {"0", 0}, {"-0", 0}, {"9", 9}, {"/9", 0}, {":9", 0}, {"9:", 9},
    };
    for (const auto& r : rows) EXPECT_EQ(leadingInt(r.text), r.value) << '"' << r.text << '"';
}

// "h:m:s:ms:t" -> the five fields as typed.
TimerValue tv(std::string_view text) {
    std::vector<std::string> f(1);
    for (const char ch : text)
        if (ch == ':') f.emplace_back(); else f.back() += ch;
    return TimerValue{f.at(0), f.at(1), f.at(2), f.at(3), f.at(4)};
}

TEST(CycleAllowance, NeutralDensityRoundsTenthsHalfUp) {
    struct Row { int mode, steps, ms, tenths; } rows[] = {
        {2, 0, 0, 0}, {2, 1, 0, 6}, {2, 2, 0, 10}, {2, 4, 2, 2}, {2, 15, 6, 20}, {2, 18, 8, 16}, {2, 72, 38, 0},
        {2, 100, 52, 8}, {2, 144, 76, 0}, {0, 144, 24, 0}, {1, 0, 140, 0}, {-1, 0, 24, 0}, {7, 0, 24, 0},
    };
    for (const auto& r : rows)
        EXPECT_EQ(cycleAllowance(r.mode, r.steps), (CycleAllowance{r.ms, r.tenths})) << r.mode << ' ' << r.steps;
}

TEST(CycleTime, CarriesFromTenthsToHours) {
    struct Row { const char *delay, *exposure; int mode, steps; const char* label; } rows[] = {
        {":::999:9", ":::999:9", 0, 0, "00 : 00 : 02 : 023 : 8"}, {"0:0:59:900:", "::::", 1, 0, "00 : 01 : 00 : 040 : 0"},
        {"5::::", "5::::", 0, 0, "10 : 00 : 00 : 024 : 0"}, {"0:0:5:0:0", "::::", 2, 72, "00 : 00 : 05 : 038 : 0"},
        {"0:0:0:0:0", "1:5:7:456:7", 0, 0, "01 : 05 : 07 : 480 : 7"},
        // Each carry on both sides of its base.
        {"::::9", "::::", 0, 0, "00 : 00 : 00 : 024 : 9"}, {"::::9", "::::1", 0, 0, "00 : 00 : 00 : 025 : 0"},
        {":::975:", "::::", 0, 0, "00 : 00 : 00 : 999 : 0"}, {":::976:", "::::", 0, 0, "00 : 00 : 01 : 000 : 0"},
        {"::59::", "::::", 0, 0, "00 : 00 : 59 : 024 : 0"}, {"::59::", "::1::", 0, 0, "00 : 01 : 00 : 024 : 0"},
        {":59:::", "::::", 0, 0, "00 : 59 : 00 : 024 : 0"}, {":59:::", ":1:::", 0, 0, "01 : 00 : 00 : 024 : 0"},
        {"4:59:59:975:9", "::::1", 0, 0, "05 : 00 : 00 : 000 : 0"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(cycleTimeLabel(computeCycleTime(tv(r.delay), tv(r.exposure), r.mode, r.steps)),
                  std::string("Cycle Time  -  ") + r.label) << r.delay << " + " << r.exposure;
}

// Each field saturates at INT_MAX; the sum of two such times and the 24 ms
// allowance is carried exactly: 2 x 2147483647 x 36610011 + 240 tenths.
TEST(CycleTime, SaturatedFieldsAddUpExactly) {
    const TimerValue big = tv("99999999999:99999999999:99999999999:99999999999:99999999999");
    EXPECT_EQ(computeCycleTime(big, big, 0, 0), tv("4367744441:3:18:47:4"));
}

TEST(FormatTimerValue, PadsByValueAndKeepsTheText) {
    struct Row { const char* v; bool cycle; const char* text; } rows[] = {
        {":7::5:", false, "00 : 07 : 00 : 005 : 0"}, {":07:::", false, "00 : 007 : 00 : 000 : 0"},
        {"12::::", false, "012 : 00 : 00 : 000 : 0"}, {"12::::", true, "12 : 00 : 00 : 000 : 0"},
        {"3:12x:::", false, "03 : 12x : 00 : 000 : 0"},
        // Each padding rule on both sides of its limits: 9/10 for minutes, seconds
        // and the hours of the cycle, 9/10 and 99/100 for milliseconds.
        {"9:9:9:9:9", false, "09 : 09 : 09 : 009 : 9"}, {"10:10:10:10:", false, "010 : 10 : 10 : 010 : 0"},
        {"100:59:59:99:", false, "0100 : 59 : 59 : 099 : 0"}, {"9:::100:", true, "09 : 00 : 00 : 100 : 0"},
        {"10::::", true, "10 : 00 : 00 : 000 : 0"},
        // Only the upper limits are tested: a negative value is "below 10".
        {":-3:-4:-5:-6", false, "00 : 0-3 : 0-4 : 00-5 : -6"}, {"-1::::", true, "0-1 : 00 : 00 : 000 : 0"},
        // The value decides, the text is kept: "010" has the value 10.
        {":::010:", false, "00 : 00 : 00 : 0010 : 0"}, {"::: 9:", false, "00 : 00 : 00 : 00 9 : 0"},
    };
    for (const auto& r : rows) EXPECT_EQ(formatTimerValue(tv(r.v), r.cycle), r.text) << r.v << (r.cycle ? " cycle" : "");
}

// Every byte against the system's own CP1252 table; the five bytes the code
// page leaves undefined come back as the C1 control of the same value.
TEST(Cp1252, EveryByteHasTheCodePagesCharacter) {
    if (!test::systemHasCp1252()) GTEST_SKIP() << "no CP1252 table on this system";
    for (int byte = 1; byte < 256; ++byte) {
        const std::string one(1, static_cast<char>(byte));
        const std::string text = test::systemCp1252ToUtf8(static_cast<unsigned char>(byte)).value_or("\xC2" + one);
        EXPECT_EQ(cp1252ByteToUtf8(static_cast<unsigned char>(byte)), text) << std::hex << byte;
        EXPECT_EQ(cp1252ToUtf8(one), text) << std::hex << byte;
        EXPECT_EQ(utf8ToCp1252(text), one) << std::hex << byte;
    }
}

TEST(Cp1252, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    // C1 controls the code page uses for other characters, and the first
    // characters past Latin-1 and past each block.
    struct Row { const char* utf8; const char* cp1252; } rows[] = {
        {"\u0080", "?"}, {"\u0082", "?"}, {"\u009F", "?"}, {"\u0100", "?"}, {"\u20AB", "?"},
        {"\u20AD", "?"}, {"\U0001F600", "?"}, {"\xE2\x82", "??"}, {"\xFF", "?"},
        {"a\u2122b", "a\x99" "b"},
    };
    for (const auto& r : rows) EXPECT_EQ(utf8ToCp1252(r.utf8), r.cp1252) << r.utf8;
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
        {32, 32, {"0", "1"}}, {1, 1, {"0"}},  // at the limit: all kept, no notice
        {32, 33, {"--- 2 older lines dropped ---", "2", "3"}},  // blocks of 32/16 = 2 lines
        {32, 35, {"--- 4 older lines dropped ---", "4", "5"}}, {1, 3, {"--- 2 older lines dropped ---", "2"}},
        {3, 4, {"--- 1 older line dropped ---", "1", "2", "3"}},
    };
    for (const Row& r : table) {
        SCOPED_TRACE(testing::Message() << r.limit << " " << r.appended);
        const V got = rows(r.limit, r.appended);
        EXPECT_LE(got.size(), r.limit + 1);  // the notice row and at most `limit` lines
        EXPECT_EQ(V(got.begin(), got.begin() + static_cast<long>(std::min(got.size(), r.shown.size()))), r.shown);
        EXPECT_EQ(got.back(), std::to_string(r.appended - 1));
    }
}

TEST(ReceivedLog, ALowerLimitDropsAtOnceAndClearStartsOver) {
    ReceivedLog log(1000);
    for (int i = 0; i < 1000; ++i) log.append("line " + std::to_string(i));
    const auto generation = log.generation();
    log.setMaxLines(500);
    EXPECT_LE(log.size(), 501u);
    EXPECT_EQ(log.droppedLines() + log.size() - 1, 1000u);
    EXPECT_EQ(log.line(0), ReceivedLog::droppedNotice(log.droppedLines()));
    // Dropping is not a clear.
    EXPECT_EQ(std::tuple(log.back(), log.appendedLines(), log.generation()), std::tuple("line 999", 1000u, generation));
    EXPECT_EQ(log.line(log.size()), "");       // a row a view counted before the drop
    log.clear();  // what a view sees of it: the log view's test
    EXPECT_EQ(std::tuple(log.empty(), log.droppedLines(), log.generation()), std::tuple(true, 0u, generation + 1));
}

TEST(ReceivedLog, MemoryFollowsTheLinesKeptNotTheLinesSeen) {
    ReceivedLog log(10000);
    for (int i = 0; i < 200000; ++i) log.append("238       0xEE");
    // 10000 lines of 14 characters and a 4-byte end each, plus the blocks' spare room.
    EXPECT_LT(log.memoryBytes(), 10000u * 18 * 2);
    EXPECT_EQ(log.droppedLines() + log.size() - 1, 200000u);
}

// Each group's radio indexes and its choices meet in one place: every index a
// button has names one choice and back, -1 is Off where the group has one,
// and any other index names none.
template <typename Choice>
void expectGroup(std::optional<Choice> (*at)(int), int first, int last, const char* group) {
    SCOPED_TRACE(group);
    for (int i = first - 3; i <= last + 3; ++i) {
        const std::optional<Choice> c = at(i);
        ASSERT_EQ(c.has_value(), i >= first && i <= last) << i;
        if (c) {
            EXPECT_EQ(radioIndex(*c), i);
        }
    }
}

TEST(Choices, RadioIndexesAndChoicesRoundTrip) {
    expectGroup(shutterPositionAt, 0, 1, "position");
    expectGroup(shutterModeAt, 0, 2, "mode");
    expectGroup(triggerInputAt, -1, 3, "trigger");
    expectGroup(syncOutputAt, -1, 1, "sync");
    expectGroup(runningOptionAt, 0, 2, "running option");
    EXPECT_EQ(radioIndex(TriggerInput::Off), -1);
    EXPECT_EQ(radioIndex(SyncOutput::Off), -1);
    ControllerSettings s;  // nothing chosen
    EXPECT_TRUE(!s.position() && !s.mode() && !s.running());
    EXPECT_TRUE(s.trigger() == TriggerInput::Off && s.sync() == SyncOutput::Off);
    s.triggerMode = 9, s.syncMode = 9;  // no button: what goes out for it is Off
    EXPECT_TRUE(s.trigger() == TriggerInput::Off && s.sync() == SyncOutput::Off);
}

}  // namespace
}  // namespace veltra
