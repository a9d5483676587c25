#include "sim/sim_options.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace veltra {
namespace {

SimOptionsResult parse(std::vector<std::string_view> args) { return parseSimOptions(args); }

TEST(SimOptionsTest, noArguments_giveFactoryPowerUpState) {
    const auto r = parse({});
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.options.powerUp, SimSettings{});
    EXPECT_EQ(r.options.timeScale, 1.0);
    EXPECT_EQ(r.options.paceBaud, 0);
    EXPECT_TRUE(r.options.link.empty());
    EXPECT_FALSE(r.options.verbose);
}

TEST(SimOptionsTest, everyOption_isTaken) {
    const auto r = parse({"--link", "/tmp/x", "--time-scale=100", "--pace-baud", "9600",
                          "--power-up-option", "go", "--repeat", "3", "--delay-ms", "250",
                          "--exposure-ms=12.5", "--verbose"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.link, "/tmp/x");
    EXPECT_EQ(r.options.timeScale, 100.0);
    EXPECT_EQ(r.options.paceBaud, 9600);
    EXPECT_EQ(r.options.powerUp.runningOption, SimRunningOption::PowerUp);
    EXPECT_EQ(r.options.powerUp.repeat, 3);
    EXPECT_EQ(r.options.powerUp.delay, (SimTimer{0, 0, 0, 0x25, 0x00}));
    EXPECT_EQ(r.options.powerUp.exposure, (SimTimer{0, 0, 0, 0x01, 0x25}));
    EXPECT_TRUE(r.options.verbose);
}

TEST(SimOptionsTest, valueRows) {
    struct Row {
        std::vector<std::string_view> args;
        SimRunningOption option;
        std::uint16_t repeat;
        SimTime delay;
    };
    const Row rows[] = {
        {{"--power-up-option", "none"}, SimRunningOption::None, 1, SimTime{0}},
        {{"--power-up-option", "power-up"}, SimRunningOption::PowerUp, 1, SimTime{0}},
        {{"--power-up-option", "trigger"}, SimRunningOption::TriggerPulse, 1, SimTime{0}},
        {{"--repeat", "continuous"}, SimRunningOption::None, 0xFFFF, SimTime{0}},
        {{"--repeat", "65535"}, SimRunningOption::None, 0xFFFF, SimTime{0}},
        {{"--repeat", "0"}, SimRunningOption::None, 0, SimTime{0}},
        {{"--delay-ms", "3723456.7"}, SimRunningOption::None, 1, SimTime{3'723'456'700}},
        {{"--delay-ms", "0.1"}, SimRunningOption::None, 1, SimTime{100}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.back());
        const auto r = parseSimOptions(row.args);
        ASSERT_EQ(r.error, "");
        EXPECT_EQ(r.options.powerUp.runningOption, row.option);
        EXPECT_EQ(r.options.powerUp.repeat, row.repeat);
        EXPECT_EQ(r.options.powerUp.delay.duration(), row.delay);
    }
}

TEST(SimOptionsTest, badLines_areRefusedWithAReason) {
    const std::vector<std::vector<std::string_view>> rows = {
        {"--bogus"},
        {"--link"},
        {"--link", ""},
        {"--time-scale", "0"},
        {"--time-scale", "-2"},
        {"--time-scale", "fast"},
        {"--time-scale", "inf"},
        {"--pace-baud", "-1"},
        {"--pace-baud", "96k"},
        {"--power-up-option", "always"},
        {"--repeat", "65536"},
        {"--repeat", "-1"},
        {"--delay-ms", "1.25"},
        {"--delay-ms", "abc"},
        {"--delay-ms", "57600000"},  // 16 hours do not fit the hours nibble
        {"--exposure-ms", ".5"},
        {"--verbose=yes"},
        {"positional"},
    };
    for (const auto& args : rows) {
        SCOPED_TRACE(args.front());
        EXPECT_NE(parseSimOptions(args).error, "");
    }
}

TEST(SimOptionsTest, helpAndVersion) {
    EXPECT_TRUE(parse({"--help"}).options.help);
    EXPECT_TRUE(parse({"-h"}).options.help);
    EXPECT_TRUE(parse({"--version"}).options.version);
    EXPECT_STREQ(kSimVersion, "1.1.2.0");
    const std::string usage = simUsage();
    for (const char* word : {"--link", "--time-scale", "--pace-baud", "--power-up-option", "--repeat",
                             "--delay-ms", "--exposure-ms", "--verbose", "SIGUSR1", "SIGTERM"})
        EXPECT_NE(usage.find(word), std::string::npos) << word;
}

}  // namespace
}  // namespace veltra
