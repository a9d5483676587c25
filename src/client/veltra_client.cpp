#include "client/veltra_client.h"

#include "model/leading_int.h"
#include "serial/ccomportlink.h"
#include "serial/net_transport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QTimer>

#include <cstdio>
#include <optional>

namespace veltra {

namespace {

constexpr int kPort = 1;          // the client's one device is its COM1
constexpr int kSendBuffer = 512;  // as the panel's links

PortError openFailure(const QString& device, const QString& why) {
    const QFileInfo info(device);
    const std::string text = why.toStdString();
    if (isNetworkDevice(device)) return {PortError::Reason::Other, device.toStdString() + ": " + text};
    if (!info.exists()) return {PortError::Reason::Missing, device.toStdString() + " does not exist: check the device path (ls /dev/serial/by-id/)"};
    if (why.contains(QLatin1String("dialout")) || why.contains(QLatin1String("ermission")))
        return {PortError::Reason::Permission, text};
    if (why.contains(QLatin1String("in use"))) return {PortError::Reason::Busy, text + " Close the other program (the panel?) first."};
    return {PortError::Reason::Other, text};
}

}  // namespace

const char* PortError::reasonName() const {
    switch (m_reason) {
    case Reason::Missing: return "missing";
    case Reason::Permission: return "permission";
    case Reason::Busy: return "in use";
    case Reason::Closed: return "closed";
    case Reason::Other: return "other";
    }
    return "other";
}

namespace {
std::string differencesText(const std::vector<Difference>& d) {
    std::string out = "the controller reads back different settings:";
    for (const auto& x : d) out += " " + x.field + " wanted " + x.wanted + ", read " + x.read + ";";
    if (!d.empty()) out.pop_back();
    return out;
}
}  // namespace

VerifyError::VerifyError(std::vector<Difference> differences)
    : ClientError(differencesText(differences)), m_differences(std::move(differences)) {}

// ---- names ----------------------------------------------------------------------

namespace {
const char* const kTriggerNames[] = {"high", "low", "rising", "falling"};
const char* const kSyncNames[] = {"high", "low"};
const char* const kRunningNames[] = {"power-up", "trigger", "go"};
const char* const kModeNames[] = {"fast", "soft", "nd"};

template <std::size_t N>
int indexOf(const char* const (&names)[N], const std::string& name) {
    for (std::size_t i = 0; i < N; ++i)
        if (name == names[i]) return static_cast<int>(i);
    return -2;
}
}  // namespace

std::string shutterName(int p) { return p == 0 ? "open" : "close"; }
std::string modeName(int m) { return m >= 0 && m <= 2 ? kModeNames[m] : "none"; }
std::string triggerName(int t) { return t >= 0 && t <= 3 ? kTriggerNames[t] : "off"; }
std::string syncName(int s) { return s >= 0 && s <= 1 ? kSyncNames[s] : "off"; }
std::string runningOptionName(int o) { return o >= 0 && o <= 2 ? kRunningNames[o] : "none"; }
std::string repeatName(int r) { return r == kContinuousCount ? "continuous" : std::to_string(r); }
int triggerFromName(const std::string& n) { return n == "off" ? -1 : indexOf(kTriggerNames, n); }
int syncFromName(const std::string& n) { return n == "off" ? -1 : indexOf(kSyncNames, n); }
int runningOptionFromName(const std::string& n) { return indexOf(kRunningNames, n); }
int modeFromName(const std::string& n) { return indexOf(kModeNames, n); }

std::string timerText(const TimerValue& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d.%d", t.value(kHours), t.value(kMinutes), t.value(kSeconds),
                  t.value(kMilliseconds), t.value(kTenths));
    return buf;
}

std::optional<TimerValue> parseTimerText(const std::string& text) {
    // HH:MM:SS.mmm.t: five runs of digits split by ':', ':', '.', '.'.
    static constexpr char kSeparators[] = {':', ':', '.', '.'};
    TimerValue t;
    std::size_t at = 0;
    for (int f = 0; f < kTimerFieldCount; ++f) {
        std::string digits;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits.size() < 4) digits += text[at++];
        if (digits.empty()) return std::nullopt;
        t.field(f) = digits;
        if (f < kTimerFieldCount - 1) {
            if (at >= text.size() || text[at] != kSeparators[f]) return std::nullopt;
            ++at;
        }
    }
    if (at != text.size()) return std::nullopt;
    return t;
}

long long timerTenths(const TimerValue& t) {
    return ((static_cast<long long>(t.value(kHours)) * 60 + t.value(kMinutes)) * 60 + t.value(kSeconds)) * 10000 +
           static_cast<long long>(t.value(kMilliseconds)) * 10 + t.value(kTenths);
}

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
        RunEvent e{std::chrono::system_clock::now(), report.shutterPosition, report.counted, report.leftCycleText};
        ++reports;
        if (onReport) onReport(e);
        if (report.runEnded) countEnded = true;
    }
    void runEnded() override { crEnded = true; }

    int online = 0;
    int reports = 0;
    int statuses = 0;
    int infos = 0;
    StatusRecord last;
    InfoLines lines;
    bool countEnded = false;  // the panel's count ended the run (Go, last cycle)
    bool crEnded = false;     // the controller's carriage return ended it
    std::function<void(const RunEvent&)> onReport;
};

class Client::Sink : public CommandSink {
public:
    explicit Sink(Client& c) : m_client(c) {}
    bool send(int, const Command& command) override {
        if (!m_client.m_link || !m_client.m_link->isOpen()) return false;
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

Client::Client(ClientOptions options) : m_options(std::move(options)) {
    if (!QCoreApplication::instance()) throw ClientError("a QCoreApplication must exist before a Client");
    if (m_options.device.isEmpty())
        throw PortError(PortError::Reason::Missing, "no device given: use --device PATH, --port N or VELTRA_DEVICE");
    m_events = std::make_unique<Events>();
    m_sink = std::make_unique<Sink>(*this);
    m_prompts = std::make_unique<Prompts>();
    m_panel = std::make_unique<ShutterPanel>(*m_sink, *m_prompts);
    m_panel->setObserver(m_events.get());
    m_link = std::make_unique<CComPortLink>();
    m_link->setDeviceName(m_options.device);
    // A script writes its commands back to back: the answer to one must not
    // be dropped by the next write (a STOP's closing carriage return lost
    // that way leaves the run followed, and the run then takes a Reset's
    // carriage return for its own end).
    m_link->setDropUnreadInputOnWrite(false);
    m_link->setWaitForConnection(true);  // a network port opens before the first command
    m_link->setByteHandler([this](int byte, int port) {
        m_rxChunk.push_back(static_cast<std::uint8_t>(byte));
        // The carriage return after a run whose count has ended closes it.
        if (byte == kCarriageReturn && m_events->countEnded) m_events->crEnded = true;
        m_panel->onPortRxChar(m_state, byte, port);
    });
    m_link->setBatchHandler([this](int) { flushReceived(); });
    m_link->setErrorReporter([](const QString&) {});  // the next wait reports a closed line
    m_link->setClosedHandler([this](int port, const QString& reason) {
        flushReceived();
        m_panel->portLost(m_state, port, reason.toStdString());
    });
    if (!m_link->OpenLink(kPort, m_options.baud, 'N', 8, 1, kPanelEventMask, kSendBuffer) || !m_link->StartMonitor())
        throw openFailure(m_options.device, m_link->lastOpenError());
    m_panel->portReopened(m_state, kPort, true, {});
}

Client::~Client() { close(); }

bool Client::isOpen() const { return m_link && m_link->isOpen(); }

void Client::close() {
    if (!m_link) return;
    flushReceived();
    m_link.reset();  // closes the port
}

void Client::flushReceived() {
    if (m_rxChunk.empty()) return;
    if (m_traffic) m_traffic(false, m_rxChunk.data(), m_rxChunk.size());
    m_rxChunk.clear();
}

// ---- waiting ------------------------------------------------------------------------------

void Client::waitUntil(const std::function<bool()>& done, int timeoutMs, const std::string& step) {
    QDeadlineTimer deadline(timeoutMs < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(timeoutMs));
    QTimer tick;  // wakes the loop to look at the deadline and the interrupt check
    tick.start(50);
    QEventLoop loop;
    while (!done()) {
        if (m_interrupted && m_interrupted()) throw InterruptedError();
        if (!isOpen()) throw PortError(PortError::Reason::Closed, m_options.device.toStdString() + " closed while waiting for the " + step);
        if (deadline.hasExpired()) {
            flushReceived();
            throw TimeoutError(step, "no answer within " + std::to_string(timeoutMs) + " ms: " + step +
                                         " (is the controller on " + m_options.device.toStdString() +
                                         ", powered, at " + std::to_string(m_options.baud) + " baud?)");
        }
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    flushReceived();
}

void Client::act(const std::function<void(PanelState&)>& action) {
    if (!isOpen()) throw PortError(PortError::Reason::Closed, m_options.device.toStdString() + " is closed");
    m_prompts->clear();
    // What has come in since the last call is decoded before the action, in
    // the state it belongs to (a download would count it as its answers).
    QCoreApplication::processEvents();
    action(m_state);
    if (!m_prompts->errors.empty()) throw ConfigFileError(m_prompts->errors.front());
    if (!m_prompts->warnings.empty()) {
        const std::string& w = m_prompts->warnings.front();
        if (w == msg::kNoPort || w == msg::portNotConnected(kPort))
            throw PortError(PortError::Reason::Closed, m_options.device.toStdString() + " is not open: nothing was sent");
        throw RefusedError(w);
    }
    // A command is queued, not written: the event loop writes it. Calls that
    // wait for no answer must not return (and a script sleep) before it left.
    if (m_link->bytesToWrite() > 0)
        waitUntil([this] { return m_link->bytesToWrite() == 0; }, m_options.timeoutMs, "write of the command");
}

// ---- reading ------------------------------------------------------------------------------

bool Client::online() {
    const int before = m_events->online;
    act([this](PanelState& s) { m_panel->portOpenedAtStartup(s, kPort); });
    waitUntil([&] { return m_events->online > before; }, m_options.timeoutMs, "online echo (0xEE)");
    return true;
}

StatusRecord Client::status() {
    const int before = m_events->statuses;
    act([this](PanelState& s) { m_panel->onStatus(s); });
    waitUntil([&] { return m_events->statuses > before; }, m_options.timeoutMs, "status reply");
    return m_events->last;
}

InfoLines Client::info() {
    const int before = m_events->infos;
    act([this](PanelState& s) { m_panel->onGetControllerInfo(s); });
    waitUntil([&] { return m_events->infos > before; }, m_options.timeoutMs, "controller information");
    return m_events->lines;
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
    act([this](PanelState& s) { m_panel->onOpen(s); });
    verifyFields({"shutter"}, m_state);
}

void Client::closeShutter() {
    act([this](PanelState& s) { m_panel->onClose(s); });
    verifyFields({"shutter"}, m_state);
}

void Client::mode(int shutterMode, const std::string& ndSteps) {
    switch (shutterMode) {
    case 0: act([this](PanelState& s) { m_panel->onFast(s); }); break;
    case 1: act([this](PanelState& s) { m_panel->onSoft(s); }); break;
    case 2:
        // The steps dialog's own check, then the panel takes its answer.
        if (const auto refused = checkNdSteps(ndSteps)) throw RefusedError(*refused);
        m_prompts->steps = ndSteps;
        act([this](PanelState& s) { m_panel->onNeutralDensity(s, s.shutterMode); });
        break;
    default: throw RefusedError(msg::kBadMode);
    }
    verifyFields({"mode", "nd_steps"}, m_state);
}

void Client::trigger(int triggerMode) {
    if (triggerMode < -1 || triggerMode > 3) throw RefusedError(msg::kBadTrigger);
    act([&](PanelState& s) {
        if (triggerMode == -1) {
            s.triggerMode = 0;  // the box switches the input off when a mode is checked
            m_panel->onTriggerPulse(s);
        } else {
            m_panel->onTriggerRadio(s, triggerMode);
        }
    });
    verifyFields({"trigger"}, m_state);
}

void Client::sync(int syncMode) {
    if (syncMode < -1 || syncMode > 1) throw RefusedError(msg::kBadSync);
    act([&](PanelState& s) {
        if (syncMode == -1) {
            s.syncMode = 0;
            m_panel->onSyncPulse(s);
        } else {
            m_panel->onSyncRadio(s, syncMode);
        }
    });
    verifyFields({"sync"}, m_state);
}

void Client::setTimer(TimerKind kind, const TimerValue& value) {
    act([&](PanelState& s) {
        s.timerSelectIndex = kind == TimerKind::Exposure ? 1 : 0;
        s.editedTime = value;
        m_panel->onSetTimer(s);
    });
    verifyFields({kind == TimerKind::Exposure ? "exposure" : "delay"}, m_state);
}

void Client::repeat(const std::string& count) {
    act([&](PanelState& s) {
        s.repeatText = count;
        m_panel->onSendRepeat(s);
    });
    verifyFields({"repeat"}, m_state);
}

void Client::run(int runningOption) {
    if (runningOption < 0 || runningOption > 2) throw RefusedError(msg::kBadRunningOption);
    // A run is counted from the repeat number: learn the controller's first.
    // Its status reply also comes after the answers (echo and carriage
    // return) to the settings just sent, which would otherwise reach the
    // run's counting and end it before it began.
    if (runningOption != 0) status();
    act([&](PanelState& s) {
        s.runningOption = runningOption;
        m_panel->onRunningOption(s, runningOption);
    });
    if (m_options.verify && runningOption == 0) verifyFields({"running_option"}, m_state);
}

void Client::stop() { act([this](PanelState& s) { m_panel->onStop(s); }); }

void Client::power(bool on) {
    act([&](PanelState& s) { on ? m_panel->onPowerOn(s) : m_panel->onPowerOff(s); });
}

void Client::reset() {
    // The controller's carriage return when it is back brings a status reply.
    const int before = m_events->statuses;
    act([this](PanelState& s) { m_panel->onReset(s); });
    waitUntil([&] { return m_events->statuses > before; }, m_options.timeoutMs, "controller back after reset");
}

void Client::restoreDefaults() {
    const int before = m_events->statuses;
    act([this](PanelState& s) { m_panel->onRestoreDefault(s); });
    waitUntil([&] { return m_events->statuses > before; }, m_options.timeoutMs, "status after restore default");
}

void Client::saveToController() { act([this](PanelState& s) { m_panel->onSaveConfigToController(s); }); }

// ---- the download ---------------------------------------------------------------------------

void Client::apply(ControllerSettings a) {
    act([&](PanelState& s) {
        static_cast<ControllerSettings&>(s) = a;
        s.leftCycleText = a.repeatText;
        m_panel->onApply(s);
    });
    // Each step has the timeout for its answer.
    while (m_panel->decoder().applyInProgress()) {
        const int writes = m_sink->writes;
        const std::string step = std::string("answer to the ") + applyStepName(m_panel->decoder().applyAwaiting()) +
                                 " command of the download";
        waitUntil([&] { return !m_panel->decoder().applyInProgress() || m_sink->writes != writes; },
                  m_options.timeoutMs, step);
    }
    if (!m_options.verify) return;
    // A download that started a run leaves it to the controller: the status
    // must be decoded, not counted.
    if (m_panel->decoder().runMode() > 0) m_panel->followRun(m_state, 0);
    const StatusRecord read = status();
    if (auto d = compare(a, read); !d.empty()) throw VerifyError(std::move(d));
}

void Client::applyFile(const std::string& path) {
    m_prompts->file = path;
    act([this](PanelState& s) { m_panel->onLoadConfigFile(s); });
    apply(m_state);
}

StatusRecord Client::readConfig(const std::string& path) {
    const StatusRecord r = status();
    m_prompts->file = path;
    act([this](PanelState& s) { m_panel->onSaveConfigFile(s); });
    return r;
}

// ---- runs ---------------------------------------------------------------------------------------

void Client::waitRun(const std::function<void(const RunEvent&)>& onReport) {
    if (m_panel->decoder().runMode() == 0) {
        // Joining a run: its repeat number, position and option from the controller.
        status();
        const int runMode = m_state.runningOption == 1 ? 1 : 2;
        m_panel->followRun(m_state, runMode);
    }
    m_events->countEnded = m_events->crEnded = false;
    m_events->onReport = onReport;
    struct Reset {
        Events& e;
        ~Reset() { e.onReport = nullptr; }
    } reset{*m_events};
    // A report is due within one cycle; a trigger-pulse run waits for its pulses.
    const long long cycleMs = timerTenths(m_state.cycleTime) / 10;
    const bool onTrigger = m_panel->decoder().runMode() == 1;
    const int timeout = onTrigger ? -1 : static_cast<int>(std::min<long long>(cycleMs + m_options.timeoutMs, 1LL << 30));
    while (!m_events->crEnded) {
        if (m_events->countEnded) {
            // The count is done; the controller closes the run with a carriage return.
            waitUntil([&] { return m_events->crEnded; }, m_options.timeoutMs, "carriage return that ends the run");
            return;
        }
        const int seen = m_events->reports;
        waitUntil([&] { return m_events->crEnded || m_events->countEnded || m_events->reports != seen; }, timeout,
                  "next shutter report of the run");
    }
}

void Client::monitor(std::chrono::milliseconds duration) {
    QDeadlineTimer until(duration.count());
    try {
        waitUntil([&] { return until.hasExpired(); }, static_cast<int>(duration.count()) + 1000, "monitor");
    } catch (const TimeoutError&) {
    }
}

// ---- comparing ------------------------------------------------------------------------------------

std::vector<Difference> Client::compare(const ControllerSettings& w, const ControllerSettings& r) {
    std::vector<Difference> d;
    const auto add = [&](const char* field, const std::string& wanted, const std::string& read) {
        if (wanted != read) d.push_back({field, wanted, read});
    };
    add("shutter", shutterName(w.shutterPosition == 0 ? 0 : 1), shutterName(r.shutterPosition));
    if (w.shutterMode != -1) add("mode", modeName(w.shutterMode), modeName(r.shutterMode));
    if (w.shutterMode == 2) add("nd_steps", std::to_string(w.ndSteps & 0xFF), std::to_string(r.ndSteps));
    add("trigger", triggerName(w.triggerMode), triggerName(r.triggerMode));
    add("sync", syncName(w.syncMode), syncName(r.syncMode));
    add("delay", timerText(w.delayTime), timerText(r.delayTime));
    add("exposure", timerText(w.exposureTime), timerText(r.exposureTime));
    add("repeat", repeatName(repeatCount(w)), repeatName(repeatCount(r)));
    add("running_option", runningOptionName(w.runningOption), runningOptionName(r.runningOption));
    return d;
}

// ---- ports ------------------------------------------------------------------------------------------

std::vector<PortInfo> listPorts() {
    std::vector<PortInfo> out;
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    const QFileInfoList links = byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        PortInfo p;
        p.device = info.systemLocation().toStdString();
        p.description = info.description().toStdString();
        if (p.description.empty()) p.description = info.manufacturer().toStdString();
        for (const QFileInfo& link : links)
            if (link.canonicalFilePath() == QFileInfo(info.systemLocation()).canonicalFilePath())
                p.byId.push_back(link.absoluteFilePath().toStdString());
        out.push_back(std::move(p));
    }
    return out;
}

}  // namespace veltra
