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

// One serving session: the line, the controller and both directions of the
// wire, on a real clock sped up by the time scale.
class HostLoop {
public:
    HostLoop(const SimOptions& options, SimSignals& signals, PtyPort& port)
        : m_options(options),
          m_signals(signals),
          m_port(port),
          m_controller(options.powerUp),
          m_paced(options.paceBaud > 0),
          m_byteTime{m_paced ? 10'000'000'000LL / options.paceBaud : 0} {
        // A paced wire wakes at each byte's time: the default timer slack (50 us)
        // would be added to most of them.
        if (m_paced) (void)::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    }

    int run() {
        for (;;) {
            if (m_signals.stop.load(std::memory_order_relaxed)) {
                note(simAt(Clock::now()), "stopping", "");
                return 0;
            }
            handleTriggers();
            deliverArrived();
            collectOutput();
            noteDropped();
            const Wake wake = planWake();
            pollfd fds[2] = {{m_signals.wakeFd, POLLIN, 0},
                             {m_port.fd(), static_cast<short>(POLLIN | (wake.writeNow ? POLLOUT : 0)), 0}};
            if (!sleepUntilWoken(fds, wake)) return 1;
            if (!m_present) {
                lookForClient();
                continue;
            }
            if (!wake.watchLine) continue;
            bool left = false;
            if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) left = !drain();
            if (!left && (fds[1].revents & POLLOUT) && !m_pending.empty()) left = !writePending();
            if (left && !clientLeft()) return 1;
        }
    }

private:
    // Received bytes and when each has fully arrived: 10 bit times after the
    // previous one, or after it was read when the wire was idle.
    struct Incoming {
        Clock::time_point at;
        std::uint8_t byte;
    };
    // What the next sleep waits for.
    struct Wake {
        std::optional<Clock::duration> wait;  // none: until a signal or the line
        bool writeNow = false;
        bool watchLine = false;
    };

    SimTime simAt(Clock::time_point t) const {
        const double real = static_cast<double>(duration_cast<microseconds>(t - m_start).count());
        return SimTime{std::llround(real * m_options.timeScale)};
    }
    Clock::time_point realAt(SimTime t) const {
        return m_start + duration_cast<Clock::duration>(std::chrono::duration<double, std::micro>(
                             static_cast<double>(t.count()) / m_options.timeScale));
    }
    void note(SimTime at, const char* what, const std::string& detail) const {
        if (m_options.verbose)
            std::fprintf(stderr, "veltra-sim: [%10.1f ms] %s%s%s\n", static_cast<double>(at.count()) / 1000.0,
                         what, detail.empty() ? "" : " ", detail.c_str());
    }

    void handleTriggers() {
        const unsigned pulses = m_signals.triggers.exchange(0, std::memory_order_relaxed);
        if (pulses == 0) return;
        // Pulses that arrived together are one: a cycle can start only once.
        const SimTime at = simAt(Clock::now());
        const bool started = m_controller.trigger(at);
        note(at, pulses == 1 ? "trigger pulse" : "trigger pulses",
             (pulses == 1 ? std::string() : std::to_string(pulses) + " ") +
                 (started ? "(cycle started)" : "(ignored: no cycle waits for it)"));
    }

    void deliver(std::span<const std::uint8_t> bytes, SimTime at) {
        for (const SimReceived& r : m_controller.receive(bytes, at))
            note(at, r.command ? "rx" : "rx skipped", hex(r.bytes));
    }

    // Hands the controller every byte that has crossed the wire by now.
    void deliverArrived() {
        const Clock::time_point now = Clock::now();
        while (!m_inbound.empty() && m_inbound.front().at <= now) {
            const std::uint8_t b = m_inbound.front().byte;
            const SimTime at = simAt(m_inbound.front().at);
            m_inbound.pop_front();
            deliver({&b, 1}, at);
        }
    }

    // Queues what the controller has said by now for the client.
    void collectOutput() {
        for (SimOutput& out : m_controller.advance(simAt(Clock::now()))) {
            if (!m_present) {
                note(out.at, "tx (no client, dropped)", hex(out.bytes));
                continue;
            }
            note(out.at, "tx", hex(out.bytes));
            // m_nextByteAt is when the next byte has fully crossed the wire: a
            // byte is written at the end of its 10 bit times, never earlier.
            // The wire starts when the controller sent it, not when this loop
            // woke to notice: a late wake-up is caught up in writePending.
            if (m_pending.empty()) m_nextByteAt = std::max(m_nextByteAt, realAt(out.at) + m_byteTime);
            const std::size_t room = kMaxPending - std::min(kMaxPending, m_pending.size());
            m_pending.insert(m_pending.end(), out.bytes.begin(),
                             out.bytes.begin() + static_cast<std::ptrdiff_t>(std::min(room, out.bytes.size())));
        }
    }

    void noteDropped() {
        if (!m_options.verbose || m_controller.droppedBytes() == m_droppedNoted) return;
        note(simAt(Clock::now()), "tx dropped",
             std::to_string(m_controller.droppedBytes() - m_droppedNoted) + " bytes: more than a line carries");
        m_droppedNoted = m_controller.droppedBytes();
    }

    // How long to sleep: until the controller's next output, the next paced
    // byte either way, or the next look for a returning client.
    Wake planWake() const {
        const Clock::time_point now = Clock::now();
        Wake wake;
        const auto atMost = [&wake](Clock::duration d) {
            d = std::max(d, Clock::duration::zero());
            wake.wait = wake.wait ? std::min(*wake.wait, d) : d;
        };
        if (const auto due = m_controller.nextDue()) {
            const double realUs = static_cast<double>((*due - simAt(now)).count()) / m_options.timeScale;
            atMost(duration_cast<Clock::duration>(microseconds{static_cast<long long>(std::ceil(realUs))}));
        }
        const bool sending = m_present && !m_pending.empty();
        wake.writeNow = sending && (!m_paced || m_nextByteAt <= now);
        if (sending && !wake.writeNow) atMost(m_nextByteAt - now);
        if (!m_present) atMost(kAbsentPoll);
        if (!m_inbound.empty()) atMost(m_inbound.front().at - now);
        // With the inbound wire full the line is not watched at all (a hang-up
        // would wake the loop at once); the next arrival frees room.
        wake.watchLine = m_present && (!m_paced || m_inbound.size() < kMaxInbound);
        return wake;
    }

    // False on a poll failure (reported).
    bool sleepUntilWoken(pollfd (&fds)[2], const Wake& wake) {
        timespec ts{};
        if (wake.wait) {
            const auto ns = duration_cast<nanoseconds>(*wake.wait).count();
            ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        }
        // While nobody has the line open the master reports a hang-up at
        // every poll, so it is left out and looked at on each wake-up instead.
        if (::ppoll(fds, wake.watchLine ? 2 : 1, wake.wait ? &ts : nullptr, nullptr) < 0) {
            fds[0].revents = fds[1].revents = 0;
            if (errno == EINTR) return true;
            std::fprintf(stderr, "veltra-sim: poll: %s\n", std::strerror(errno));
            return false;
        }
        if (fds[0].revents & POLLIN) {
            char sink[256];  // the bytes only woke us; the atomics say why
            while (::read(m_signals.wakeFd, sink, sizeof sink) > 0) {
            }
        }
        return true;
    }

    void lookForClient() {
        if (m_port.clientPresent()) {
            m_present = true;
            note(simAt(Clock::now()), "client connected", "");
        } else {
            // A client that came and went between two looks may have left
            // commands behind: the controller still acts on them.
            drain();
        }
    }

    // Reads what the line holds (while there is room for it); false once the
    // last client is gone.
    bool drain() {
        std::uint8_t buf[256];
        for (;;) {
            const std::size_t room =
                m_paced ? kMaxInbound - std::min(kMaxInbound, m_inbound.size()) : sizeof buf;
            if (room == 0) return true;
            const ssize_t n = ::read(m_port.fd(), buf, std::min(room, sizeof buf));
            if (n > 0) {
                const Clock::time_point now = Clock::now();
                if (!m_paced) {
                    deliver({buf, static_cast<std::size_t>(n)}, simAt(now));
                    continue;
                }
                for (ssize_t i = 0; i < n; ++i) {
                    m_lastArrival = std::max(m_lastArrival, now) + m_byteTime;
                    m_inbound.push_back({m_lastArrival, buf[i]});
                }
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            return n < 0 && errno == EAGAIN;  // EIO: the last client closed its end
        }
    }

    // False once the client is gone.
    bool writePending() {
        std::size_t count = m_pending.size();
        if (m_paced) {
            // Catch up on bytes whose slot passed while we slept.
            const Clock::time_point t = Clock::now();
            const auto behind = t > m_nextByteAt ? static_cast<std::size_t>((t - m_nextByteAt) / m_byteTime) : 0;
            count = std::min(count, 1 + behind);
        }
        const ssize_t n = ::write(m_port.fd(), m_pending.data(), count);
        if (n > 0) {
            m_pending.erase(m_pending.begin(), m_pending.begin() + n);
            if (m_paced) m_nextByteAt += m_byteTime * n;
            return true;
        }
        return !(n < 0 && errno != EAGAIN && errno != EINTR);
    }

    // False when no line can be served any more.
    bool clientLeft() {
        m_present = false;
        m_pending.clear();
        note(simAt(Clock::now()), "client left", "");
        if (m_port.tidyAfterClient()) return true;
        // The client died holding the line exclusively: only a new pty helps.
        if (const std::string err = m_port.renew(); !err.empty()) {
            std::fprintf(stderr, "veltra-sim: %s\n", err.c_str());
            return false;
        }
        std::fprintf(stderr, "veltra-sim: the line was left locked; now serving %s\n", m_port.slavePath().c_str());
        std::printf("%s\n", m_port.slavePath().c_str());
        std::fflush(stdout);
        return true;
    }

    const SimOptions& m_options;
    SimSignals& m_signals;
    PtyPort& m_port;
    SimController m_controller;
    const bool m_paced;
    const nanoseconds m_byteTime;
    const Clock::time_point m_start = Clock::now();
    bool m_present = false;
    std::vector<std::uint8_t> m_pending;  // bytes still to write to the client
    Clock::time_point m_nextByteAt = m_start;
    std::deque<Incoming> m_inbound;
    Clock::time_point m_lastArrival = m_start;
    std::uint64_t m_droppedNoted = 0;
};

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
    HostLoop loop(m_options, m_signals, port);
    return loop.run();
}

}  // namespace veltra
