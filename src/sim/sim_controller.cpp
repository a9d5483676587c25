#include "sim/sim_controller.h"

#include "model/timer_value.h"
#include "protocol/commands.h"

#include <algorithm>
#include <utility>

namespace veltra {

namespace {

constexpr std::uint8_t kReportOpen = CMD_OPEN;
constexpr std::uint8_t kReportClose = CMD_CLOSE;
constexpr std::uint8_t kRunningOptionNone = 0xF0;
constexpr std::uint8_t kDelayFlag = 1;
constexpr std::uint8_t kExposureFlag = 2;

// Length of the command that starts with `first`; 0 when the selector decides,
// -1 when no command starts with it.
int firstByteLength(std::uint8_t first) {
    switch (first) {
    case CMD_OPEN: case CMD_CLOSE: case CMD_STOP: case CMD_STATUS: case CMD_POWER_ON:
    case CMD_POWER_OFF: case CMD_FAST: case CMD_SOFT: case CMD_ONLINE: case CMD_RESET:
    case CMD_GET_INFO:
        return 1;
    case CMD_NEUTRAL_DENSITY: return 2;
    case CMD_SETTING: return 0;
    default: return -1;
    }
}

// Length of a setting command by its selector; -1 for an unknown selector.
int selectorLength(std::uint8_t sel) {
    const int nibble = sel >> 4;
    if (nibble == kDelayFlag || nibble == kExposureFlag) return 6;
    if (sel >= SEL_TRIGGER_OFF && sel <= SEL_TRIGGER_BASE + 3) return 2;
    if (sel >= SEL_SYNC_OFF && sel <= SEL_SYNC_BASE + 1) return 2;
    if (sel == SEL_RESTORE_DEFAULT || sel == SEL_SAVE_CONFIG) return 2;
    if (sel == SEL_REPEAT) return 4;
    if (sel >= SEL_RUNNING_OPTION_BASE && sel <= SEL_RUNNING_OPTION_BASE + 2) return 2;
    return -1;
}

std::uint8_t u8(int v) { return static_cast<std::uint8_t>(v & 0xFF); }

// A zero timer reports 0x00, so the utility's timer selection only follows
// timers that are really programmed; any other carries its flag nibble.
std::uint8_t flagAndHours(std::uint8_t flag, const SimTimer& t) {
    return t.isZero() ? std::uint8_t{0} : u8(flag << 4 | (t.hours & 0x0F));
}

SimTimer timerFrom(const std::vector<std::uint8_t>& cmd) {
    return {u8(cmd[1] & 0x0F), cmd[2], cmd[3], cmd[4], cmd[5]};
}

}  // namespace

// "VELTRA S" and "1.12": readable, and plainly not a real unit's data.
const std::array<std::uint8_t, kSimInfoLength> SimController::kInfo{
    'V', 'E', 'L', 'T', 'R', 'A', ' ', 'S', '1', '.', '1', '2'};

bool SimTimer::isZero() const {
    return hours == 0 && minutes == 0 && seconds == 0 && packedHigh == 0 && packedLow == 0;
}

SimTime SimTimer::duration() const {
    // Nibbles above 9 are taken at face value: the controller does not check.
    const long long whole = (static_cast<long long>(hours) * 60 + minutes) * 60 + seconds;
    const long long part = (packedHigh >> 4) * 100'000LL + (packedHigh & 0x0F) * 10'000LL +
                           (packedLow >> 4) * 1'000LL + (packedLow & 0x0F) * 100LL;
    return SimTime{whole * 1'000'000 + part};
}

std::optional<SimTimer> SimTimer::fromTenths(long long tenths) {
    if (tenths < 0) return std::nullopt;
    const long long part = tenths % 10'000;  // milliseconds * 10 + tenths
    const long long secs = tenths / 10'000;
    const long long hours = secs / 3600;
    if (hours > 15) return std::nullopt;
    const auto digit = [part](int i) {
        long long v = part;
        for (int k = 0; k < i; ++k) v /= 10;
        return static_cast<int>(v % 10);
    };
    return SimTimer{u8(static_cast<int>(hours)), u8(static_cast<int>(secs / 60 % 60)),
                    u8(static_cast<int>(secs % 60)), u8(digit(3) << 4 | digit(2)),
                    u8(digit(1) << 4 | digit(0))};
}

SimController::SimController(const SimSettings& powerUp) : m_saved(powerUp) {
    this->powerUp(SimTime{0});
}

void SimController::powerUp(SimTime now) {
    m_settings = m_saved;
    m_powerOn = true;
    if (m_settings.runningOption == SimRunningOption::PowerUp) startSeries(now);
    else if (m_settings.runningOption == SimRunningOption::TriggerPulse) armTrigger();
}

std::vector<SimReceived> SimController::receive(std::span<const std::uint8_t> bytes, SimTime now) {
    catchUp(now);
    std::vector<SimReceived> log;
    for (const std::uint8_t b : bytes) feed(b, m_now, log);
    return log;
}

bool SimController::trigger(SimTime now) {
    catchUp(now);
    if (m_run != RunKind::Trigger || m_phase != Phase::Waiting) return false;
    beginCycle(m_now);
    return true;
}

std::vector<SimOutput> SimController::advance(SimTime now) {
    catchUp(now);
    m_readyBytes = 0;
    return std::exchange(m_ready, {});
}

std::optional<SimTime> SimController::nextDue() const {
    if (!m_ready.empty()) return m_ready.front().at;
    if (m_events.empty()) return std::nullopt;
    return m_events.begin()->first;
}

void SimController::catchUp(SimTime now) {
    now = std::max(now, m_now);
    m_catchUpTo = now;
    while (!m_events.empty() && m_events.begin()->first <= now) {
        auto node = m_events.extract(m_events.begin());
        m_now = node.key();
        handle(node.mapped(), m_now);
    }
    m_now = now;
}

void SimController::schedule(SimTime at, EventKind kind) { m_events.emplace(at, kind); }

void SimController::cancel(EventKind kind) {
    std::erase_if(m_events, [kind](const auto& e) { return e.second == kind; });
}

void SimController::send(SimTime at, std::vector<std::uint8_t> bytes) {
    if (bytes.size() > kMaxReadyBytes - m_readyBytes) {
        m_dropped += bytes.size();
        return;
    }
    m_readyBytes += bytes.size();
    m_ready.push_back({at, std::move(bytes)});
}

void SimController::handle(EventKind kind, SimTime at) {
    if (kind == EventKind::Boot) {
        send(at, {kCarriageReturn});
        powerUp(at);
        return;
    }
    if (m_phase == Phase::Delay) {
        m_settings.shutterOpen = true;
        send(at, {kReportOpen});
        m_phase = Phase::Exposure;
        schedule(at + m_settings.exposure.duration() + moveTime(), EventKind::RunStep);
        return;
    }
    if (m_phase != Phase::Exposure) return;
    m_settings.shutterOpen = false;
    send(at, {kReportClose});
    if (!m_continuous) --m_cyclesLeft;
    if (m_run == RunKind::Series) {
        if (m_continuous || m_cyclesLeft > 0) {
            beginCycle(at);
        } else {
            send(at, {kCarriageReturn});
            stopRun();
        }
        return;
    }
    // On Trigger Pulse: wait for the next pulse. With the trigger input off
    // the utility stops counting after `repeat` cycles, and so does the run.
    m_phase = Phase::Waiting;
    if (!m_continuous && m_settings.triggerMode < 0 && m_cyclesLeft <= 0) stopRun();
}

SimTime SimController::moveTime() const {
    const CycleAllowance a = cycleAllowance(static_cast<int>(m_settings.mode), m_settings.ndSteps);
    const SimTime both{a.milliseconds * 1000LL + a.tenths * 100LL};
    return std::max(both / 2, kShortestMove);
}

void SimController::stopRun() {
    cancel(EventKind::RunStep);
    m_run = RunKind::None;
    m_phase = Phase::Waiting;
}

void SimController::startSeries(SimTime now) {
    stopRun();
    m_continuous = m_settings.repeat == kSimContinuous;
    m_cyclesLeft = m_settings.repeat;
    if (!m_continuous && m_cyclesLeft == 0) {
        send(now, {kCarriageReturn});  // nothing to run
        return;
    }
    m_run = RunKind::Series;
    beginCycle(now);
}

void SimController::armTrigger() {
    stopRun();
    m_continuous = m_settings.repeat == kSimContinuous;
    m_cyclesLeft = m_settings.repeat;
    m_run = RunKind::Trigger;
    m_phase = Phase::Waiting;
}

void SimController::beginCycle(SimTime now) {
    // With nothing more to be sent before the next advance(), whole cycles
    // up to then go by at once: each would only add its two dropped reports.
    // The last cycle of a series always runs, so that it ends as usual.
    if (m_run == RunKind::Series && m_readyBytes >= kMaxReadyBytes && now < m_catchUpTo) {
        const SimTime cycle = m_settings.delay.duration() + m_settings.exposure.duration() + 2 * moveTime();
        long long skip = (m_catchUpTo - now) / cycle;
        if (!m_continuous) skip = std::min<long long>(skip, m_cyclesLeft - 1);
        if (skip > 0) {
            now += skip * cycle;
            m_dropped += 2 * static_cast<std::uint64_t>(skip);
            if (!m_continuous) m_cyclesLeft -= static_cast<int>(skip);
        }
    }
    m_phase = Phase::Delay;
    schedule(now + m_settings.delay.duration() + moveTime(), EventKind::RunStep);
}

void SimController::feed(std::uint8_t b, SimTime now, std::vector<SimReceived>& log) {
    const auto skip = [&log](std::uint8_t x) {
        if (log.empty() || log.back().command) log.push_back({{}, false});
        log.back().bytes.push_back(x);
    };
    int length = 0;
    if (m_partial.empty()) {
        length = firstByteLength(b);
        if (length < 0) {
            skip(b);
            return;
        }
    } else if (m_partial.size() == 1 && m_partial[0] == CMD_SETTING) {
        length = selectorLength(b);
        if (length < 0) {
            // Not a selector: the prefix was noise, and this byte may start a
            // command of its own.
            m_partial.clear();
            skip(CMD_SETTING);
            feed(b, now, log);
            return;
        }
    } else {
        length = m_partial[0] == CMD_NEUTRAL_DENSITY ? 2 : selectorLength(m_partial[1]);
    }
    m_partial.push_back(b);
    if (length == 0 || static_cast<int>(m_partial.size()) < length) return;
    std::vector<std::uint8_t> cmd = std::exchange(m_partial, {});
    log.push_back({cmd, true});
    execute(cmd, now);
}

void SimController::execute(const std::vector<std::uint8_t>& cmd, SimTime now) {
    std::vector<std::uint8_t> answer = cmd;
    bool closing = true;  // most answers end with a carriage return
    SimSettings& s = m_settings;

    switch (cmd[0]) {
    case CMD_ONLINE:
        closing = false;
        break;
    case CMD_STATUS: {
        const auto st = statusBytes();
        answer.insert(answer.end(), st.begin(), st.end());
        closing = false;
        break;
    }
    case CMD_GET_INFO:
        answer.insert(answer.end(), kInfo.begin(), kInfo.end());
        closing = false;
        break;
    case CMD_RESET:
        // Back in the power-up state at once; the carriage return tells the
        // utility the controller is ready again.
        stopRun();
        cancel(EventKind::Boot);
        m_settings = m_saved;
        m_powerOn = true;
        schedule(now + kResetTime, EventKind::Boot);
        closing = false;
        break;
    case CMD_OPEN: s.shutterOpen = true; break;
    case CMD_CLOSE: s.shutterOpen = false; break;
    case CMD_STOP: stopRun(); break;
    case CMD_POWER_ON: m_powerOn = true; break;
    case CMD_POWER_OFF: m_powerOn = false; break;
    case CMD_FAST: s.mode = SimMode::Fast; break;
    case CMD_SOFT: s.mode = SimMode::Soft; break;
    case CMD_NEUTRAL_DENSITY:
        s.mode = SimMode::NeutralDensity;
        s.ndSteps = cmd[1];
        break;
    case CMD_SETTING:
        if (!applySetting(cmd, now, answer, closing)) return;
        break;
    default:
        return;  // the parser passes known commands only
    }
    if (closing) answer.push_back(kCarriageReturn);
    send(now, std::move(answer));
}

bool SimController::applySetting(const std::vector<std::uint8_t>& cmd, SimTime now,
                                 std::vector<std::uint8_t>& answer, bool& closing) {
    SimSettings& s = m_settings;
    const std::uint8_t sel = cmd[1];
    const int nibble = sel >> 4;
    if (nibble == kDelayFlag) {
        s.delay = timerFrom(cmd);
    } else if (nibble == kExposureFlag) {
        s.exposure = timerFrom(cmd);
    } else if (sel == SEL_TRIGGER_OFF) {
        s.triggerMode = -1;
    } else if (sel > SEL_TRIGGER_OFF && sel <= SEL_TRIGGER_BASE + 3) {
        s.triggerMode = sel - SEL_TRIGGER_BASE;
    } else if (sel == SEL_SYNC_OFF) {
        s.syncMode = -1;
    } else if (sel > SEL_SYNC_OFF && sel <= SEL_SYNC_BASE + 1) {
        s.syncMode = sel - SEL_SYNC_BASE;
    } else if (sel == SEL_RESTORE_DEFAULT) {
        stopRun();
        s = SimSettings{};
    } else if (sel == SEL_SAVE_CONFIG) {
        m_saved = s;
    } else if (sel == SEL_REPEAT) {
        s.repeat = static_cast<std::uint16_t>(cmd[2] << 8 | cmd[3]);
    } else {
        s.runningOption = static_cast<SimRunningOption>(sel - SEL_RUNNING_OPTION_BASE);
        if (s.runningOption == SimRunningOption::PowerUp) {
            stopRun();  // the closing carriage return ends any run the utility follows
            return true;
        }
        // The utility counts this run from now on: no carriage return.
        closing = false;
        send(now, std::move(answer));
        if (s.runningOption == SimRunningOption::Go) startSeries(now);
        else armTrigger();
        return false;
    }
    return true;
}

std::array<std::uint8_t, kSimStatusLength> SimController::statusBytes() const {
    const SimSettings& s = m_settings;
    std::array<std::uint8_t, kSimStatusLength> out{};  // unused positions stay 0x00
    std::size_t i = 0;
    const auto put = [&out, &i](std::uint8_t b) { out[i++] = b; };
    const auto putTimer = [&put](std::uint8_t flag, const SimTimer& t) {
        put(flagAndHours(flag, t));
        put(t.minutes);
        put(t.seconds);
        put(t.packedHigh);
        put(t.packedLow);
    };

    put(s.shutterOpen ? kReportOpen : kReportClose);
    put(u8(CMD_FAST + static_cast<int>(s.mode)));
    if (s.mode == SimMode::NeutralDensity) {
        put(s.ndSteps);
        put(0x00);
    } else {
        put(0x00);
    }
    put(s.triggerMode < 0 ? u8(SEL_TRIGGER_OFF) : u8(SEL_TRIGGER_BASE + s.triggerMode));
    put(s.syncMode < 0 ? u8(SEL_SYNC_OFF) : u8(SEL_SYNC_BASE + s.syncMode));
    putTimer(kDelayFlag, s.delay);
    putTimer(kExposureFlag, s.exposure);
    put(s.runningOption == SimRunningOption::None
            ? kRunningOptionNone
            : u8(SEL_RUNNING_OPTION_BASE + static_cast<int>(s.runningOption)));
    put(u8(s.repeat >> 8));
    put(u8(s.repeat));
    // The Fast and Soft layout ends with one unused position (18), sent as
    // 0x00 like every unused position: a 0x0D there would end a run the
    // utility is following if Status is asked during the run.
    return out;
}

}  // namespace veltra
