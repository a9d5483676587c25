#include "protocol/reply_decoder.h"

#include "model/cp1252.h"
#include "model/leading_int.h"

#include <cstdio>

namespace veltra {

namespace {

std::string logLine(std::uint8_t b, int blanks) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d%*s0x%.2X", b, blanks, "", b);
    return buf;
}

using F = StatusField;

constexpr StatusField kFastLayout[19] = {
    F::Position, F::Mode, F::Unused, F::Trigger, F::Sync,
    F::DelayHours, F::DelayMinutes, F::DelaySeconds, F::DelayMsHigh, F::DelayMsLow,
    F::ExposureHours, F::ExposureMinutes, F::ExposureSeconds, F::ExposureMsHigh, F::ExposureMsLow,
    F::RunningOption, F::RepeatHigh, F::RepeatLow, F::Unused};

// Neutral Density carries its step count after the mode byte.
constexpr StatusField kNdLayout[19] = {
    F::Position, F::Mode, F::Steps, F::Unused, F::Trigger, F::Sync,
    F::DelayHours, F::DelayMinutes, F::DelaySeconds, F::DelayMsHigh, F::DelayMsLow,
    F::ExposureHours, F::ExposureMinutes, F::ExposureSeconds, F::ExposureMsHigh, F::ExposureMsLow,
    F::RunningOption, F::RepeatHigh, F::RepeatLow};

constexpr int kLastStatusPosition = 18;

// Milliseconds arrive as packed decimal: hundreds and tens, then units and tenths.
void msHigh(std::string& ms, std::uint8_t b) { ms = std::to_string(((b / 16) * 10 + (b % 16)) * 10); }

void msLow(TimerValue& t, std::uint8_t b) {
    t.milliseconds = std::to_string(static_cast<long long>(leadingInt(t.milliseconds)) + b / 16);
    t.tenths = std::to_string(b % 16);
}

// Information bytes shown as characters; a 0 byte ends the visible text.
std::string infoText(const std::uint8_t* bytes, int n) {
    std::string raw;
    for (int i = 0; i < n && bytes[i] != 0; ++i) raw.push_back(static_cast<char>(bytes[i]));
    return cp1252ToUtf8(raw);
}

const char* flowName(Flow flow) {
    switch (flow) {
    case Flow::Apply: return "Apply stopped";
    case Flow::Run: return "Run count stopped";
    case Flow::Info: return "Controller information abandoned";
    case Flow::StatusReply: return "Status reply abandoned";
    case Flow::StatusRequest: return "Status request dropped";
    }
    return "";
}

}  // namespace

// Every byte's two lines, made once: a fast line logs thousands a second.
std::string_view normalLogLine(std::uint8_t b) {
    static const std::array<std::string, 256> lines = [] {
        std::array<std::string, 256> all;
        for (int v = 0; v < 256; ++v)
            all[static_cast<std::size_t>(v)] = logLine(static_cast<std::uint8_t>(v), v < 10 ? 11 : v < 100 ? 9 : 7);
        return all;
    }();
    return lines[b];
}

std::string_view runLogLine(std::uint8_t b) {
    static const std::array<std::string, 256> lines = [] {
        std::array<std::string, 256> all;
        for (int v = 0; v < 256; ++v)
            all[static_cast<std::size_t>(v)] = logLine(static_cast<std::uint8_t>(v), v < 100 ? 9 : 7);
        return all;
    }();
    return lines[b];
}

void ReplyDecoder::noteSent(int port, const Command& command) {
    if (port < 1 || port > kPortCount) return;
    auto& echo = m_echo[static_cast<std::size_t>(port - 1)];
    echo.sent(command);
}

bool ReplyDecoder::echoExpected(int port) const {
    return port >= 1 && port <= kPortCount && m_echo[static_cast<std::size_t>(port - 1)].expecting();
}

void ReplyDecoder::requestStatusAtNextCr(int port) { m_statusRequestPort = port; }

void ReplyDecoder::followRun(int runMode, int startPosition, int port) {
    m_runMode = runMode;
    m_runStartPosition = startPosition;
    m_runPort = port;
}

void ReplyDecoder::startApply(int port) { m_apply.start(port); }

RxResult ReplyDecoder::onPortRxChar(int byte, int port) {
    if (port < 1 || port > kPortCount) return RxResult::Ignored;
    const auto b = static_cast<std::uint8_t>(byte);

    if (m_infoCount >= 0) {
        collectInfo(b);
        return RxResult::Info;
    }
    // Inside a status reply every byte is reply data, whatever it repeats.
    EchoTracker& tracker = m_echo[static_cast<std::size_t>(port - 1)];
    const EchoMatch echo = m_statusIndex >= 0 ? EchoMatch::None : tracker.match(b);
    // The carriage return that closes a command's answer means what that
    // command's answer means: STOP's ends a run, Reset's and Restore
    // Default's say the controller is back; another command's means nothing
    // (a Go or a Reset sent right after a setting must not take it for its
    // own). One that closes no echo speaks for the controller, as always.
    const bool closing = echo == EchoMatch::Closing;
    const Command& closed = tracker.closed();
    const bool runEndCr = b == kCarriageReturn && echo != EchoMatch::Echo && (!closing || closed == stopCommand());
    const bool backCr = b == kCarriageReturn && echo != EchoMatch::Echo &&
                        (!closing || closed == resetCommand() || closed == restoreDefaultCommand());
    if (m_runMode > 0) {
        countRun(b, echo, runEndCr);
        return RxResult::Run;
    }
    m_out.logLine(normalLogLine(b));
    const bool isEcho = echo == EchoMatch::Echo;
    if (m_awaitingOnline && b == CMD_ONLINE && !isEcho) {
        m_awaitingOnline = false;
        m_out.onlineReply(port);
        return RxResult::Online;
    }
    if (m_apply.active()) {
        // The download counts its answers whole, echo included.
        applyByte();
        return RxResult::Apply;
    }
    if (m_statusRequestPort != 0 && backCr) {
        m_statusRequestPort = 0;
        m_out.statusRequestDue();
        return RxResult::AutoStatus;
    }
    if (isEcho) return RxResult::Echo;
    decodeStatus(b, port);
    return RxResult::Status;
}

void ReplyDecoder::collectInfo(std::uint8_t b) {
    m_infoBytes[static_cast<std::size_t>(m_infoCount)] = b;
    ++m_infoCount;
    if (m_infoCount == 8) m_out.logLine(infoText(m_infoBytes.data(), 8));
    if (m_infoCount == 12) {
        m_infoCount = -1;
        const std::string second = infoText(m_infoBytes.data() + 8, 4);
        m_out.logLine(second);
        m_out.infoComplete(infoText(m_infoBytes.data(), 8), second);
    }
}

void ReplyDecoder::countRun(std::uint8_t b, EchoMatch echo, bool runEndCr) {
    const bool open = b == CMD_OPEN, close = b == CMD_CLOSE;
    if ((!open && !close) || echo == EchoMatch::Echo) {
        m_out.logLine(runLogLine(b));
        if (runEndCr) {
            m_runMode = 0;
            m_out.runEnded();
        }
        return;
    }
    RunReport report;
    report.shutterPosition = open ? 0 : 1;
    const RunView view = m_out.runView();
    report.leftCycleText = std::string(view.leftCycleText);
    const bool atStart = (open && m_runStartPosition == 0) || (close && m_runStartPosition == 1);
    if (view.repeatText != kContinuousText && atStart) {
        report.counted = true;
        const long long n = leadingInt(view.leftCycleText);
        if (n == 1) {
            report.leftCycleText = std::string(view.repeatText);
            // A trigger-pulse run with its input on counts down again.
            if (m_runMode == 2 || (m_runMode == 1 && view.triggerMode == -1)) {
                m_runMode = 0;
                report.runEnded = true;
            }
        } else {
            report.leftCycleText = std::to_string(n - 1);
        }
    }
    m_out.runReport(report);
}

void ReplyDecoder::applyByte() {
    const std::optional<ApplyStep> due = m_apply.countByte();
    if (!due) return;
    ApplyStep step = *due;
    std::optional<Command> sent = m_out.applyStepDue(step);
    if (step == ApplyStep::Mode && !sent) {
        m_apply.stepSent(step, 0);
        step = ApplyStep::Trigger;
        sent = m_out.applyStepDue(step);
    }
    if (step == ApplyStep::RunningOption) return;  // the download has ended
    if (!sent) {
        m_apply.stop();
        return;
    }
    m_apply.stepSent(step, sent->length);
}

void ReplyDecoder::decodeStatus(std::uint8_t b, int port) {
    if (m_statusIndex == -1) {
        if (b == CMD_STATUS) {
            m_statusIndex = 0;
            m_statusPort = port;
            m_record = StatusRecord{};
        } else if (b == CMD_GET_INFO) {
            m_infoCount = 0;
            m_infoPort = port;
        }
        return;
    }
    const int k = m_statusIndex;
    m_statusIndex = k + 1;
    if (k <= kLastStatusPosition) decodeField(k, b);
}

void ReplyDecoder::decodeField(int k, std::uint8_t b) {
    StatusRecord& r = m_record;
    const StatusField field = (r.shutterMode == 2 ? kNdLayout : kFastLayout)[k];
    switch (field) {
    case F::Unused: break;
    case F::Position: r.shutterPosition = b == CMD_OPEN ? 0 : 1; break;
    case F::Mode: r.shutterMode = b - CMD_FAST; break;
    case F::Steps: r.ndSteps = b; break;
    case F::Trigger: r.triggerMode = b == SEL_TRIGGER_OFF ? -1 : b - SEL_TRIGGER_BASE; break;
    case F::Sync: r.syncMode = b == SEL_SYNC_OFF ? -1 : b - SEL_SYNC_BASE; break;
    case F::DelayHours:
        r.delayTime.hours = std::to_string(b & 0x0F);
        r.timerSelectIndex = b != 0 ? 0 : -1;
        break;
    case F::ExposureHours:
        r.exposureTime.hours = std::to_string(b & 0x0F);
        if (b != 0) r.timerSelectIndex = 1;
        break;
    case F::DelayMinutes: r.delayTime.minutes = std::to_string(b); break;
    case F::DelaySeconds: r.delayTime.seconds = std::to_string(b); break;
    case F::ExposureMinutes: r.exposureTime.minutes = std::to_string(b); break;
    case F::ExposureSeconds: r.exposureTime.seconds = std::to_string(b); break;
    case F::DelayMsHigh: msHigh(r.delayTime.milliseconds, b); break;
    case F::ExposureMsHigh: msHigh(r.exposureTime.milliseconds, b); break;
    case F::DelayMsLow: msLow(r.delayTime, b); break;
    case F::ExposureMsLow: msLow(r.exposureTime, b); break;
    case F::RunningOption: r.runningOption = b == SEL_REPEAT ? -1 : b - SEL_RUNNING_OPTION_BASE; break;
    case F::RepeatHigh: m_repeatHighByte = b * 256; break;
    case F::RepeatLow: r.repeatText = std::to_string(m_repeatHighByte + b); break;
    }
    if (field != F::Unused) m_out.statusField(r, field);
    if (k == kLastStatusPosition) {
        m_statusIndex = -1;
        m_out.statusComplete(r);
    }
}

void ReplyDecoder::endFlow(Flow flow, int port, std::string_view why) {
    m_out.logLine(std::string(flowName(flow)) + ": COM" + std::to_string(port) + " " + std::string(why));
    m_out.flowEnded(flow, port);
}

void ReplyDecoder::portClosed(int port, std::string_view why) {
    if (port < 1 || port > kPortCount) return;
    m_echo[static_cast<std::size_t>(port - 1)].clear();
    if (m_apply.active() && m_apply.port() == port) {
        m_apply.stop();
        endFlow(Flow::Apply, port, why);
    }
    if (m_runMode > 0 && m_runPort == port) {
        m_runMode = 0;
        endFlow(Flow::Run, port, why);
    }
    if (m_infoCount >= 0 && m_infoPort == port) {
        m_infoCount = -1;
        endFlow(Flow::Info, port, why);
    }
    if (m_statusIndex >= 0 && m_statusPort == port) {
        m_statusIndex = -1;
        endFlow(Flow::StatusReply, port, why);
    }
    if (m_statusRequestPort == port) {
        m_statusRequestPort = 0;
        endFlow(Flow::StatusRequest, port, why);
    }
}

}  // namespace veltra
