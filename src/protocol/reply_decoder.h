#pragma once

#include "model/controller_settings.h"
#include "model/ports.h"
#include "model/timer_value.h"
#include "protocol/apply_download.h"
#include "protocol/commands.h"
#include "protocol/echo_tracker.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veltra {

// What took a received byte (the handler's result).
enum class RxResult {
    Ignored,            // port number out of range
    Status,             // logged and given to the status decoding
    Info,               // collected as controller information
    Online,             // the start-up Online echo
    Run,                // counted by a followed run
    Apply,              // counted by the Apply download
    AutoStatus,         // the carriage return after Reset: Status sent
    Echo,               // the echo of a command sent: only logged
};

// Log lines: the decimal value, blanks, then 0x and two hex digits; the
// blanks keep the hex column in place (11, 9 or 7 of them).
std::string_view normalLogLine(std::uint8_t byte);
// Run counting logs with 9 blanks below 100 and 7 from 100 on.
std::string_view runLogLine(std::uint8_t byte);

// The fields of a status reply.
enum class StatusField : std::uint8_t {
    Unused, Position, Mode, Steps, Trigger, Sync,
    DelayHours, DelayMinutes, DelaySeconds, DelayMsHigh, DelayMsLow,
    ExposureHours, ExposureMinutes, ExposureSeconds, ExposureMsHigh, ExposureMsLow,
    RunningOption, RepeatHigh, RepeatLow,
};

// A status reply as values. Status replies carry 19 bytes after the 0xCC
// echo; with Neutral Density (mode byte 0xDE) the step count follows the mode
// and every later field comes one byte later.
// Shutter: 0 Open (0xAA), 1 Close (any other byte). Mode: byte - 0xDC; others
// name no mode. Trigger, sync and running option: -1 off (0xA0, 0xB0, 0xF0),
// else byte - 0xA1, 0xB1, 0xF1. Times: "%d" texts, as the panel shows them.
// Repeat: the decimal count 0..65535 (65535 is what the controller holds for
// continuous), never "Continuous".
struct StatusRecord : ControllerSettings {
    int timerSelectIndex = -1;  // 1 when the exposure is set, else 0 when the delay is, else -1
    bool operator==(const StatusRecord&) const = default;
};

// What run counting needs of the panel for each shutter report: the counting
// refers to what the operator sees.
struct RunView {
    std::string_view repeatText;
    std::string_view leftCycleText;
    int triggerMode = -1;
};

// One shutter report (0xAA or 0xAC) of a followed run.
struct RunReport {
    int shutterPosition = 0;  // 0 opened, 1 closed
    bool counted = false;     // a cycle was counted: leftCycleText changed
    std::string leftCycleText;
    bool runEnded = false;
};

// Answer-driven flows that a closing port ends.
enum class Flow : std::uint8_t { Apply, Run, Info, StatusReply, StatusRequest };

// Where the decoder's results go. The decoder turns bytes into these calls
// and owns all of its state; the panel renders them, a script's client hands
// them to its caller.
class DecoderListener {
public:
    virtual ~DecoderListener() = default;
    // A line for the received-data log.
    virtual void logLine(std::string_view line) = 0;
    // The start-up Online echo came from `port`.
    virtual void onlineReply(int /*port*/) {}
    // One field of a status reply was decoded; the record holds the reply so far.
    virtual void statusField(const StatusRecord& /*r*/, StatusField /*field*/) {}
    // The last byte of a status reply.
    virtual void statusComplete(const StatusRecord& /*r*/) {}
    // Both lines of the controller information (8 and 4 characters).
    virtual void infoComplete(std::string_view /*first*/, std::string_view /*second*/) {}
    // What run counting reads of the panel.
    virtual RunView runView() { return {}; }
    virtual void runReport(const RunReport& /*report*/) {}
    // The controller's carriage return ended a followed run.
    virtual void runEnded() {}
    // The carriage return after Reset or Restore Default: Status is due.
    virtual void statusRequestDue() {}
    // A download step is due: send its command and return it; none when the
    // step has nothing to send or may not be sent (the download then stops,
    // except at the mode step, which is skipped).
    virtual std::optional<Command> applyStepDue(ApplyStep /*step*/) { return std::nullopt; }
    // A flow ended because its port closed or reopened (already logged).
    virtual void flowEnded(Flow /*flow*/, int /*port*/) {}
};

// The reply decoder: one call per received byte, in arrival order. Replies
// have no framing; they are recognised by what was asked, by a few leading
// byte values and by counting. One set of state serves all four ports, as
// the controller's replies carry no port of their own; each flow remembers the
// port it waits on, so that closing that port ends it.
class ReplyDecoder {
public:
    explicit ReplyDecoder(DecoderListener& listener) : m_out(listener) {}

    RxResult onPortRxChar(int byte, int port);

    // What was sent, so that its echo is not taken for a reply.
    void noteSent(int port, const Command& command);
    // Start-up: the first 0xEE from any port answers the Online command.
    void expectOnlineReply() { m_awaitingOnline = true; }
    // Reset / Restore Default went to `port`: its next carriage return asks for Status.
    void requestStatusAtNextCr(int port);
    // Go / On Trigger Pulse (1 trigger-pulse run, 2 free run) went to `port`;
    // the run's cycles are counted at each report of `startPosition`.
    void followRun(int runMode, int startPosition, int port);
    // The download's position command went to `port`; a new start restarts it.
    void startApply(int port);
    void stopApply() { m_apply.stop(); }
    // A port closed or was reopened: every flow waiting on it ends, each with
    // one log line ("Apply stopped: COM1 closed").
    void portClosed(int port, std::string_view why);

    bool awaitingOnlineReply() const { return m_awaitingOnline; }
    bool statusRequestPending() const { return m_statusRequestPort != 0; }
    bool statusReplyInProgress() const { return m_statusIndex >= 0; }
    bool infoInProgress() const { return m_infoCount >= 0; }
    bool applyInProgress() const { return m_apply.active(); }
    ApplyStep applyAwaiting() const { return m_apply.awaiting(); }
    int runMode() const { return m_runMode; }
    bool echoExpected(int port) const;

private:
    void collectInfo(std::uint8_t b);
    void countRun(std::uint8_t b, EchoMatch echo, bool runEndCr);
    void applyByte();
    void decodeStatus(std::uint8_t b, int port);
    void decodeField(int position, std::uint8_t b);
    void endFlow(Flow flow, int port, std::string_view why);

    DecoderListener& m_out;
    std::array<EchoTracker, kPortCount> m_echo{};
    bool m_awaitingOnline = false;
    int m_statusRequestPort = 0;  // 0: no Status request pending
    int m_runMode = 0;            // 1 trigger-pulse run, 2 free run; only above 0 counts
    int m_runStartPosition = -1;
    int m_runPort = 0;
    ApplyPacing m_apply;
    int m_infoCount = -1;  // information bytes collected, -1 not collecting
    int m_infoPort = 0;
    std::array<std::uint8_t, 12> m_infoBytes{};
    int m_statusIndex = -1;  // position of the next status byte, -1 none
    int m_statusPort = 0;
    int m_repeatHighByte = 0;  // high byte * 256 of the last status reply; never reset
    StatusRecord m_record;
};

}  // namespace veltra
