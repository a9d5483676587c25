// The veltra-sim program itself, driven through its pseudo-terminal like a
// client would.

#include "sim/sim_test_util.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#ifndef VELTRA_SIM_BINARY
#error "VELTRA_SIM_BINARY must name the veltra-sim executable"
#endif

extern char** environ;

namespace veltra {
namespace {

using namespace simtest;
using Clock = std::chrono::steady_clock;
constexpr int kTimeoutMs = 5000;

bool canMakePty() {
    const int m = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m < 0) return false;
    const bool ok = ::grantpt(m) == 0 && ::unlockpt(m) == 0 && ::ptsname(m) != nullptr;
    ::close(m);
    return ok;
}

int remainingMs(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Reads until `n` bytes arrived or the time is up.
Bytes readBytes(int fd, std::size_t n, int timeoutMs = kTimeoutMs) {
    Bytes got;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < n) {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, remainingMs(end));
        if (r <= 0) break;
        std::uint8_t buf[64];
        const ssize_t k = ::read(fd, buf, std::min(sizeof buf, n - got.size()));
        if (k <= 0) break;
        got.insert(got.end(), buf, buf + k);
    }
    return got;
}

// veltra-sim as a child process with its standard output on a pipe.
class SimProcess {
public:
    ~SimProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) ::close(m_out);
    }

    bool start(std::vector<std::string> args) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        args.insert(args.begin(), VELTRA_SIM_BINARY);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = ::posix_spawn(&m_pid, VELTRA_SIM_BINARY, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        m_out = fds[0];
        if (rc != 0) m_pid = -1;
        return rc == 0;
    }

    // One line of standard output, without its newline; empty on time-out or EOF.
    std::string readLine() {
        const auto end = Clock::now() + std::chrono::milliseconds(kTimeoutMs);
        for (;;) {
            if (const auto nl = m_buffer.find('\n'); nl != std::string::npos) {
                std::string line = m_buffer.substr(0, nl);
                m_buffer.erase(0, nl + 1);
                return line;
            }
            pollfd p{m_out, POLLIN, 0};
            if (::poll(&p, 1, remainingMs(end)) <= 0) return {};
            char buf[256];
            const ssize_t k = ::read(m_out, buf, sizeof buf);
            if (k <= 0) return {};
            m_buffer.append(buf, static_cast<std::size_t>(k));
        }
    }

    // Waits (bounded) for the process to end; its exit status, or -1.
    int waitExit() {
        // Its standard output closes when it exits: wait for that, not a sleep.
        const auto end = Clock::now() + std::chrono::milliseconds(kTimeoutMs);
        for (;;) {
            pollfd p{m_out, POLLIN, 0};
            if (::poll(&p, 1, remainingMs(end)) <= 0) return -1;
            char buf[256];
            const ssize_t k = ::read(m_out, buf, sizeof buf);
            if (k > 0) {
                m_buffer.append(buf, static_cast<std::size_t>(k));
                continue;
            }
            break;
        }
        int status = 0;
        if (::waitpid(m_pid, &status, 0) != m_pid) return -1;
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    int stop() {
        ::kill(m_pid, SIGTERM);
        return waitExit();
    }

    pid_t pid() const { return m_pid; }
    const std::string& rest() const { return m_buffer; }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_buffer;
};

int openClient(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fd;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    return fd;
}

Bytes exchange(int fd, std::string_view command, std::size_t replyLength) {
    const Bytes cmd = hx(command);
    if (::write(fd, cmd.data(), cmd.size()) != static_cast<ssize_t>(cmd.size())) return {};
    return readBytes(fd, replyLength);
}

class SimHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!canMakePty()) GTEST_SKIP() << "no pseudo-terminal can be made here";
    }
};

TEST_F(SimHostTest, onlineAnswered_acrossCloseAndReopen_thenStopsOnSigterm) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({}));
    const std::string path = sim.readLine();
    ASSERT_FALSE(path.empty()) << "no pty path on standard output";

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const int fd = openClient(path);
        ASSERT_GE(fd, 0) << path;
        EXPECT_EQ(hexText(exchange(fd, "EE", 1)), "EE");
        ::close(fd);
    }
    EXPECT_EQ(sim.stop(), 0);
}

// A client that dies holding the line exclusively (TIOCEXCL, never cleared)
// must not lock everyone else out: the simulator clears the flag or, where
// only root could, moves to a new pty and announces it on the next line.
TEST_F(SimHostTest, clientLeavingTheLineExclusive_doesNotLockOthersOut) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({}));
    std::string path = sim.readLine();
    int fd = openClient(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ioctl(fd, TIOCEXCL), 0);
    EXPECT_EQ(hexText(exchange(fd, "EE", 1)), "EE");
    ::close(fd);

    fd = openClient(path);
    if (fd < 0) {
        ASSERT_EQ(errno, EBUSY);
        path = sim.readLine();
        ASSERT_FALSE(path.empty()) << "no new pty announced";
        fd = openClient(path);
    }
    ASSERT_GE(fd, 0) << path;
    EXPECT_EQ(hexText(exchange(fd, "EE", 1)), "EE");
    ::close(fd);
    EXPECT_EQ(sim.stop(), 0);
}

TEST_F(SimHostTest, goWithRepeatThree_arrivesOnTheLine) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--time-scale", "10"}));
    const std::string path = sim.readLine();
    const int fd = openClient(path);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(hexText(exchange(fd, "FA F0 00 03", 5)), "FA F0 00 03 0D");
    EXPECT_EQ(hexText(exchange(fd, "FA F3", 9)), "FA F3 AA AC AA AC AA AC 0D");
    EXPECT_EQ(hexText(exchange(fd, "CC", 20)),
              "CC AC DC 00 A0 B0 00 00 00 00 00 00 00 00 00 00 F3 00 03 00");
    ::close(fd);
    EXPECT_EQ(sim.stop(), 0);
}

TEST_F(SimHostTest, sigusr1_firesOneTriggerPulse) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--power-up-option", "trigger", "--exposure-ms", "5"}));
    const int fd = openClient(sim.readLine());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(hexText(exchange(fd, "EE", 1)), "EE");  // the simulator sees us now
    ::kill(sim.pid(), SIGUSR1);
    EXPECT_EQ(hexText(readBytes(fd, 2)), "AA AC");
    EXPECT_EQ(hexText(exchange(fd, "BF", 2)), "BF 0D");
    ::close(fd);
    EXPECT_EQ(sim.stop(), 0);
}

TEST_F(SimHostTest, link_pointsToTheLineAndGoesAwayOnExit) {
    char dir[] = "/tmp/veltra-sim-test-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string link = std::string(dir) + "/ttyVELTRA";
    ASSERT_EQ(::symlink("/nonexistent", link.c_str()), 0);  // an old link is replaced

    SimProcess sim;
    ASSERT_TRUE(sim.start({"--link", link}));
    const std::string path = sim.readLine();
    char target[256] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), path);
    const int fd = openClient(link);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(hexText(exchange(fd, "EE", 1)), "EE");
    ::close(fd);
    EXPECT_EQ(sim.stop(), 0);

    struct stat st{};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link outlived the simulator";
    ::unlink(link.c_str());
    ::rmdir(dir);
}

TEST_F(SimHostTest, linkOverARegularFile_isRefused) {
    char dir[] = "/tmp/veltra-sim-test-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/keep";
    const int f = ::open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(f, 0);
    ::close(f);
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--link", file}));
    EXPECT_EQ(sim.waitExit(), 1);
    struct stat st{};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    ::unlink(file.c_str());
    ::rmdir(dir);
}

TEST_F(SimHostTest, paceBaud_spreadsAReplyOverItsWireTime) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--pace-baud", "9600"}));
    const int fd = openClient(sim.readLine());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(hexText(exchange(fd, "EE", 1)), "EE");
    const auto t0 = Clock::now();
    EXPECT_EQ(exchange(fd, "CC", 20).size(), 20u);
    // 20 bytes of 10 bits at 9600 baud: about 20.8 ms; it cannot be faster.
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(19));
    ::close(fd);
    EXPECT_EQ(sim.stop(), 0);
}

TEST_F(SimHostTest, helpVersionAndBadOption) {
    {
        SimProcess sim;
        ASSERT_TRUE(sim.start({"--version"}));
        EXPECT_EQ(sim.readLine(), "veltra-sim 1.1.2.0");
        EXPECT_EQ(sim.waitExit(), 0);
    }
    {
        SimProcess sim;
        ASSERT_TRUE(sim.start({"--help"}));
        EXPECT_EQ(sim.waitExit(), 0);
        EXPECT_NE(sim.rest().find("SIGUSR1"), std::string::npos);
    }
    {
        SimProcess sim;
        ASSERT_TRUE(sim.start({"--repeat", "lots"}));
        EXPECT_EQ(sim.waitExit(), 2);
    }
}

}  // namespace
}  // namespace veltra
