#include "sim/sim_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <string>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace veltra {
namespace {

using Outputs = std::vector<SimOutput>;
constexpr SimTime ms(long long v) { return SimTime{v * 1000}; }

std::vector<std::uint8_t> hx(std::string_view text) {  // "FA 21" -> {0xFA, 0x21}
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 3)
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
    return out;
}

std::string hexText(const Outputs& outs) {
    std::string s;
    for (const SimOutput& o : outs)
        for (const std::uint8_t b : o.bytes) s += {' ', "0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
    return s.empty() ? s : s.substr(1);
}

struct SimControllerTest : ::testing::Test {
    std::string send(std::string_view cmd, long long atMs = -1) {  // everything sent up to then
        if (atMs >= 0) t = ms(atMs);
        c.receive(hx(cmd), t);
        return hexText(c.advance(t));
    }
    SimController c;
    SimTime t{0};
};

TEST_F(SimControllerTest, commandsAreAnsweredAtOnce) {
    const char* factory = "CC AC DC 00 A0 B0 00 00 00 00 00 00 00 00 00 00 F0 00 01 00";
    // {earlier commands, command, reply}; an empty reply is the command and a carriage return.
    const std::vector<std::array<const char*, 3>> rows = {
        // FA F2, FA F3 and FB, also without 0D: the trigger, Go and reset tests.
        {"", "AA", ""}, {"", "BF", ""}, {"", "DD", ""}, {"", "CF", ""}, {"", "DE 90", ""}, {"", "FA A1", ""},
        {"", "FA C0", ""}, {"", "FA F1", ""}, {"", "FA F0 01 2C", ""}, {"", "FA 21 02 03 45 67", ""}, {"", "EE", "EE"},
        {"", "FD", "FD 56 45 4C 54 52 41 20 53 31 2E 31 32"},
        // Status: Fast/Soft layout, the last position unused (never 0D).
        {"AA DD FA A3 FA B1 FA 10 00 00 00 50 FA F2 FA F0 01 2C", "CC",
         "CC AA DD 00 A3 B1 10 00 00 00 50 00 00 00 00 00 F2 01 2C 00"},
        {"FA 10 00 00 00 50 FA 10 00 00 00 00", "CC", factory},  // a zero timer drops its flag
        {"DE 90 FA 21 02 03 45 67 FA F0 01 2C", "CC", "CC AC DE 90 00 A0 B0 00 00 00 00 00 21 02 03 45 67 F0 01 2C"},
        {"DE 90 DC", "CC", factory},  // Neutral Density steps come and go with the mode
    };
    for (const auto& [before, command, reply] : rows) {
        SCOPED_TRACE(std::string(before) + " | " + command);
        c = SimController{};
        send(before);
        EXPECT_EQ(send(command), *reply ? std::string(reply) : std::string(command) + " 0D");
    }
}

TEST_F(SimControllerTest, resetRestoresTheSavedStateAndSendsOneCarriageReturnWhenBackUp) {
    send("AA DE 48 FA A4 FA B1 FA 11 02 03 45 67 FA F0 00 05");
    EXPECT_EQ(send("FA C1"), "FA C1 0D");
    send("AC DC FA A0 FA B0 FA 10 00 00 00 00 FA F0 00 01");
    EXPECT_EQ(send("FB", 1000), "FB");
    EXPECT_EQ(send("FB", 1030), "FB");  // a second reset starts the wait again
    EXPECT_EQ(send("CC", 1079), "CC AA DE 48 00 A4 B1 11 02 03 45 67 00 00 00 00 00 F0 00 05");
    EXPECT_EQ(c.advance(ms(5000)), (Outputs{{ms(1080), {0x0D}}}));
}

// Delay 100, exposure 200, repeat 3, Fast (12 ms a move), on a clock in odd steps: reports keep their times.
TEST_F(SimControllerTest, goWithRepeatThreeReportsEachCycleThenCarriageReturn) {
    send("FA 10 00 00 10 00 FA 20 00 00 20 00 FA F0 00 03");
    EXPECT_EQ(send("FA F3", 1000), "FA F3");
    Outputs all;
    for (; t <= ms(3000); t += SimTime{777})
        for (SimOutput& o : c.advance(t)) all.push_back(o);
    EXPECT_EQ(all, (Outputs{{ms(1112), {0xAA}}, {ms(1324), {0xAC}}, {ms(1436), {0xAA}}, {ms(1648), {0xAC}},
                            {ms(1760), {0xAA}}, {ms(1972), {0xAC}}, {ms(1972), {0x0D}}}));
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
    const auto stream = hx("EE DE 48 FA 21 02 03 45 67 FA F0 01 2C FA A2 CC");
    c.receive(stream, t);
    const std::string expected = hexText(c.advance(t));
    const std::span<const std::uint8_t> s(stream);
    for (std::size_t cut1 = 0; cut1 <= s.size(); ++cut1)
        for (std::size_t cut2 = cut1; cut2 <= s.size(); ++cut2) {
            SimController split;
            for (const auto part : {s.first(cut1), s.subspan(cut1, cut2 - cut1), s.subspan(cut2)})
                split.receive(part, t);
            ASSERT_EQ(hexText(split.advance(t)), expected) << "cuts " << cut1 << ", " << cut2;
        }
}

TEST_F(SimControllerTest, garbageIsSkipped) {
    const std::vector<SimReceived> expected = {
        {hx("00 12 FA 99"), false}, {hx("EE"), true}, {hx("0D 7F FA"), false}, {hx("FA A1"), true}};
    EXPECT_EQ(c.receive(hx("00 12 FA 99 EE 0D 7F FA FA A1 DE"), t), expected);
    EXPECT_EQ(send("05"), "EE FA A1 0D DE 05 0D");  // the DE waited for its steps byte
}

// A continuous Go on a clock that leaps (--time-scale 100000 once ran out of
// memory): what is kept for sending stays within the bound, nothing goes
// unaccounted, and the run keeps its rhythm.
TEST_F(SimControllerTest, continuousRunKeepsMemoryBoundedAtAnyClockSpeed) {
    EXPECT_EQ(send("FA F0 FF FF FA F3"), "FA F0 FF FF 0D FA F3");  // Fast, no delay or exposure: 24 ms a cycle
    std::uint64_t reports = 0;
    for (const long long toMs : {24LL, 24'000LL, 24'000'000LL, 2'400'000'000LL, 2'400'000'024LL}) {
        SCOPED_TRACE(toMs);
        const std::uint64_t droppedBefore = c.droppedBytes();
        const Outputs out = c.advance(ms(toMs));
        std::size_t kept = 0;
        for (const SimOutput& o : out) kept += o.bytes.size();
        EXPECT_LE(kept, SimController::kMaxReadyBytes);
        // Two reports a cycle, each either sent or counted as dropped.
        EXPECT_EQ(kept + c.droppedBytes() - droppedBefore, 2 * static_cast<std::uint64_t>(toMs) / 24 - reports);
        reports = 2 * static_cast<std::uint64_t>(toMs) / 24;
        if (toMs % 1000 == 24) {  // after the leaps: the same rhythm, every report sent
            EXPECT_EQ(out, (Outputs{{ms(toMs - 12), {0xAA}}, {ms(toMs), {0xAC}}}));
        }
    }
    EXPECT_TRUE(c.running());
    EXPECT_EQ(send("BF"), "BF 0D");
}

TEST_F(SimControllerTest, longSeriesSkippedAheadStillEndsWithItsCarriageReturn) {
    send("FA F0 EA 60 FA F3");  // 60000 cycles of 24 ms
    EXPECT_EQ(c.advance(ms(60000LL * 24 - 1)).size(), SimController::kMaxReadyBytes);
    EXPECT_TRUE(c.running());
    EXPECT_EQ(c.advance(ms(60000LL * 24)), (Outputs{{ms(60000LL * 24), {0xAC}}, {ms(60000LL * 24), {0x0D}}}));
    EXPECT_FALSE(c.running());
    EXPECT_EQ(c.droppedBytes(), 2 * 60000u - 1 - SimController::kMaxReadyBytes);
}

// Reads until `n` bytes, a `stop` byte or end of file; false when 5 s pass without a byte.
bool readUntil(int fd, std::string& got, std::size_t n, char stop = '\0') {
    while (got.size() < n && (got.empty() || got.back() != stop)) {
        char ch = 0;
        if (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, 5000) <= 0) return false;
        if (const ssize_t k = ::read(fd, &ch, 1); k <= 0) return k == 0;
        got.push_back(ch);
    }
    return true;
}

struct Child {  // the real program, killed if a check fails midway
    int pid = -1, out = -1;  // process id, read end of its standard output
    ~Child() { if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0); ::close(out); }
};

// Each test starts the real program with its own arguments.
struct SimHostTest : ::testing::Test {
    void SetUp() override {
        const int p = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (p < 0) GTEST_SKIP() << "no pseudo-terminal can be made here";
        ::close(p);
    }
    // Starts the program; `path` is the terminal it serves.
    void start(Child& sim, std::vector<std::string> args) {
        int fds[2];
        ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        sim.out = fds[0];
        args.insert(args.begin(), VELTRA_SIM_BINARY);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if ((sim.pid = ::fork()) == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            if (std::find(args.begin(), args.end(), "--verbose") != args.end()) ::dup2(::open("/dev/null", O_WRONLY), STDERR_FILENO);  // its log is not ours
            ::execv(VELTRA_SIM_BINARY, argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        path.clear();
        ASSERT_TRUE(readUntil(sim.out, path, 256, '\n') && !path.empty()) << "no pty path printed";
        path.pop_back();
    }
    std::string path;
};

// Its standard output closes as it exits; then its status is collected.
void expectCleanExit(Child& sim, const char* after) {
    std::string rest;
    ASSERT_TRUE(readUntil(sim.out, rest, 1 << 20)) << "still running 5 s after " << after;
    int status = 0;
    ASSERT_GT(::waitpid(std::exchange(sim.pid, -1), &status, 0), 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << after << ": status " << status;
}

// A storm of trigger pulses must not swallow the stop that follows it, be the
// simulator logging each pulse or busy with a run on a fast clock.
TEST_F(SimHostTest, stopsOnSigtermOrSigintAfterAStormOfTriggers) {
    const std::vector<std::string> logging = {"--power-up-option", "trigger", "--repeat", "continuous",
                                              "--exposure-ms", "0.1", "--verbose"};
    const std::vector<std::string> busy = {"--time-scale", "100000", "--power-up-option", "go", "--repeat",
                                           "continuous"};
    const struct { std::vector<std::string> args; int stop; const char* name; } rows[] = {
        {logging, SIGTERM, "SIGTERM"}, {logging, SIGINT, "SIGINT"}, {busy, SIGTERM, "SIGTERM"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args[1] + " " + row.name);
        Child sim;
        ASSERT_NO_FATAL_FAILURE(start(sim, row.args));
        for (int i = 0; i < 200'000; ++i) ASSERT_EQ(::kill(sim.pid, SIGUSR1), 0);
        ASSERT_EQ(::kill(sim.pid, row.stop), 0);
        expectCleanExit(sim, row.name);
    }
}

// At --pace-baud a command reaches the controller only once all its bytes
// have crossed the wire, and the answer takes its own wire time back.
TEST_F(SimHostTest, pacedLineDelaysBothDirections) {
    constexpr long kBaud = 2400;
    const auto byteTime = std::chrono::microseconds(10'000'000 / kBaud);
    Child sim;
    ASSERT_NO_FATAL_FAILURE(start(sim, {"--pace-baud", std::to_string(kBaud)}));
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << path;
    const struct { std::string command, answer; } rows[] = {
        {"\xEE", "\xEE"},
        {std::string("\xFA\x10\x00\x00\x10\x00", 6), std::string("\xFA\x10\x00\x00\x10\x00\x0D", 7)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.command.size());
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_EQ(::write(fd, row.command.data(), row.command.size()), static_cast<ssize_t>(row.command.size()));
        std::string first, rest;
        ASSERT_TRUE(readUntil(fd, first, 1));
        const auto firstAt = std::chrono::steady_clock::now();
        ASSERT_TRUE(readUntil(fd, rest, row.answer.size() - 1, '\r'));  // the answers hold zeros
        const auto lastAt = std::chrono::steady_clock::now();
        EXPECT_EQ(first + rest, row.answer);
        // Never earlier than the wire allows: the command in, then the answer out.
        EXPECT_GE(firstAt - sent, byteTime * static_cast<long>(row.command.size() + 1));
        EXPECT_GE(lastAt - sent, byteTime * static_cast<long>(row.command.size() + row.answer.size()));
    }
    ::close(fd);
}

}  // namespace
}  // namespace veltra
