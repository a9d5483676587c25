#include "protocol/reply_decoder.h"

#include "model/cp1252.h"
#include "model/leading_int.h"
#include "model/number_format.h"
#include "protocol/apply_download.h"

#include <cstdio>

namespace veltra {

namespace {

std::string logLine(std::uint8_t b, int blanks) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d%*s0x%.2X", b, blanks, "", b);
    return buf;
}

// Fields of the status reply, by position, in the two layouts.
enum Field : std::uint8_t {
    kUnused, kPosition, kMode, kSteps, kTrigger, kSync,
    kDelayHours, kDelayMinutes, kDelaySeconds, kDelayMsHigh, kDelayMsLow,
    kExposureHours, kExposureMinutes, kExposureSeconds, kExposureMsHigh, kExposureMsLow,
    kRunningOption, kRepeatHigh, kRepeatLow,
};

constexpr Field kFastLayout[19] = {
    kPosition, kMode, kUnused, kTrigger, kSync,
    kDelayHours, kDelayMinutes, kDelaySeconds, kDelayMsHigh, kDelayMsLow,
    kExposureHours, kExposureMinutes, kExposureSeconds, kExposureMsHigh, kExposureMsLow,
    kRunningOption, kRepeatHigh, kRepeatLow, kUnused};

// Neutral Density carries its step count after the mode byte.
constexpr Field kNdLayout[19] = {
    kPosition, kMode, kSteps, kUnused, kTrigger, kSync,
    kDelayHours, kDelayMinutes, kDelaySeconds, kDelayMsHigh, kDelayMsLow,
    kExposureHours, kExposureMinutes, kExposureSeconds, kExposureMsHigh, kExposureMsLow,
    kRunningOption, kRepeatHigh, kRepeatLow};

constexpr int kLastStatusPosition = 18;

void msHigh(std::string& ms, std::uint8_t b) {
    ms = std::to_string(((b / 16) * 10 + (b % 16)) * 10);
}

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

}  // namespace

std::string normalLogLine(std::uint8_t b) { return logLine(b, b < 10 ? 11 : b < 100 ? 9 : 7); }
std::string runLogLine(std::uint8_t b) { return logLine(b, b < 100 ? 9 : 7); }

std::string ndOpeningText(int steps, double factor) {
    return formatFixedHalfUp(steps * factor, 1) + " ms";
}

int ReplyDecoder::onPortRxChar(PanelState& s, int byte, int port) {
    if (port < 1 || port > kPortCount) return kRxIgnored;
    const auto b = static_cast<std::uint8_t>(byte);

    if (m_p.infoCount >= 0) {
        collectInfo(s, b);
        return kRxInfo;
    }
    if (m_p.runMode > 0) {
        countRun(s, b);
        return kRxRun;
    }
    s.log.append(normalLogLine(b));
    if (m_p.awaitingOnlineReply == 1 && b == CMD_ONLINE) {
        m_p.activePort = port;
        m_p.awaitingOnlineReply = 0;
        s.ports[static_cast<std::size_t>(port - 1)].status = kReadyText;
        return kRxOnline;
    }
    if (m_p.applyReplyCount >= 0) {
        applyDownloadStep(s, m_p, m_sink);
        return kRxApply;
    }
    if (m_p.statusRequestPending == 1 && b == kCarriageReturn) {
        if (m_p.activePort != 0) m_sink.send(m_p.activePort, statusCommand());
        m_p.statusRequestPending = -1;
        return kRxAutoStatus;
    }
    decodeStatus(s, b);
    return kRxStatus;
}

void ReplyDecoder::collectInfo(PanelState& s, std::uint8_t b) {
    m_p.infoBytes[static_cast<std::size_t>(m_p.infoCount)] = b;
    ++m_p.infoCount;
    if (m_p.infoCount == 8) s.log.append(infoText(m_p.infoBytes.data(), 8));
    if (m_p.infoCount == 12) {
        s.log.append(infoText(m_p.infoBytes.data() + 8, 4));
        m_p.infoCount = -1;
    }
}

void ReplyDecoder::countRun(PanelState& s, std::uint8_t b) {
    const bool open = b == CMD_OPEN, close = b == CMD_CLOSE;
    if (close) s.shutterPosition = 1;
    if (open) s.shutterPosition = 0;
    if (!open && !close) {
        s.log.append(runLogLine(b));
        if (b == kCarriageReturn) {
            m_p.runMode = 0;
            s.leftCycleText = s.repeatText;
        }
        return;
    }
    if (s.repeatText == kContinuousText) return;
    if (!((open && m_p.runStartPosition == 0) || (close && m_p.runStartPosition == 1))) return;
    const long long n = leadingInt(s.leftCycleText);
    if (n == 1) {
        s.leftCycleText = s.repeatText;
        if (m_p.runMode == 2 || (m_p.runMode == 1 && s.triggerMode == -1)) m_p.runMode = 0;
    } else {
        s.leftCycleText = std::to_string(n - 1);
    }
}

void ReplyDecoder::decodeStatus(PanelState& s, std::uint8_t b) {
    if (m_p.statusIndex == -1) {
        if (b == CMD_STATUS) m_p.statusIndex = 0;
        else if (b == CMD_GET_INFO) m_p.infoCount = 0;
        return;
    }
    const int k = m_p.statusIndex;
    m_p.statusIndex = k + 1;
    if (k <= kLastStatusPosition) decodeField(s, k, b);
}

void ReplyDecoder::decodeField(PanelState& s, int k, std::uint8_t b) {
    const Field field = (s.shutterMode == 2 ? kNdLayout : kFastLayout)[k];
    switch (field) {
    case kUnused: break;
    case kPosition: s.shutterPosition = b == CMD_OPEN ? 0 : 1; break;
    case kMode:
        s.shutterMode = b - CMD_FAST;
        if (b == CMD_SOFT) {
            s.openingLabel = s.closingLabel = "70 ms";
            s.ndCaption = kNeutralDensityCaption;
        } else if (b != CMD_NEUTRAL_DENSITY) {
            s.openingLabel = s.closingLabel = "12 ms";
            s.ndCaption = kNeutralDensityCaption;
        }
        break;
    case kSteps:
        s.ndSteps = b;
        s.openingLabel = s.closingLabel = ndOpeningText(b, 0.2638888888888889);
        s.ndCaption = std::string(kNeutralDensityCaption) + " - " + std::to_string(b);
        break;
    case kTrigger:
        s.triggerPulseChecked = b != SEL_TRIGGER_OFF;
        s.triggerMode = b == SEL_TRIGGER_OFF ? -1 : b - SEL_TRIGGER_BASE;
        break;
    case kSync:
        s.syncPulseChecked = b != SEL_SYNC_OFF;
        s.syncMode = b == SEL_SYNC_OFF ? -1 : b - SEL_SYNC_BASE;
        break;
    case kDelayHours:
        s.delayTime.hours = std::to_string(b & 0x0F);
        s.timerSelectIndex = b != 0 ? 0 : -1;
        break;
    case kExposureHours:
        s.exposureTime.hours = std::to_string(b & 0x0F);
        if (b != 0) s.timerSelectIndex = 1;
        break;
    case kDelayMinutes: s.delayTime.minutes = std::to_string(b); break;
    case kDelaySeconds: s.delayTime.seconds = std::to_string(b); break;
    case kExposureMinutes: s.exposureTime.minutes = std::to_string(b); break;
    case kExposureSeconds: s.exposureTime.seconds = std::to_string(b); break;
    case kDelayMsHigh: msHigh(s.delayTime.milliseconds, b); break;
    case kExposureMsHigh: msHigh(s.exposureTime.milliseconds, b); break;
    case kDelayMsLow: msLow(s.delayTime, b); break;
    case kExposureMsLow: msLow(s.exposureTime, b); break;
    case kRunningOption: s.runningOption = b == SEL_REPEAT ? -1 : b - SEL_RUNNING_OPTION_BASE; break;
    case kRepeatHigh: m_p.repeatHighByte = b * 256; break;
    case kRepeatLow:
        s.repeatText = std::to_string(m_p.repeatHighByte + b);
        s.leftCycleText = s.repeatText;
        break;
    }
    if (k == kLastStatusPosition) endOfReply(s);
}

void ReplyDecoder::endOfReply(PanelState& s) {
    m_p.statusIndex = -1;
    s.cycleTime = computeCycleTime(s.delayTime, s.exposureTime, s.shutterMode, s.ndSteps);
    s.cycleLabel = cycleTimeLabel(s.cycleTime);
    s.editedTime = s.timerSelectIndex == 1 ? s.exposureTime : s.delayTime;
    for (int f = 0; f < kTimerFieldCount; ++f) setSlider(s, f, s.editedTime.value(f));
    s.delayLabel = formatTimerValue(s.delayTime, false);
    s.exposureLabel = formatTimerValue(s.exposureTime, false);
}

}  // namespace veltra
