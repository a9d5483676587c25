#include "sim/sim_host.h"

#include "sim/pty_port.h"
#include "sim/sim_controller.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <poll.h>
#include <sys/prctl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace veltra {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::duration_cast;
using std::chrono::microseconds;
using std::chrono::nanoseconds;

constexpr std::size_t kMaxPending = 64 * 1024;  // a client that never reads loses the rest
// Received bytes still crossing the paced wire. When full, reading pauses and
// the client's writes wait in the terminal, as behind a real UART.
constexpr std::size_t kMaxInbound = 4096;
constexpr std::chrono::milliseconds kAbsentPoll{50};

std::string hex(const std::vector<std::uint8_t>& bytes) {
    std::string s;
    char buf[4];
    for (const std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        if (!s.empty()) s.push_back(' ');
        s += buf;
    }
    return s;
}

}  // namespace

SimHost::SimHost(const SimOptions& options, SimSignals& signals) : m_options(options), m_signals(signals) {}

int SimHost::run() {
    PtyPort port;
    if (const std::string err = port.open(m_options.link); !err.empty()) {
        std::fprintf(stderr, "veltra-sim: %s\n", err.c_str());
        return 1;
    }
    std::printf("%s\n", port.slavePath().c_str());
    std::fflush(stdout);

    const bool verbose = m_options.verbose;
    const double scale = m_options.timeScale;
    const Clock::time_point start = Clock::now();
    const auto simAt = [&](Clock::time_point t) {
        const double real = static_cast<double>(duration_cast<microseconds>(t - start).count());
        return SimTime{std::llround(real * scale)};
    };
    const auto realAt = [&](SimTime t) {
        return start + duration_cast<Clock::duration>(
                           std::chrono::duration<double, std::micro>(static_cast<double>(t.count()) / scale));
    };
    const auto note = [&](SimTime at, const char* what, const std::string& detail) {
        if (verbose)
            std::fprintf(stderr, "veltra-sim: [%10.1f ms] %s%s%s\n",
                         static_cast<double>(at.count()) / 1000.0, what, detail.empty() ? "" : " ",
                         detail.c_str());
    };

    SimController controller(m_options.powerUp);
    bool present = false;
    std::vector<std::uint8_t> pending;  // bytes still to write to the client
    const bool paced = m_options.paceBaud > 0;
    const nanoseconds byteTime{paced ? 10'000'000'000LL / m_options.paceBaud : 0};
    Clock::time_point nextByteAt = start;
    // A paced wire wakes at each byte's time: the default timer slack (50 us)
    // would be added to most of them.
    if (paced) (void)::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    const auto clientLeft = [&] {
        present = false;
        pending.clear();
        note(simAt(Clock::now()), "client left", "");
        if (!port.tidyAfterClient()) {
            // The client died holding the line exclusively: only a new pty helps.
            if (const std::string err = port.renew(); !err.empty()) {
                std::fprintf(stderr, "veltra-sim: %s\n", err.c_str());
                return false;
            }
            std::fprintf(stderr, "veltra-sim: the line was left locked; now serving %s\n",
                         port.slavePath().c_str());
            std::printf("%s\n", port.slavePath().c_str());
            std::fflush(stdout);
        }
        return true;
    };

    // Received bytes and when each has fully arrived: 10 bit times after the
    // previous one, or after it was read when the wire was idle.
    struct Incoming {
        Clock::time_point at;
        std::uint8_t byte;
    };
    std::deque<Incoming> inbound;
    Clock::time_point lastArrival = start;
    const auto deliver = [&](std::span<const std::uint8_t> bytes, SimTime at) {
        for (const SimReceived& r : controller.receive(bytes, at))
            note(at, r.command ? "rx" : "rx skipped", hex(r.bytes));
    };
    // Hands the controller every byte that has crossed the wire by now.
    const auto deliverArrived = [&] {
        const Clock::time_point now = Clock::now();
        while (!inbound.empty() && inbound.front().at <= now) {
            const std::uint8_t b = inbound.front().byte;
            const SimTime at = simAt(inbound.front().at);
            inbound.pop_front();
            deliver({&b, 1}, at);
        }
    };

    // Reads what the line holds (while there is room for it); false once the
    // last client is gone.
    const auto drain = [&] {
        std::uint8_t buf[256];
        for (;;) {
            const std::size_t room = paced ? kMaxInbound - std::min(kMaxInbound, inbound.size()) : sizeof buf;
            if (room == 0) return true;
            const ssize_t n = ::read(port.fd(), buf, std::min(room, sizeof buf));
            if (n > 0) {
                const Clock::time_point now = Clock::now();
                if (!paced) {
                    deliver({buf, static_cast<std::size_t>(n)}, simAt(now));
                    continue;
                }
                for (ssize_t i = 0; i < n; ++i) {
                    lastArrival = std::max(lastArrival, now) + byteTime;
                    inbound.push_back({lastArrival, buf[i]});
                }
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            return n < 0 && errno == EAGAIN;  // EIO: the last client closed its end
        }
    };

    std::uint64_t droppedNoted = 0;
    for (;;) {
        if (m_signals.stop.load(std::memory_order_relaxed)) {
            note(simAt(Clock::now()), "stopping", "");
            return 0;
        }
        if (const unsigned pulses = m_signals.triggers.exchange(0, std::memory_order_relaxed)) {
            // Pulses that arrived together are one: a cycle can start only once.
            const SimTime at = simAt(Clock::now());
            const bool started = controller.trigger(at);
            note(at, pulses == 1 ? "trigger pulse" : "trigger pulses",
                 (pulses == 1 ? std::string() : std::to_string(pulses) + " ") +
                     (started ? "(cycle started)" : "(ignored: no cycle waits for it)"));
        }
        deliverArrived();
        for (SimOutput& out : controller.advance(simAt(Clock::now()))) {
            if (!present) {
                note(out.at, "tx (no client, dropped)", hex(out.bytes));
                continue;
            }
            note(out.at, "tx", hex(out.bytes));
            // nextByteAt is when the next byte has fully crossed the wire: a
            // byte is written at the end of its 10 bit times, never earlier.
            // The wire starts when the controller sent it, not when this loop
            // woke to notice: a late wake-up is caught up below.
            if (pending.empty()) nextByteAt = std::max(nextByteAt, realAt(out.at) + byteTime);
            const std::size_t room = kMaxPending - std::min(kMaxPending, pending.size());
            pending.insert(pending.end(), out.bytes.begin(),
                           out.bytes.begin() + static_cast<std::ptrdiff_t>(std::min(room, out.bytes.size())));
        }

        if (verbose && controller.droppedBytes() != droppedNoted) {
            note(simAt(Clock::now()), "tx dropped",
                 std::to_string(controller.droppedBytes() - droppedNoted) + " bytes: more than a line carries");
            droppedNoted = controller.droppedBytes();
        }

        // How long to sleep: until the controller's next output, the next
        // paced byte either way, or the next look for a returning client.
        const Clock::time_point now = Clock::now();
        std::optional<Clock::duration> wait;
        const auto atMost = [&wait](Clock::duration d) {
            d = std::max(d, Clock::duration::zero());
            wait = wait ? std::min(*wait, d) : d;
        };
        if (const auto due = controller.nextDue()) {
            const double realUs = static_cast<double>((*due - simAt(now)).count()) / scale;
            atMost(duration_cast<Clock::duration>(microseconds{static_cast<long long>(std::ceil(realUs))}));
        }
        const bool writeNow = present && !pending.empty() && (!paced || nextByteAt <= now);
        if (present && !pending.empty() && paced && !writeNow) atMost(nextByteAt - now);
        if (!present) atMost(kAbsentPoll);
        if (!inbound.empty()) atMost(inbound.front().at - now);
        // With the inbound wire full the line is not watched at all (a hang-up
        // would wake the loop at once); the next arrival frees room.
        const bool watchLine = present && (!paced || inbound.size() < kMaxInbound);

        pollfd fds[2] = {{m_signals.wakeFd, POLLIN, 0},
                         {port.fd(), static_cast<short>(POLLIN | (writeNow ? POLLOUT : 0)), 0}};
        timespec ts{};
        if (wait) {
            const auto ns = duration_cast<nanoseconds>(*wait).count();
            ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        }
        // While nobody has the line open the master reports a hang-up at
        // every poll, so it is left out and looked at on each wake-up instead.
        if (::ppoll(fds, watchLine ? 2 : 1, wait ? &ts : nullptr, nullptr) < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "veltra-sim: poll: %s\n", std::strerror(errno));
            return 1;
        }

        if (fds[0].revents & POLLIN) {
            char sink[256];  // the bytes only woke us; the atomics say why
            while (::read(m_signals.wakeFd, sink, sizeof sink) > 0) {
            }
        }

        if (!present) {
            if (port.clientPresent()) {
                present = true;
                note(simAt(Clock::now()), "client connected", "");
            } else {
                // A client that came and went between two looks may have
                // left commands behind: the controller still acts on them.
                drain();
            }
            continue;
        }

        if (!watchLine) continue;
        bool left = false;
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) left = !drain();
        if (!left && (fds[1].revents & POLLOUT) && !pending.empty()) {
            std::size_t count = pending.size();
            const Clock::time_point t = Clock::now();
            if (paced) {
                // Catch up on bytes whose slot passed while we slept.
                const auto behind = t > nextByteAt ? static_cast<std::size_t>((t - nextByteAt) / byteTime) : 0;
                count = std::min(count, 1 + behind);
            }
            const ssize_t n = ::write(port.fd(), pending.data(), count);
            if (n > 0) {
                pending.erase(pending.begin(), pending.begin() + n);
                if (paced) nextByteAt += byteTime * n;
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                left = true;
            }
        }
        if (left && !clientLeft()) return 1;
    }
}

}  // namespace veltra
