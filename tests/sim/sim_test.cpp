#include "sim/sim_controller.h"
#include "sim/sim_options.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace veltra {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Outputs = std::vector<SimOutput>;
constexpr SimTime ms(long long v) { return SimTime{v * 1000}; }

// "FA 21" -> {0xFA, 0x21}
Bytes hx(std::string_view text) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 3)
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
    return out;
}

std::string hexText(const Outputs& outs) {
    constexpr char digits[] = "0123456789ABCDEF";
    std::string s;
    for (const SimOutput& o : outs)
        for (const std::uint8_t b : o.bytes) s += {' ', digits[b >> 4], digits[b & 15]};
    return s.empty() ? s : s.substr(1);
}

class SimControllerTest : public ::testing::Test {
protected:
    // Sends `cmd` at time t; everything sent up to then.
    std::string send(std::string_view cmd) {
        c.receive(hx(cmd), t);
        return hexText(c.advance(t));
    }
    SimController c;
    SimTime t{0};
};

TEST(SimController, commandsAreAnsweredAtOnce) {
    struct Row { const char *before, *command, *reply; };
    const char* factory = "CC AC DC 00 A0 B0 00 00 00 00 00 00 00 00 00 00 F0 00 01 00";
    const Row rows[] = {
        {"", "AA", "AA 0D"}, {"", "BF", "BF 0D"}, {"", "DD", "DD 0D"}, {"", "CF", "CF 0D"},
        {"", "DE 90", "DE 90 0D"}, {"", "FA A1", "FA A1 0D"}, {"", "FA C0", "FA C0 0D"},
        {"", "FA F1", "FA F1 0D"}, {"", "FA F0 01 2C", "FA F0 01 2C 0D"},
        {"", "FA 21 02 03 45 67", "FA 21 02 03 45 67 0D"},
        // A carriage return here would end the run the utility starts following.
        {"", "FA F2", "FA F2"}, {"", "FA F3", "FA F3"},
        {"", "EE", "EE"}, {"", "FB", "FB"}, {"", "FD", "FD 56 45 4C 54 52 41 20 53 31 2E 31 32"},
        // Status: Fast/Soft layout, the last position unused (never 0D).
        {"", "CC", factory},
        {"FA 21 02 03 45 67", "CC", "CC AC DC 00 A0 B0 00 00 00 00 00 21 02 03 45 67 F0 00 01 00"},
        {"AA DD FA A3 FA B1 FA 10 00 00 00 50 FA F2 FA F0 01 2C", "CC",
         "CC AA DD 00 A3 B1 10 00 00 00 50 00 00 00 00 00 F2 01 2C 00"},
        {"FA 10 00 00 00 50 FA 10 00 00 00 00", "CC", factory},  // a zero timer drops its flag
        // Neutral Density: the steps follow the mode and the rest moves one on.
        {"DE 90 FA 21 02 03 45 67 FA F0 01 2C", "CC",
         "CC AC DE 90 00 A0 B0 00 00 00 00 00 21 02 03 45 67 F0 01 2C"},
        {"DE 90 DC", "CC", factory},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.before) + " | " + row.command);
        SimController c;
        c.receive(hx(row.before), SimTime{0});
        c.advance(SimTime{0});
        c.receive(hx(row.command), SimTime{0});
        EXPECT_EQ(hexText(c.advance(SimTime{0})), row.reply);
    }
}

TEST_F(SimControllerTest, resetRestoresTheSavedStateAndSendsOneCarriageReturnWhenBackUp) {
    send("AA DE 48 FA A4 FA B1 FA 11 02 03 45 67 FA F0 00 05");
    EXPECT_EQ(send("FA C1"), "FA C1 0D");
    send("AC DC FA A0 FA B0 FA 10 00 00 00 00 FA F0 00 01");
    t = ms(1000);
    EXPECT_EQ(send("FB"), "FB");
    t = ms(1030);
    EXPECT_EQ(send("FB"), "FB");  // a second reset starts the wait again
    t = ms(1079);
    EXPECT_EQ(send("CC"), "CC AA DE 48 00 A4 B1 11 02 03 45 67 00 00 00 00 00 F0 00 05");
    EXPECT_EQ(c.advance(ms(5000)), (Outputs{{ms(1080), {0x0D}}}));
}

// Delay 100 ms, exposure 200 ms, repeat 3, Fast (12 ms per movement), on a
// clock that moves in odd steps: each report keeps its own time.
TEST_F(SimControllerTest, goWithRepeatThreeReportsEachCycleThenCarriageReturn) {
    send("FA 10 00 00 10 00 FA 20 00 00 20 00 FA F0 00 03");
    t = ms(1000);
    EXPECT_EQ(send("FA F3"), "FA F3");
    Outputs all;
    for (; t <= ms(3000); t += SimTime{777})
        for (SimOutput& o : c.advance(t)) all.push_back(o);
    const Outputs expected = {
        {ms(1112), {0xAA}}, {ms(1324), {0xAC}}, {ms(1436), {0xAA}}, {ms(1648), {0xAC}},
        {ms(1760), {0xAA}}, {ms(1972), {0xAC}}, {ms(1972), {0x0D}},
    };
    EXPECT_EQ(all, expected);
    EXPECT_FALSE(c.running());
}

TEST(SimController, shutterMovesInHalfTheModesCycleTime) {
    const std::pair<const char*, long long> rows[] = {{"DC", 12'000}, {"DD", 70'000}, {"DE 48", 19'000},
                                                      {"DE 00", 100}};  // never 0: a run always moves on
    for (const auto& [mode, us] : rows) {
        SimController c;
        c.receive(hx(std::string(mode) + " FA F3"), SimTime{0});
        c.advance(SimTime{0});
        EXPECT_EQ(c.nextDue(), SimTime{us}) << mode;
    }
}

TEST_F(SimControllerTest, stopEndsAContinuousRunWhereItStands) {
    send("FA F0 FF FF FA F3");
    t = ms(500);  // 24 ms per cycle: 20 cycles and an opening
    std::string expected;
    for (int i = 0; i < 20; ++i) expected += "AA AC ";
    EXPECT_EQ(send("BF"), expected + "AA BF 0D");
    EXPECT_FALSE(c.running());
    EXPECT_TRUE(c.advance(ms(100'000)).empty());
    EXPECT_TRUE(c.settings().shutterOpen);
}

TEST_F(SimControllerTest, triggerPulseRunsOneCyclePerPulseUntilStop) {
    EXPECT_EQ(send("FA A2 FA F0 00 01 FA F2"), "FA A2 0D FA F0 00 01 0D FA F2");
    for (int i = 0; i < 2; ++i) {  // the trigger input is on: past the repeat count
        EXPECT_TRUE(c.trigger(t));
        EXPECT_FALSE(c.trigger(t + ms(1)));  // busy with a cycle
        t += ms(100);
        EXPECT_EQ(hexText(c.advance(t)), "AA AC");
    }
    EXPECT_EQ(send("BF"), "BF 0D");
    EXPECT_FALSE(c.trigger(t));
}

TEST_F(SimControllerTest, commandSplitAnywhereGivesTheSameAnswer) {
    const Bytes stream = hx("EE DE 48 FA 21 02 03 45 67 FA F0 01 2C FA A2 CC");
    SimController whole;
    whole.receive(stream, t);
    const std::string expected = hexText(whole.advance(t));
    for (std::size_t cut1 = 0; cut1 <= stream.size(); ++cut1)
        for (std::size_t cut2 = cut1; cut2 <= stream.size(); ++cut2) {
            SimController split;
            const std::span<const std::uint8_t> s(stream);
            split.receive(s.subspan(0, cut1), t);
            split.receive(s.subspan(cut1, cut2 - cut1), t);
            split.receive(s.subspan(cut2), t);
            ASSERT_EQ(hexText(split.advance(t)), expected) << "cuts " << cut1 << ", " << cut2;
        }
}

TEST_F(SimControllerTest, garbageIsSkipped) {
    const std::vector<SimReceived> expected = {
        {hx("00 12 FA 99"), false}, {hx("EE"), true}, {hx("0D 7F FA"), false}, {hx("FA A1"), true}};
    EXPECT_EQ(c.receive(hx("00 12 FA 99 EE 0D 7F FA FA A1 DE"), t), expected);
    EXPECT_EQ(send("05"), "EE FA A1 0D DE 05 0D");  // the DE waited for its steps byte
}

TEST(SimOptions, linesAreReadOrRefused) {
    const std::vector<std::string_view> good = {"--repeat=continuous", "--delay-ms", "3723456.7"};
    const SimSettings up = parseSimOptions(good).options.powerUp;
    EXPECT_EQ(up.repeat, kSimContinuous);
    EXPECT_EQ(up.delay, (SimTimer{1, 2, 3, 0x45, 0x67}));
    const std::vector<std::vector<std::string_view>> bad = {{"--bogus"}, {"--link"}, {"--time-scale", "0"},
        {"--repeat", "65536"}, {"--delay-ms", "1.25"}, {"--delay-ms", "57600000"}, {"--verbose=yes"}};
    for (const auto& args : bad) EXPECT_NE(parseSimOptions(args).error, "") << args.front();
}

// Reads until `n` bytes, a `stop` byte or end of file; false when 5 s pass without a byte.
bool readUntil(int fd, std::string& got, std::size_t n, char stop = '\0') {
    while (got.size() < n && (got.empty() || got.back() != stop)) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) return false;
        char ch = 0;
        const ssize_t k = ::read(fd, &ch, 1);
        if (k <= 0) return k == 0;
        got.push_back(ch);
    }
    return true;
}

// The real program on its pseudo-terminal, killed if a check fails midway.
struct Child {
    pid_t pid = -1;
    int out = -1;
    ~Child() {
        if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
        if (out >= 0) ::close(out);
    }
};

TEST(SimHost, answersAcrossReopenAndEndsOnSigterm) {
    const int probe = ::posix_openpt(O_RDWR | O_NOCTTY);
    const bool pty = probe >= 0 && ::grantpt(probe) == 0 && ::unlockpt(probe) == 0;
    if (probe >= 0) ::close(probe);
    if (!pty) GTEST_SKIP() << "no pseudo-terminal can be made here";

    Child sim;
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    sim.out = fds[0];
    if ((sim.pid = ::fork()) == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::execl(VELTRA_SIM_BINARY, VELTRA_SIM_BINARY, nullptr);
        ::_exit(127);
    }
    ::close(fds[1]);
    ASSERT_GT(sim.pid, 0);
    std::string path;
    ASSERT_TRUE(readUntil(sim.out, path, 256, '\n') && !path.empty()) << "no pty path printed";
    path.pop_back();

    for (int round = 0; round < 2; ++round) {  // a client leaving must not end the service
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd, 0) << path;
        termios tio{};
        ::tcgetattr(fd, &tio);
        ::cfmakeraw(&tio);  // no echo, no line buffering
        ::tcsetattr(fd, TCSANOW, &tio);
        std::string reply;
        EXPECT_EQ(::write(fd, "\xEE", 1), 1);
        EXPECT_TRUE(readUntil(fd, reply, 1) && reply == "\xEE") << "round " << round;
        ::close(fd);
    }

    ASSERT_EQ(::kill(sim.pid, SIGTERM), 0);
    std::string rest;  // its standard output closes as it exits
    ASSERT_TRUE(readUntil(sim.out, rest, 4096)) << "still running 5 s after SIGTERM";
    int status = 0;
    ASSERT_EQ(::waitpid(sim.pid, &status, 0), sim.pid);
    sim.pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace veltra
