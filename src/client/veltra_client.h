#pragma once

#include "client/client_errors.h"
#include "client/client_loop.h"
#include "model/choices.h"
#include "model/panel_state.h"
#include "panel/shutter_panel.h"
#include "protocol/reply_decoder.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace veltra {

class CComPortLink;

// ---- values -------------------------------------------------------------------

struct ClientOptions {
    QString device;          // a path (/dev/ttyUSB0, /dev/serial/by-id/..., a pseudo-terminal) or socket://HOST:PORT, rfc2217://HOST:PORT
    int baud = 9600;         // 8N1, as the panel's COM1
    int timeoutMs = 2000;    // for each answer waited for
    bool verify = false;     // read the status back after each setting
    ClientLoop* loop = nullptr;  // none: the calling thread's (callingThreadLoop)
    // Polled while connecting to a network device (every 50 ms, in the
    // calling thread): true gives the connection up with InterruptedError.
    std::function<bool()> interrupted = nullptr;
};

enum class TimerKind { Delay, Exposure };

struct InfoLines {
    std::string first;   // 8 characters
    std::string second;  // 4 characters
};

// One shutter report of a followed run.
struct RunEvent {
    std::chrono::system_clock::time_point time;
    ShutterPosition position = ShutterPosition::Open;
    bool counted = false;        // a cycle was counted
    int cyclesLeft = 0;          // counts down to 0 at the last counted report; kContinuousCount: continuous
};

// A line's settings by name: parity "none", "odd", "even", "mark", "space",
// stop bits "1", "1.5", "2"; a value a server answers without a name as
// "unknown (N)".
struct LineSettings {
    std::uint32_t baud = 0;
    int dataBits = 0;
    std::string parity;
    std::string stopBits;
};

// Bytes on the line, as they go out and come in.
using TrafficHandler = std::function<void(bool transmitted, const std::uint8_t* bytes, std::size_t n)>;

// ---- the client -----------------------------------------------------------------

// One controller on one device, driven the way the panel drives it: every
// call goes through the panel's own actions, checks, decoder and download
// pacing, so a script and the panel send the same bytes for the same thing.
// Calls block until their answer or their timeout. The port's objects live in
// the options' loop; every touch of the client's state runs there, so the
// caller may be another thread. Calls on one client must not overlap (the
// caller serialises them).
class Client {
public:
    explicit Client(ClientOptions options);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Polled while waiting (every 50 ms): true stops the wait with InterruptedError.
    void setInterruptCheck(std::function<bool()> check) { m_options.interrupted = std::move(check); }
    // Called where the port lives, as bytes go out and come in.
    void setTrafficHandler(TrafficHandler handler) {
        here([&] { m_traffic = std::move(handler); });
    }
    const ClientOptions& options() const { return m_options; }
    // Read back after each setting from now on (or not), as ClientOptions::verify.
    void setVerify(bool on) { m_options.verify = on; }
    // Each answer's timeout from now on (-1: none), as ClientOptions::timeoutMs.
    void setTimeoutMs(int ms) { m_options.timeoutMs = ms; }
    // False also when the client's thread has ended (never throws).
    bool isOpen() const;
    void close();
    // The line as the device has it: a local port's settings, an RFC 2217
    // server's answers; nothing for raw TCP (the server's own) or a closed port.
    std::optional<LineSettings> lineSettings() const;
    // What an RFC 2217 server put in place other than asked, or that it took
    // none of the line, one text each ("The server set 1200 baud instead of
    // 19200 baud."), since opening.
    std::vector<std::string> lineWarnings() const;

    // Online: true when the controller echoes 0xEE in time.
    bool online();
    StatusRecord status();
    InfoLines info();

    void openShutter();
    void closeShutter();
    // Neutral Density takes `ndSteps` (0..144), the others none.
    void mode(ShutterMode shutterMode, const std::string& ndSteps = {});
    void trigger(TriggerInput input);
    void sync(SyncOutput output);
    void setTimer(TimerKind kind, const TimerValue& value);
    // A count, or "Continuous"; above 65000 means continuous, as in the panel.
    void repeat(const std::string& count);
    void run(RunningOption option);
    void stop();
    void power(bool on);
    void reset();
    void restoreDefaults();
    void saveToController();

    // The whole download, as "Apply" sends it, with a timeout for each step.
    void apply(ControllerSettings settings);  // a copy: the download changes the state a caller may pass
    // A .cfg file through the panel's loader, then apply.
    void applyFile(const std::string& path);
    // The settings as a .cfg file, read by a status request (the panel loads it).
    StatusRecord readConfig(const std::string& path);
    // Follows the run under way (or just started) until the controller's
    // closing carriage return; `onReport` sees each shutter report as it
    // arrives. A run joined later is counted from the controller's repeat number.
    void waitRun(const std::function<void(const RunEvent&)>& onReport);
    // The same a step at a time: beginRun, then nextRunEvent until it gives none.
    // A run that run() began is followed from its start: reports that came in
    // before beginRun (with the command's answer) are not lost.
    void beginRun();
    std::optional<RunEvent> nextRunEvent();
    // Receives for `duration` (or until interrupted); the traffic handler sees it all.
    void monitor(std::chrono::milliseconds duration);

    // Every field of `wanted` that `read` differs in.
    static std::vector<Difference> compare(const ControllerSettings& wanted, const ControllerSettings& read);

    // For tests: the panel state the client keeps (read it where the port lives).
    const PanelState& state() const { return m_state; }

private:
    class Events;
    class Sink;
    class Prompts;

    // Runs a panel action; a refusal by the panel's checks throws.
    void act(const std::function<void(PanelState&)>& action);
    void waitUntil(const std::function<bool()>& done, int timeoutMs, const std::string& step);
    // `wanted` is a copy: reading the status back changes the panel state it came from.
    void verifyFields(const std::vector<std::string>& fields, ControllerSettings wanted);
    void flushReceived();
    // Runs `f` where the port lives.
    void here(const std::function<void()>& f) { m_loop->run(f); }
    bool linkOpen() const;
    // Opens the link; a network device is waited for here, interruptibly.
    void openLink();
    // A command just written went nowhere if the port was lost meanwhile.
    void checkStillOpen(unsigned lostBefore);
    // A followed run's reports and count start afresh (in the port's thread).
    void resetRunEvents();

    ClientOptions m_options;
    ClientLoop* m_loop;
    unsigned m_lost = 0;  // times the device went away
    std::string m_lossReason;  // why, the last time
    bool m_opened = false;     // the first opening is done
    bool m_runStarted = false; // run() began a run whose reports are kept for beginRun
    std::unique_ptr<Events> m_events;
    std::unique_ptr<Sink> m_sink;
    std::unique_ptr<Prompts> m_prompts;
    std::unique_ptr<ShutterPanel> m_panel;
    std::unique_ptr<CComPortLink> m_link;
    PanelState m_state;
    TrafficHandler m_traffic;
    std::vector<std::uint8_t> m_rxChunk;
    std::vector<std::string> m_lineWarnings;
};

}  // namespace veltra
