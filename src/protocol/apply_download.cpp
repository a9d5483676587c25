#include "protocol/apply_download.h"

#include "model/leading_int.h"

namespace veltra {

const char* applyStepName(ApplyStep step) {
    switch (step) {
    case ApplyStep::Position: return "shutter position";
    case ApplyStep::Mode: return "shutter mode";
    case ApplyStep::Trigger: return "trigger input";
    case ApplyStep::Sync: return "sync output";
    case ApplyStep::Delay: return "delay timer";
    case ApplyStep::Exposure: return "exposure timer";
    case ApplyStep::Repeat: return "repeat count";
    case ApplyStep::RunningOption: return "running option";
    }
    return "";
}

std::optional<Command> applyStepCommand(ApplyStep step, const ControllerSettings& s) {
    switch (step) {
    case ApplyStep::Position: return shutterCommand(s.shutterPosition);
    case ApplyStep::Mode: return modeCommand(s.shutterMode, s.ndSteps);
    case ApplyStep::Trigger: return triggerCommand(s.triggerMode);
    case ApplyStep::Sync: return syncCommand(s.syncMode);
    case ApplyStep::Delay: return timerCommand(TimerSelector::Delay, s.delayTime);
    case ApplyStep::Exposure: return timerCommand(TimerSelector::Exposure, s.exposureTime);
    case ApplyStep::Repeat: {
        if (s.repeatText == kContinuousText) return repeatCommand(0xFF, 0xFF);
        const auto hl = repeatCountBytes(leadingInt(s.repeatText));
        return repeatCommand(hl[0], hl[1]);
    }
    case ApplyStep::RunningOption: return runningOptionCommand(s.runningOption);
    }
    return std::nullopt;
}

void ApplyPacing::start(int port) {
    m_count = 0;
    m_nextAt = 2;  // the one-byte position command is answered with two bytes
    m_port = port;
    m_lastSent = ApplyStep::Position;
}

void ApplyPacing::stop() { m_count = m_nextAt = -1; }

ApplyStep ApplyPacing::stepAt(int count) {
    if (count <= 2) return ApplyStep::Mode;
    if (count <= 5) return ApplyStep::Trigger;
    if (count <= 8) return ApplyStep::Sync;
    if (count <= 11) return ApplyStep::Delay;
    if (count <= 18) return ApplyStep::Exposure;
    if (count <= 25) return ApplyStep::Repeat;
    return ApplyStep::RunningOption;
}

std::optional<ApplyStep> ApplyPacing::countByte() {
    if (!active()) return std::nullopt;
    if (++m_count != m_nextAt) return std::nullopt;
    const ApplyStep step = stepAt(m_count);
    // The last step ends the download before its command goes out.
    if (step == ApplyStep::RunningOption) stop();
    return step;
}

void ApplyPacing::stepSent(ApplyStep step, int length) {
    if (!active()) return;
    if (step == ApplyStep::Mode && length == 0) {
        // No mode to send: the trigger step follows at once. The count is
        // rebased as though a one-byte mode command had been answered, so the
        // later thresholds fall on their usual steps.
        m_count = m_nextAt = 4;
        return;
    }
    m_lastSent = step;
    m_nextAt += length + 1;
}

}  // namespace veltra
