#include "client/veltra_client.h"

#include "client/refusal_text.h"
#include "client/setting_names.h"

#include "model/leading_int.h"
#include "serial/ccomportlink.h"
#include "serial/device_node.h"
#include "serial/serial_platform.h"
#include "serial/net_transport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <optional>

namespace veltra {

namespace {

constexpr int kPort = 1;          // the client's one device is its COM1
constexpr int kSendBuffer = 512;  // as the panel's links

// The kind comes from where the failure was known; the text names the device.
PortError openFailure(const QString& device, const QString& why, OpenFailureKind kind) {
    const std::string name = device.toStdString();
    std::string text = why.toStdString();
    if (!why.contains(device)) text = name + ": " + (text.empty() ? "cannot be opened" : text);
    switch (kind) {
    case OpenFailureKind::Missing:
        return {PortError::Reason::Missing, name + " does not exist: " + serial_platform::findDeviceHint().toStdString()};
    case OpenFailureKind::Permission: return {PortError::Reason::Permission, text};
    case OpenFailureKind::InUse:
        return {PortError::Reason::Busy, text + (isNetworkDevice(device) ? "" : " Close the other program (the panel?) first.")};
    case OpenFailureKind::TurnedAway: return {PortError::Reason::Busy, text};
    case OpenFailureKind::HeldHere:
        return {PortError::Reason::Busy, name + " is already open in this program (another Controller or handle on "
                                               "it): close that one first."};
    default: return {PortError::Reason::Other, text};
    }
}

int cyclesValue(const std::string& leftText) {
    return leftText == kContinuousText ? kContinuousCount : static_cast<int>(leadingInt(leftText));
}

// Every decoded field of a status reply the controller can hold; the names
// of those it cannot.
std::vector<std::string> fieldsOutOfRange(const StatusRecord& r) {
    std::vector<std::string> bad;
    const auto check = [&](bool ok, const std::string& name, long long value) {
        if (!ok) bad.push_back(name + " " + std::to_string(value));
    };
    check(r.mode().has_value(), "mode", r.shutterMode);
    check(r.mode() != ShutterMode::NeutralDensity || (r.ndSteps >= 0 && r.ndSteps <= 144), "nd_steps", r.ndSteps);
    check(triggerInputAt(r.triggerMode).has_value(), "trigger", r.triggerMode);
    check(syncOutputAt(r.syncMode).has_value(), "sync", r.syncMode);
    static constexpr int kLimit[kTimerFieldCount] = {6, 60, 60, 1000, 10};
    static constexpr const char* kField[kTimerFieldCount] = {"hours", "minutes", "seconds", "milliseconds", "tenths"};
    for (const auto& [name, t] : {std::pair{"delay", &r.delayTime}, std::pair{"exposure", &r.exposureTime}})
        for (int f = 0; f < kTimerFieldCount; ++f)
            check(t->value(f) >= 0 && t->value(f) < kLimit[f], std::string(name) + " " + kField[f], t->value(f));
    // None is a repeat count's status, not a fault.
    check(r.running() || r.runningOption == ControllerSettings{}.runningOption, "running_option", r.runningOption);
    return bad;
}

// A status reply shows a continuous repeat as 65535; a run counted from that
// would report 65534 cycles left, and end by its count after 65535 cycles
// while the controller runs on.
void continuousByName(PanelState& s) {
    if (s.repeatText == std::to_string(kContinuousCount)) s.repeatText = s.leftCycleText = kContinuousText;
}

}  // namespace

// ---- the client's parts -----------------------------------------------------------

class Client::Events : public DecoderListener {
public:
    void logLine(std::string_view) override {}
    void onlineReply(int) override { ++online; }
    void statusComplete(const StatusRecord& r) override {
        last = r;
        ++statuses;
    }
    void infoComplete(std::string_view first, std::string_view second) override {
        lines = {std::string(first), std::string(second)};
        ++infos;
    }
    void runReport(const RunReport& report) override {
        // The panel refills its field after the last cycle; a script reads 0 there.
        if (report.counted) {
            shownLeft = counter == 1 ? 0 : cyclesValue(report.leftCycleText);
            counter = cyclesValue(report.leftCycleText);
        }
        const ShutterPosition position = shutterPositionAt(report.shutterPosition).value_or(ShutterPosition::Closed);
        pending.push_back({std::chrono::system_clock::now(), position, report.counted, shownLeft});
        if (report.runEnded) countEnded = true;
    }
    void runEnded() override { crEnded = true; }

    int online = 0;
    int statuses = 0;
    int infos = 0;
    StatusRecord last;
    InfoLines lines;
    // The followed run.
    std::deque<RunEvent> pending;  // reports not yet taken by the caller
    int counter = 0;               // the panel's count of cycles left
    int shownLeft = 0;             // what the caller is told
    bool countEnded = false;       // the panel's count ended the run (Go, last cycle)
    int writesAtCountEnd = 0;      // commands sent when it did: a report after them is no echo
    bool crEnded = false;          // the controller's carriage return ended it
};

class Client::Sink : public CommandSink {
public:
    explicit Sink(Client& c) : m_client(c) {}
    bool send(int, const Command& command) override {
        if (!m_client.linkOpen()) return false;
        m_client.flushReceived();
        if (!m_client.m_link->QueueWrite(command.bytes.data(), command.length)) return false;
        if (m_client.m_traffic)
            m_client.m_traffic(true, command.bytes.data(), static_cast<std::size_t>(command.length));
        ++writes;
        return true;
    }
    int writes = 0;

private:
    Client& m_client;
};

class Client::Prompts : public Prompter {
public:
    void warning(const std::string& text) override { warnings.push_back(text); }
    bool confirm(const std::string&) override { return true; }
    std::optional<std::string> askNdSteps() override { return steps; }
    std::optional<std::string> chooseConfigFile(bool) override { return file; }
    void error(const std::string&, const std::string& text) override { errors.push_back(text); }
    void clear() {
        warnings.clear();
        errors.clear();
    }
    std::vector<std::string> warnings;
    std::vector<std::string> errors;
    std::optional<std::string> steps;
    std::optional<std::string> file;
};

// ---- open and close -------------------------------------------------------------------

Client::Client(ClientOptions options)
    : m_options(std::move(options)), m_loop(m_options.loop ? m_options.loop : &callingThreadLoop()) {
    if (m_options.device.isEmpty())
        throw PortError(PortError::Reason::Missing, "no device given: use --device PATH, --port N or VELTRA_DEVICE");
    m_options.device = serial_platform::devicePath(m_options.device);
    m_events = std::make_unique<Events>();
    m_sink = std::make_unique<Sink>(*this);
    m_prompts = std::make_unique<Prompts>();
    m_panel = std::make_unique<ShutterPanel>(*m_sink, *m_prompts);
    m_panel->setObserver(m_events.get());
    // The received-data list is the panel's; a client keeps no lines of it.
    m_state.log.setMaxLines(1);
    here([this] {
        if (!QCoreApplication::instance()) throw ClientError("a QCoreApplication must exist before a Client");
        m_link = std::make_unique<CComPortLink>();
        m_link->setDeviceName(m_options.device);
        // A script writes its commands back to back: the answer to one must not
        // be dropped by the next write (a STOP's closing carriage return lost
        // that way leaves the run followed, and the run then takes a Reset's
        // carriage return for its own end).
        m_link->setDropUnreadInputOnWrite(false);
        m_link->setByteHandler([this](int byte, int port) {
            m_rxChunk.push_back(static_cast<std::uint8_t>(byte));
            Events& e = *m_events;
            // The carriage return after a run whose count has ended closes it;
            // a shutter report before it is the run's last (a run that began
            // with the shutter open counts its openings, and closes after the last).
            if (e.countEnded && !e.crEnded) {
                if (byte == kCarriageReturn) e.crEnded = true;
                else if ((byte == CMD_OPEN || byte == CMD_CLOSE) && m_sink->writes == e.writesAtCountEnd)
                    e.pending.push_back({std::chrono::system_clock::now(),
                                         byte == CMD_OPEN ? ShutterPosition::Open : ShutterPosition::Closed, false, 0});
            }
            const bool countEndedBefore = e.countEnded;
            m_panel->onPortRxChar(m_state, byte, port);
            if (!countEndedBefore && e.countEnded) e.writesAtCountEnd = m_sink->writes;
        });
        m_link->setBatchHandler([this](int) { flushReceived(); });
        m_link->setErrorReporter([](const QString&) {});  // the next wait reports a closed line
        m_link->setLineHandler([this](int, const QString& text) {  // kept for lineWarnings()
            if (m_lineWarnings.size() < 16) m_lineWarnings.push_back(text.toStdString());
        });
        m_link->setClosedHandler([this](int port, const QString& reason) {
            flushReceived();
            ++m_lost;
            m_lossReason = reason.toStdString();
            if (m_opened) m_panel->portLost(m_state, port, reason.toStdString());
        });
    });
    openLink();
}

void Client::openLink() {
    bool connecting = false;
    const auto failed = [this] {
        const QString why = m_link->lastOpenError();
        const OpenFailureKind kind = m_link->lastOpenFailure();
        m_link.reset();
        return openFailure(m_options.device, why, kind);
    };
    here([&] {
        if (m_link->OpenLink(kPort, m_options.baud, 'N', 8, 1, kPanelEventMask, kSendBuffer)) return;
        if (!m_link->isConnecting()) throw failed();
        connecting = true;
    });
    // A network port is connected (and its line set) before the first
    // command; Ctrl+C ends the wait as it ends every other.
    while (connecting) {
        if (m_options.interrupted && m_options.interrupted()) {
            here([this] { m_link.reset(); });
            throw InterruptedError();
        }
        m_loop->wait([this] { return !m_link->isConnecting(); }, 50);
        here([&] {
            connecting = m_link->isConnecting();
            if (!connecting && !m_link->isOpen()) throw failed();
        });
    }
    here([&] {
        if (!m_link->StartMonitor()) throw failed();
        m_opened = true;
        m_panel->portReopened(m_state, kPort, true, {});
    });
}

Client::~Client() {
    try {
        close();
    } catch (const ClientError&) {
        // The loop has ended (or is another process's): its objects cannot be
        // destroyed from here, and the system closes the port with the process.
        (void)m_link.release();
    }
}

bool Client::linkOpen() const { return m_link && m_link->isOpen(); }

bool Client::isOpen() const {
    bool open = false;
    try {
        m_loop->run([&] { open = linkOpen(); });
    } catch (const ClientError&) {
        return false;  // the thread that holds the port has ended, or this is a forked child
    }
    return open;
}

void Client::close() {
    if (!m_link) return;
    here([this] {
        flushReceived();
        m_link.reset();  // closes the port
    });
}

void Client::flushReceived() {
    if (m_rxChunk.empty()) return;
    if (m_traffic) m_traffic(false, m_rxChunk.data(), m_rxChunk.size());
    m_rxChunk.clear();
}

// ---- waiting ------------------------------------------------------------------------------

void Client::waitUntil(const std::function<bool()>& done, int timeoutMs, const std::string& step) {
    QDeadlineTimer deadline(timeoutMs < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(timeoutMs));
    unsigned lostBefore = 0;
    here([&] { lostBefore = m_lost; });
    for (;;) {
        bool finished = false;
        bool open = false;
        unsigned lost = 0;
        std::string why;
        here([&] {
            finished = done();
            open = linkOpen();
            lost = m_lost;
            why = m_lossReason;
            if (finished || !open) flushReceived();
        });
        // A port lost meanwhile fails the call even when its flow ended with it.
        if (lost != lostBefore || (!open && !finished))
            throw PortError(PortError::Reason::Closed,
                            m_options.device.toStdString() + " closed while waiting for the " + step +
                                (lost != lostBefore && !why.empty() ? ": " + why : ""));
        if (finished) return;
        if (m_options.interrupted && m_options.interrupted()) {
            // The flows under way end as a closing port ends them; the port stays open.
            here([this] {
                flushReceived();
                if (linkOpen()) m_panel->portReopened(m_state, kPort, true, {});
            });
            throw InterruptedError();
        }
        if (deadline.hasExpired()) {
            here([this] { flushReceived(); });
            throw TimeoutError(step, "no answer within " + std::to_string(timeoutMs) + " ms: " + step +
                                         " (is the controller on " + m_options.device.toStdString() +
                                         ", powered, at " + std::to_string(m_options.baud) + " baud?)");
        }
        const qint64 left = deadline.isForever() ? 50 : std::clamp<qint64>(deadline.remainingTime(), 0, 50);
        m_loop->wait([&] { return done() || !linkOpen() || m_lost != lostBefore; }, static_cast<int>(left));
    }
}

void Client::act(const std::function<void(PanelState&)>& action) {
    bool pending = false;
    unsigned lostBefore = 0;
    int writesBefore = 0;
    here([&] {
        if (!linkOpen()) throw PortError(PortError::Reason::Closed, m_options.device.toStdString() + " is closed");
        m_prompts->clear();
        // What has come in since the last call is decoded before the action, in
        // the state it belongs to (a download would count it as its answers).
        QCoreApplication::processEvents();
        lostBefore = m_lost;
        writesBefore = m_sink->writes;
        m_runStarted = false;  // another command: a run begun earlier is joined afresh
        if (!linkOpen())
            throw PortError(PortError::Reason::Closed, m_options.device.toStdString() + " closed" +
                                                           (m_lossReason.empty() ? "." : ": " + m_lossReason) +
                                                           " Nothing was sent.");
        action(m_state);
        if (!m_prompts->errors.empty())
            throw ConfigFileError(configFileText(m_prompts->errors.front(), m_prompts->file.value_or("")));
        if (!m_prompts->warnings.empty()) {
            const std::string& w = m_prompts->warnings.front();
            if (w == msg::kNoPort || w == msg::portNotConnected(kPort))
                throw PortError(PortError::Reason::Closed, m_options.device.toStdString() + " is not open: nothing was sent");
            throw RefusedError(refusalText(w));
        }
        pending = m_link && m_link->bytesToWrite() > 0;
    });
    // A command is queued, not written: the event loop writes it. Calls that
    // wait for no answer must not return (and a script sleep) before it left.
    if (pending)
        waitUntil([this] { return !m_link || m_link->bytesToWrite() == 0; }, m_options.timeoutMs, "write of the command");
    bool wrote = false;
    here([&] { wrote = m_sink->writes != writesBefore; });
    if (wrote || pending) checkStillOpen(lostBefore);
}

void Client::checkStillOpen(unsigned lostBefore) {
    bool lost = false;
    std::string why;
    here([&] {
        // A server that closed the connection before the bytes got there is
        // heard of in the events already due: their closing counts. (A
        // serial device that went away fails the write itself.)
        if (m_link && m_link->lossFollowsWrite()) QCoreApplication::processEvents();
        lost = m_lost != lostBefore || !linkOpen();
        why = m_lossReason;
    });
    if (lost)
        throw PortError(PortError::Reason::Closed, m_options.device.toStdString() + " closed" +
                                                       (why.empty() ? "." : ": " + why) +
                                                       " The command may not have reached the controller.");
}

// ---- reading ------------------------------------------------------------------------------

bool Client::online() {
    int before = 0;
    here([&] { before = m_events->online; });
    act([this](PanelState& s) { m_panel->portOpenedAtStartup(s, kPort); });
    waitUntil([&] { return m_events->online > before; }, m_options.timeoutMs, "online echo (0xEE)");
    return true;
}

StatusRecord Client::status() {
    int before = 0;
    here([&] { before = m_events->statuses; });
    act([this](PanelState& s) { m_panel->onStatus(s); });
    waitUntil([&] { return m_events->statuses > before; }, m_options.timeoutMs, "status reply");
    StatusRecord r;
    here([&] { r = m_events->last; });
    if (const auto bad = fieldsOutOfRange(r); !bad.empty()) {
        std::string text = "the status reply holds values the controller cannot have:";
        for (const auto& b : bad) text += " " + b + ",";
        text.pop_back();
        throw ReplyError(text + " (a line fault, or another device on " + m_options.device.toStdString() + "?)");
    }
    return r;
}

InfoLines Client::info() {
    int before = 0;
    here([&] { before = m_events->infos; });
    act([this](PanelState& s) { m_panel->onGetControllerInfo(s); });
    waitUntil([&] { return m_events->infos > before; }, m_options.timeoutMs, "controller information");
    InfoLines lines;
    here([&] { lines = m_events->lines; });
    return lines;
}

// ---- settings -----------------------------------------------------------------------------

void Client::verifyFields(const std::vector<std::string>& fields, ControllerSettings wanted) {
    if (!m_options.verify) return;
    const StatusRecord read = status();
    std::vector<Difference> differences;
    for (const Difference& d : compare(wanted, read))
        for (const auto& f : fields)
            if (d.field == f) differences.push_back(d);
    if (!differences.empty()) throw VerifyError(differences);
}

void Client::openShutter() {
    ControllerSettings wanted;
    act([&](PanelState& s) {
        m_panel->onOpen(s);
        wanted = s;
    });
    verifyFields({"shutter"}, wanted);
}

void Client::closeShutter() {
    ControllerSettings wanted;
    act([&](PanelState& s) {
        m_panel->onClose(s);
        wanted = s;
    });
    verifyFields({"shutter"}, wanted);
}

void Client::mode(ShutterMode shutterMode, const std::string& ndSteps) {
    ControllerSettings wanted;
    switch (shutterMode) {
    case ShutterMode::Fast: act([&](PanelState& s) { m_panel->onFast(s); wanted = s; }); break;
    case ShutterMode::Soft: act([&](PanelState& s) { m_panel->onSoft(s); wanted = s; }); break;
    case ShutterMode::NeutralDensity:
        // The steps dialog's own check, then the panel takes its answer.
        if (const auto refused = checkNdSteps(ndSteps)) throw RefusedError(refusalText(*refused, ndSteps));
        act([&](PanelState& s) {
            m_prompts->steps = ndSteps;
            m_panel->onNeutralDensity(s, s.shutterMode);
            wanted = s;
        });
        break;
    }
    verifyFields({"mode", "nd_steps"}, wanted);
}

void Client::trigger(TriggerInput input) {
    ControllerSettings wanted;
    act([&](PanelState& s) {
        m_panel->setTrigger(s, input);
        wanted = s;
    });
    verifyFields({"trigger"}, wanted);
}

void Client::sync(SyncOutput output) {
    ControllerSettings wanted;
    act([&](PanelState& s) {
        m_panel->setSync(s, output);
        wanted = s;
    });
    verifyFields({"sync"}, wanted);
}

void Client::setTimer(TimerKind kind, const TimerValue& value) {
    if (const auto refused = checkTimer(value))
        throw RefusedError(timerRefusalText(*refused, kind == TimerKind::Exposure ? "exposure" : "delay", value));
    ControllerSettings wanted;
    act([&](PanelState& s) {
        s.timerSelectIndex = kind == TimerKind::Exposure ? 1 : 0;
        s.editedTime = value;
        m_panel->onSetTimer(s);
        wanted = s;
    });
    verifyFields({kind == TimerKind::Exposure ? "exposure" : "delay"}, wanted);
}

void Client::repeat(const std::string& count) {
    ControllerSettings wanted;
    act([&](PanelState& s) {
        s.repeatText = count;
        m_panel->onSendRepeat(s);
        wanted = s;
    });
    verifyFields({"repeat"}, wanted);
}

void Client::run(RunningOption option) {
    // A run is counted from the repeat number: learn the controller's first.
    // Its status reply also comes after the answers (echo and carriage
    // return) to the settings just sent, which would otherwise reach the
    // run's counting and end it before it began.
    if (option != RunningOption::OnPowerUp) status();
    ControllerSettings wanted;
    act([&](PanelState& s) {
        continuousByName(s);
        s.setRunning(option);
        m_panel->onRunningOption(s, s.runningOption);
        wanted = s;
        // Its first reports can come in with the command's answer, before the
        // caller follows the run: the count starts here, in the same turn of
        // the port's thread as the command, before any answer is read.
        resetRunEvents();
        m_runStarted = true;
    });
    if (m_options.verify && option == RunningOption::OnPowerUp) verifyFields({"running_option"}, wanted);
}

void Client::stop() { act([this](PanelState& s) { m_panel->onStop(s); }); }

void Client::power(bool on) {
    act([&](PanelState& s) { on ? m_panel->onPowerOn(s) : m_panel->onPowerOff(s); });
}

void Client::reset() {
    // The controller's carriage return when it is back brings a status reply.
    int before = 0;
    here([&] { before = m_events->statuses; });
    act([this](PanelState& s) { m_panel->onReset(s); });
    waitUntil([&] { return m_events->statuses > before; }, m_options.timeoutMs, "controller back after reset");
}

void Client::restoreDefaults() {
    int before = 0;
    here([&] { before = m_events->statuses; });
    act([this](PanelState& s) { m_panel->onRestoreDefault(s); });
    waitUntil([&] { return m_events->statuses > before; }, m_options.timeoutMs, "status after restore default");
}

void Client::saveToController() { act([this](PanelState& s) { m_panel->onSaveConfigToController(s); }); }

// ---- the download ---------------------------------------------------------------------------

void Client::apply(ControllerSettings a) {
    if (const auto refused = downloadRefusal(a)) throw RefusedError(*refused);
    int writesBefore = 0;
    unsigned lostBefore = 0;
    here([&] {
        writesBefore = m_sink->writes;
        lostBefore = m_lost;
    });
    int steps = 0;
    for (int k = 0; k < kApplyStepCount; ++k)
        if (applyStepCommand(static_cast<ApplyStep>(k), a)) ++steps;
    // Each step has the timeout for its answer. A device that goes away
    // ends the download's flow; that is the download's failure, not its end.
    const auto wentAway = [&] {
        int sent = 0;
        here([&] { sent = m_sink->writes - writesBefore; });
        throw PortError(PortError::Reason::Closed, "the device went away during the download, after step " +
                                                       std::to_string(std::min(sent, steps)) + " of " +
                                                       std::to_string(steps) + " (" + m_options.device.toStdString() +
                                                       ")");
    };
    try {
        act([&](PanelState& s) {
            static_cast<ControllerSettings&>(s) = a;
            s.leftCycleText = a.repeatText;
            m_panel->onApply(s);
        });
    } catch (const PortError& e) {
        bool wrote = false;
        here([&] { wrote = m_sink->writes != writesBefore; });
        if (e.reason() == PortError::Reason::Closed && wrote) wentAway();
        throw;
    }
    for (;;) {
        bool inProgress = false;
        int writes = 0;
        std::string step;
        unsigned lost = 0;
        here([&] {
            inProgress = m_panel->decoder().applyInProgress();
            writes = m_sink->writes;
            lost = m_lost;
            step = std::string("answer to the ") + applyStepName(m_panel->decoder().applyAwaiting()) +
                   " command of the download";
        });
        if (lost != lostBefore) wentAway();
        if (!inProgress) break;
        try {
            waitUntil([&] { return !m_panel->decoder().applyInProgress() || m_sink->writes != writes; },
                      m_options.timeoutMs, step);
        } catch (const PortError& e) {
            if (e.reason() == PortError::Reason::Closed) wentAway();
            throw;
        }
    }
    if (!m_options.verify) return;
    // A download that started a run leaves it to the controller: the status
    // must be decoded, not counted.
    here([this] {
        if (m_panel->decoder().runMode() > 0) m_panel->followRun(m_state, 0);
    });
    const StatusRecord read = status();
    if (auto d = compare(a, read); !d.empty()) throw VerifyError(std::move(d));
}

void Client::applyFile(const std::string& path) {
    ControllerSettings settings;
    act([&](PanelState& s) {
        m_prompts->file = path;
        m_panel->onLoadConfigFile(s);
        settings = s;
    });
    apply(settings);
}

StatusRecord Client::readConfig(const std::string& path) {
    const StatusRecord r = status();
    act([&](PanelState& s) {
        m_prompts->file = path;
        m_panel->onSaveConfigFile(s);
    });
    return r;
}

// ---- runs ---------------------------------------------------------------------------------------

void Client::resetRunEvents() {
    Events& e = *m_events;
    e.pending.clear();
    e.countEnded = e.crEnded = false;
    e.counter = e.shownLeft = cyclesValue(m_state.leftCycleText);
}

void Client::beginRun() {
    int runMode = 0;
    bool started = false;
    here([&] {
        runMode = m_panel->decoder().runMode();
        started = m_runStarted;
        m_runStarted = false;
    });
    // Begun by run() and nothing sent since: followed from its start, with
    // what has come in already (its end too, if it was that short).
    if (started) return;
    if (runMode == 0) {
        // Joining a run: its repeat number, position and option from the controller.
        status();
        here([this] {
            continuousByName(m_state);
            m_panel->followRun(m_state, m_state.running() == RunningOption::OnTriggerPulse ? 1 : 2);
        });
    }
    here([this] { resetRunEvents(); });
}

std::optional<RunEvent> Client::nextRunEvent() {
    // A report is due within one cycle; a trigger-pulse run waits for its
    // pulses, and no timeout means no time limit at all.
    long long cycleMs = 0;
    bool onTrigger = false;
    here([&] {
        cycleMs = timerTenths(m_state.cycleTime) / 10;
        onTrigger = m_panel->decoder().runMode() == 1;
    });
    const int timeout = onTrigger || m_options.timeoutMs < 0
                            ? -1
                            : static_cast<int>(std::min<long long>(cycleMs + m_options.timeoutMs, 1LL << 30));
    for (;;) {
        std::optional<RunEvent> next;
        bool crEnded = false;
        bool countEnded = false;
        here([&] {
            Events& e = *m_events;
            if (!e.pending.empty()) {
                next = e.pending.front();
                e.pending.pop_front();
            }
            crEnded = e.crEnded;
            countEnded = e.countEnded;
        });
        if (next) return next;
        if (crEnded) return std::nullopt;
        if (countEnded) {
            // The count is done; the controller closes the run with a carriage return.
            waitUntil([this] { return m_events->crEnded; }, m_options.timeoutMs, "carriage return that ends the run");
            continue;
        }
        waitUntil([this] { return m_events->crEnded || m_events->countEnded || !m_events->pending.empty(); }, timeout,
                  "next shutter report of the run");
    }
}

void Client::waitRun(const std::function<void(const RunEvent&)>& onReport) {
    beginRun();
    while (const auto e = nextRunEvent()) onReport(*e);
}

void Client::monitor(std::chrono::milliseconds duration) {
    QDeadlineTimer until(duration.count());
    try {
        waitUntil([&] { return until.hasExpired(); }, static_cast<int>(duration.count()) + 1000, "monitor");
    } catch (const TimeoutError&) {
    }
}

// ---- the line ------------------------------------------------------------------------------------

std::optional<LineSettings> Client::lineSettings() const {
    std::optional<LineSettings> out;
    m_loop->run([&] {
        if (const std::optional<ServerLine> l = m_link ? m_link->deviceLine() : std::nullopt)
            out = LineSettings{l->baudRate, l->dataBits, parityName(l->parity).toStdString(),
                               stopBitsName(l->stopSize).toStdString()};
    });
    return out;
}

std::vector<std::string> Client::lineWarnings() const {
    std::vector<std::string> out;
    m_loop->run([&] { out = m_lineWarnings; });
    return out;
}

// ---- comparing ------------------------------------------------------------------------------------

std::vector<Difference> Client::compare(const ControllerSettings& w, const ControllerSettings& r) {
    std::vector<Difference> d;
    const auto add = [&](const char* field, const std::string& wanted, const std::string& read) {
        if (wanted != read) d.push_back({field, wanted, read});
    };
    // Anything but Open sends Close.
    add("shutter", shutterName(w.position().value_or(ShutterPosition::Closed)), shutterName(r.position()));
    if (w.mode()) add("mode", modeName(w.mode()), modeName(r.mode()));
    if (w.mode() == ShutterMode::NeutralDensity) add("nd_steps", std::to_string(w.ndSteps & 0xFF), std::to_string(r.ndSteps));
    add("trigger", triggerName(w.trigger()), triggerName(r.trigger()));
    add("sync", syncName(w.sync()), syncName(r.sync()));
    add("delay", timerText(w.delayTime), timerText(r.delayTime));
    add("exposure", timerText(w.exposureTime), timerText(r.exposureTime));
    add("repeat", repeatName(repeatCount(w)), repeatName(repeatCount(r)));
    add("running_option", runningOptionName(w.running()), runningOptionName(r.running()));
    return d;
}

}  // namespace veltra
