#include "protocol/apply_download.h"

#include "model/leading_int.h"
#include "protocol/reply_decoder.h"

namespace veltra {

namespace {

bool sendActive(ProtocolState& p, CommandSink& sink, const Command& c) {
    return p.activePort != 0 && sink.send(p.activePort, c);
}

}  // namespace

bool startApplyDownload(const PanelState& s, ProtocolState& p, CommandSink& sink) {
    p.applyReplyCount = 0;
    p.applyNextAt = 2;
    return sendActive(p, sink, shutterCommand(s.shutterPosition));
}

void applyDownloadStep(PanelState& s, ProtocolState& p, CommandSink& sink) {
    ++p.applyReplyCount;
    if (p.applyReplyCount != p.applyNextAt) return;

    const int count = p.applyReplyCount;
    if (count <= 2) {
        if (auto mode = modeCommand(s.shutterMode, s.ndSteps)) {
            sendActive(p, sink, *mode);
            p.applyNextAt += mode->length + 1;
            return;
        }
        // No mode to send: go straight on with the trigger step. The count is
        // rebased as though a one-byte mode command had been answered, so the
        // later thresholds fall on their usual steps.
        p.applyReplyCount = 4;
        p.applyNextAt = 4;
        sendActive(p, sink, triggerCommand(s.triggerMode));
        p.applyNextAt += 3;
        return;
    }
    if (count <= 5) {
        sendActive(p, sink, triggerCommand(s.triggerMode));
        p.applyNextAt += 3;
    } else if (count <= 8) {
        sendActive(p, sink, syncCommand(s.syncMode));
        p.applyNextAt += 3;
    } else if (count <= 11) {
        sendActive(p, sink, timerCommand(TimerSelector::Delay, s.delayTime));
        p.applyNextAt += 7;
    } else if (count <= 18) {
        sendActive(p, sink, timerCommand(TimerSelector::Exposure, s.exposureTime));
        p.applyNextAt += 7;
    } else if (count <= 25) {
        std::array<std::uint8_t, 2> hl{0xFF, 0xFF};
        if (s.repeatText != kContinuousText) {
            const int n = leadingInt(s.repeatText);
            if (n < 0) {
                // A negative count would go out as a large one: stop here.
                p.applyReplyCount = p.applyNextAt = -1;
                return;
            }
            hl = repeatCountBytes(n);
        }
        sendActive(p, sink, repeatCommand(hl[0], hl[1]));
        p.applyNextAt += 5;
    } else {
        p.applyReplyCount = -1;
        p.applyNextAt = -1;
        p.runMode = (s.runningOption == 1 || s.runningOption == 2) ? s.runningOption : 0;
        p.runStartPosition = s.shutterPosition;
        // With no running option there is no command to send (its selector
        // would be the repeat command's): the download just ends.
        if (auto run = runningOptionCommand(s.runningOption)) sendActive(p, sink, *run);
    }
}

}  // namespace veltra
