#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace veltra {

// Time on the simulated controller's own clock, counted from its power-up.
// The model never reads a clock: every call says what time it is.
using SimTime = std::chrono::microseconds;

enum class SimMode : std::uint8_t { Fast = 0, Soft = 1, NeutralDensity = 2 };

// Numbered like the running-option selector: 0xF1 + value.
enum class SimRunningOption : int { None = -1, PowerUp = 0, TriggerPulse = 1, Go = 2 };

// A programmed time exactly as the timer command carries it (minus the flag
// nibble), so a status reply gives back the bytes that were sent.
struct SimTimer {
    std::uint8_t hours = 0;       // low nibble of the selector byte
    std::uint8_t minutes = 0;     // plain count
    std::uint8_t seconds = 0;     // plain count
    std::uint8_t packedHigh = 0;  // milliseconds: hundreds digit << 4 | tens digit
    std::uint8_t packedLow = 0;   // milliseconds: units digit << 4 | tenths of a millisecond

    bool isZero() const;
    SimTime duration() const;
    // From a duration in tenths of a millisecond; none when negative or when
    // the hours do not fit their nibble (16 h and more).
    static std::optional<SimTimer> fromTenths(long long tenths);
    bool operator==(const SimTimer&) const = default;
};

// Everything the controller keeps. The default values are the factory
// settings: shutter closed, Fast, trigger input and sync output off, delay
// and exposure zero, repeat 1, no running option (and 0 neutral-density steps).
struct SimSettings {
    bool shutterOpen = false;
    SimMode mode = SimMode::Fast;
    std::uint8_t ndSteps = 0;
    int triggerMode = -1;  // 0 enable on high, 1 enable on low, 2 rising, 3 falling; -1 off
    int syncMode = -1;     // 0 high for open, 1 low for open; -1 off
    SimTimer delay;
    SimTimer exposure;
    std::uint16_t repeat = 1;  // 0xFFFF runs continuously
    SimRunningOption runningOption = SimRunningOption::None;
    bool operator==(const SimSettings&) const = default;
};

inline constexpr std::uint16_t kSimContinuous = 0xFFFF;
inline constexpr int kSimStatusLength = 19;  // bytes after the 0xCC echo
inline constexpr int kSimInfoLength = 12;    // bytes after the 0xFD echo

// Bytes the controller sends, and when.
struct SimOutput {
    SimTime at{};
    std::vector<std::uint8_t> bytes;
    bool operator==(const SimOutput&) const = default;
};

// What the parser made of received bytes: a whole command, or a run of bytes
// that start no command and were skipped.
struct SimReceived {
    std::vector<std::uint8_t> bytes;
    bool command = true;
    bool operator==(const SimReceived&) const = default;
};

// A simulated Veltra controller with no I/O. Bytes go in through receive(),
// replies and run reports come out of advance(), both stamped with the
// caller's clock, so a test drives whole runs with a fake clock.
//
// Every command of k bytes is answered at once with its k bytes and a
// carriage return, except:
//   - Online (EE) answers EE only; Status (CC) answers CC and 19 status bytes;
//     Get Controller Info (FD) answers FD and 12 characters;
//   - Reset (FB) answers FB at once and a carriage return kResetTime later,
//     when the controller has come back in its power-up state;
//   - running option On Trigger Pulse (FA F2) and Go (FA F3) answer their two
//     bytes only. The utility follows a run from the moment it sends them and
//     takes any carriage return as the end of the run, so a closing 0x0D here
//     would stop it counting before the first cycle. When these end the Apply
//     download, nothing waits for their answer, so the short answer is safe.
//
// A run cycle waits the delay, opens the shutter (report AA once it is open),
// waits the exposure and closes it (report AC once it is closed). Each
// movement takes half the mode's allowance of the utility's cycle time (12 ms
// Fast, 70 ms Soft, steps x 19/72 ms Neutral Density, at least 0.1 ms), so a
// cycle lasts exactly the cycle time the utility shows. Go and On Power Up run
// `repeat` cycles back to back (endlessly for 0xFFFF) and then send 0x0D;
// On Trigger Pulse runs one cycle per trigger pulse, with no carriage return,
// until STOP (or, with the trigger input off, until `repeat` cycles have run,
// where the utility stops counting too). STOP ends any run where it stands
// and answers BF 0D; the shutter stays where it is.
//
// Memory and work stay bounded at any clock speed: between two advance()
// calls at most kMaxReadyBytes are kept for sending and the rest is dropped
// (counted in droppedBytes()), as no line could carry them anyway; while
// that is so, a series skips whole cycles at once instead of playing each.
class SimController {
public:
    static constexpr SimTime kResetTime{50'000};
    static constexpr SimTime kShortestMove{100};
    static constexpr std::size_t kMaxReadyBytes = 64 * 1024;

    // Powers up at time 0 with `powerUp` as the saved configuration; a saved
    // On Power Up option starts its run at once, On Trigger Pulse waits for
    // triggers.
    explicit SimController(const SimSettings& powerUp = {});

    // Takes received bytes in any split; answers go to the next advance().
    // Returns the commands recognised and the bytes skipped, for logging.
    std::vector<SimReceived> receive(std::span<const std::uint8_t> bytes, SimTime now);

    // One pulse on the trigger input. True when it started a cycle: only while
    // On Trigger Pulse waits between cycles.
    bool trigger(SimTime now);

    // Everything sent up to `now`, in order. Times never run backwards: an
    // earlier `now` than seen before counts as the latest one.
    std::vector<SimOutput> advance(SimTime now);

    // When advance() next has something to send; none while idle.
    std::optional<SimTime> nextDue() const;

    // Bytes dropped so far because more was due between two advance() calls
    // than kMaxReadyBytes.
    std::uint64_t droppedBytes() const { return m_dropped; }

    const SimSettings& settings() const { return m_settings; }
    const SimSettings& savedSettings() const { return m_saved; }
    bool powerOn() const { return m_powerOn; }
    // A series of cycles under way, or On Trigger Pulse waiting for triggers.
    bool running() const { return m_run != RunKind::None; }
    // The 19 bytes a status reply carries after its echo.
    std::array<std::uint8_t, kSimStatusLength> statusBytes() const;

    static const std::array<std::uint8_t, kSimInfoLength> kInfo;

private:
    enum class RunKind { None, Series, Trigger };
    enum class Phase { Waiting, Delay, Exposure };
    enum class EventKind { RunStep, Boot };

    void catchUp(SimTime now);
    void handle(EventKind kind, SimTime at);
    void feed(std::uint8_t b, SimTime now, std::vector<SimReceived>& log);
    void execute(const std::vector<std::uint8_t>& cmd, SimTime now);
    // A setting command (0xFA): false once it has sent its own answer.
    bool applySetting(const std::vector<std::uint8_t>& cmd, SimTime now, std::vector<std::uint8_t>& answer,
                      bool& closing);
    void send(SimTime at, std::vector<std::uint8_t> bytes);
    void powerUp(SimTime now);
    void stopRun();
    void startSeries(SimTime now);
    void armTrigger();
    void beginCycle(SimTime now);
    SimTime moveTime() const;
    void schedule(SimTime at, EventKind kind);
    void cancel(EventKind kind);

    SimSettings m_settings;
    SimSettings m_saved;
    bool m_powerOn = true;

    SimTime m_now{0};
    SimTime m_catchUpTo{0};  // the time the running catchUp() goes to
    std::vector<SimOutput> m_ready;
    std::size_t m_readyBytes = 0;
    std::uint64_t m_dropped = 0;
    // Future work in time order; equal times keep their order of scheduling.
    std::multimap<SimTime, EventKind> m_events;

    std::vector<std::uint8_t> m_partial;  // a command still arriving

    RunKind m_run = RunKind::None;
    Phase m_phase = Phase::Waiting;
    bool m_continuous = false;
    int m_cyclesLeft = 0;  // series: cycles still to finish; trigger: before the run stops
};

}  // namespace veltra
