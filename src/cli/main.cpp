// veltractl: drives a Veltra shutter controller from scripts, through the
// same core as the panel (same bytes, same decoder, same download pacing).

#include "cli/cli_output.h"
#include "cli/cli_platform.h"
#include "client/port_list.h"
#include "client/setting_names.h"
#include "client/veltra_client.h"
#include "protocol/traffic_line.h"
#include "serial/port_settings.h"

#include <CLI/CLI.hpp>

#include <QCoreApplication>
#include <QJsonArray>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace {

using namespace veltra;

enum ExitCode : int {
    kExitDone = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    kExitDevice = 3,
    kExitTimeout = 4,
    kExitDifferent = 5,
    kExitBadFile = 6,
    kExitInterrupted = 130,
};

// Exit codes 3 and 130 are told in the platform's words.
std::string exitCodesText() {
    return std::string(R"(Exit codes:
  0    done
  1    another failure (the message says which), e.g. a status reply with
       values the controller cannot have
  2    bad usage, or a value the panel's checks refuse (nothing was sent)
)") + cli::platformTexts().deviceFailed +
           R"(  4    no answer within the timeout (the message names the step)
  5    --verify read the status back and found a difference
  6    a bad .cfg file (missing, unreadable, truncated) or one that cannot be written
)" + std::string("  130  interrupted (") + cli::platformTexts().interruptedBy + R"(); the port was closed

The device may also come from the environment variable VELTRA_DEVICE.)";
}

// Below each command's own help: where the options every command takes are.
constexpr const char* kCommandFooter =
    R"(Global options (before or after the command): --device PATH or --port N (or VELTRA_DEVICE),
--baud, --timeout, --json, --verify, --trace. See veltractl --help for them and the exit codes.)";

// A usage problem found after parsing; exits 2.
struct UsageError {
    std::string text;
};

struct Globals {
    std::string device;
    int port = 0;
    int baud = 9600;
    int timeoutMs = 2000;
    bool json = false;
    bool verify = false;
    bool trace = false;
};

void print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

// What the first JSON object after opening also says when an RFC 2217
// server put another line in place than the one asked for: "line_settings"
// (the line as the server has it) and "warnings" (what it changed).
QJsonObject g_lineNote;

std::string jsonLine(QJsonObject object) {
    for (auto it = g_lineNote.constBegin(); it != g_lineNote.constEnd(); ++it) object.insert(it.key(), it.value());
    g_lineNote = {};
    return cli::jsonLine(object);
}

// Where the device comes from: --device, --port, then VELTRA_DEVICE.
QString devicePath(const Globals& g) {
    if (!g.device.empty()) return QString::fromStdString(g.device);
    if (g.port > 0) return defaultDeviceName(g.port);
    if (const char* env = std::getenv("VELTRA_DEVICE"); env && *env) return QString::fromLocal8Bit(env);
    throw UsageError{"no device given: use --device PATH, --port N or set VELTRA_DEVICE"};
}

class Session {
public:
    explicit Session(const Globals& g) : m_g(g) {}

    Client& client() {
        if (!m_client) {
            ClientOptions o;
            o.device = devicePath(m_g);
            o.baud = m_g.baud;
            o.timeoutMs = m_g.timeoutMs;
            o.verify = m_g.verify;
            m_client = std::make_unique<Client>(o);
            m_client->setInterruptCheck([] { return cli::interrupted(); });
            noteLine(*m_client);
            if (m_g.trace) {
                const std::string port = o.device.toStdString();
                m_client->setTrafficHandler([port](bool tx, const std::uint8_t* b, std::size_t n) {
                    std::fprintf(stderr, "%s\n", trafficLine(std::chrono::system_clock::now(), tx, port, b, n).c_str());
                });
            }
        }
        return *m_client;
    }

    // What a setting command prints once done.
    void done(const std::string& command, bool verifies) {
        const bool verified = verifies && m_g.verify;
        if (m_g.json)
            print(jsonLine({{QStringLiteral("command"), QString::fromStdString(command)},
                                 {QStringLiteral("done"), true},
                                 {QStringLiteral("verified"), verified}}));
        else
            print(command + ": done" + (verified ? ", read back by a status request" : "") + "\n");
    }

    void followRun() {
        client().waitRun([this](const RunEvent& e) {
            print(m_g.json ? jsonLine(cli::runEventJson(e)) : cli::runEventText(e));
        });
        const auto now = std::chrono::system_clock::now();
        print(m_g.json ? jsonLine(cli::runEndJson(now)) : cli::isoTime(now) + "  run ended\n");
    }

    const Globals& globals() const { return m_g; }

private:
    // A line the server set otherwise is said at once on standard error.
    static void noteLine(const Client& c) {
        const std::vector<std::string> warnings = c.lineWarnings();
        if (warnings.empty()) return;
        QJsonArray list;
        for (const std::string& w : warnings) {
            std::fprintf(stderr, "veltractl: warning: %s\n", w.c_str());
            list.append(QString::fromStdString(w));
        }
        g_lineNote = {{QStringLiteral("warnings"), list}};
        if (const auto line = c.lineSettings()) g_lineNote[QStringLiteral("line_settings")] = cli::lineSettingsJson(*line);
    }

private:
    const Globals& m_g;
    std::unique_ptr<Client> m_client;
};

struct Arguments {
    std::string word;       // the first argument of a subcommand
    std::string value;      // its second
    std::string file;
    std::string timeText;
    std::array<std::optional<std::string>, kTimerFieldCount> fields;
    bool wait = false;
    double durationSeconds = 0;
};

// A whole decimal number from `low` to `high`: the command line takes no
// other ("5abc", "1e3", "0x10", "" are refused, not read as 5, 1, 0).
int wholeNumber(const std::string& text, int low, int high, const std::string& what) {
    const std::string range = what + " is a whole number from " + std::to_string(low) + " to " + std::to_string(high);
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError{"refused, nothing was sent: '" + text + "' is not a whole number; " + range};
    const int n = std::stoi(text);
    if (n < low || n > high) throw UsageError{"refused, nothing was sent: '" + text + "' is out of range; " + range};
    return n;
}

constexpr int kTimerFieldMax[kTimerFieldCount] = {5, 59, 59, 999, 9};
constexpr const char* kTimerFieldName[kTimerFieldCount] = {"--hours", "--minutes", "--seconds", "--ms", "--tenths"};

TimerValue timerFrom(const Arguments& a) {
    TimerValue t{"0", "0", "0", "0", "0"};
    if (!a.timeText.empty()) {
        const auto parsed = parseTimerText(a.timeText);
        if (!parsed) throw UsageError{"'" + a.timeText + "' is not a time: write HH:MM:SS.mmm.t, e.g. 00:00:01.250.0"};
        t = *parsed;
    }
    bool anyField = false;
    for (int f = 0; f < kTimerFieldCount; ++f)
        if (a.fields[std::size_t(f)]) {
            const std::string& v = *a.fields[std::size_t(f)];
            t.field(f) = std::to_string(wholeNumber(v, 0, kTimerFieldMax[f], kTimerFieldName[f]));
            anyField = true;
        }
    if (a.timeText.empty() && !anyField)
        throw UsageError{"timer needs a time: HH:MM:SS.mmm.t or --hours/--minutes/--seconds/--ms/--tenths"};
    return t;
}

// One line on standard error, then the exit code.
int fail(const std::string& text, int code) {
    std::fprintf(stderr, "veltractl: %s\n", text.c_str());
    return code;
}

// veltractl's command line: the global options, one subcommand per action,
// and what each failure exits with.
class CommandLine {
public:
    CommandLine() {
        addGlobalOptions();
        addReadCommands();
        addSettingCommands();
        addRunCommands();
        addFileCommands();
        addWatchCommands();
    }
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    CLI::App& parser() { return app; }

    // Runs the chosen command; a failure is one line on standard error and its exit code.
    int run() {
        try {
            for (CLI::App* sub : app.get_subcommands()) actions.at(sub)();
            return kExitDone;
        } catch (const UsageError& e) {
            return fail(e.text + " (see veltractl --help)", kExitUsage);
        } catch (const RefusedError& e) {
            return fail(std::string("refused, nothing was sent: ") + e.what(), kExitUsage);
        } catch (const PortError& e) {
            return fail(e.what(), kExitDevice);
        } catch (const TimeoutError& e) {
            return fail(e.what(), kExitTimeout);
        } catch (const VerifyError& e) {
            if (g.json) print(jsonLine(cli::differencesJson(e.differences())));
            return fail(e.what(), kExitDifferent);
        } catch (const ConfigFileError& e) {
            return fail(e.what(), kExitBadFile);
        } catch (const InterruptedError&) {
            return fail("interrupted; the port is closed", kExitInterrupted);
        } catch (const ClientError& e) {
            return fail(e.what(), kExitFailed);
        }
    }

private:
    CLI::App* command(const char* name, const char* help, std::function<void()> action) {
        CLI::App* sub = app.add_subcommand(name, help);
        sub->footer(kCommandFooter);
        actions[sub] = std::move(action);
        return sub;
    }
    // The action checks its values before it opens the device: a usage error
    // is one whatever the device.
    CLI::App* sendOnly(const char* name, const char* help, bool verifies, std::function<void(Session&)> act) {
        return command(name, help, [this, name, verifies, act] {
            act(session);
            session.done(name, verifies);
        });
    }

    void addGlobalOptions() {
        app.set_version_flag("-V,--version", std::string("veltractl ") + VELTRA_VERSION);
        app.footer(exitCodesText());
        app.require_subcommand(1, 1);
        app.fallthrough();  // the global options may also follow the subcommand
        auto* deviceOpt = app.add_option("--device", g.device, cli::platformTexts().deviceHelp);
        app.add_option("--port", g.port, cli::platformTexts().portHelp)->check(CLI::Range(1, 256))->excludes(deviceOpt);
        app.add_option("--baud", g.baud, "line speed (default 9600, 8N1)")->check(CLI::PositiveNumber);
        app.add_option("--timeout", g.timeoutMs, "milliseconds to wait for each answer (default 2000)")->check(CLI::Range(1, 3'600'000));
        app.add_flag("--json", g.json, "print one JSON object per result (JSON lines for wait-run and monitor)");
        app.add_flag("--verify", g.verify, "after a setting, read the status back and compare");
        app.add_flag("--trace", g.trace, "print every byte sent and received on standard error");
    }

    // Commands that read: ports, online, status, info.
    void addReadCommands() {
        command("ports", cli::platformTexts().portsHelp, [&] {
            const auto ports = listPorts();
            print(g.json ? jsonLine(cli::portsJson(ports)) : cli::portsText(ports));
        });
        command("online", "check that the controller answers (Online echo)", [&] {
            session.client().online();
            print(g.json ? jsonLine({{QStringLiteral("online"), true}}) : "online\n");
        });
        command("status", "read the controller's settings", [&] {
            const StatusRecord r = session.client().status();
            print(g.json ? jsonLine(cli::statusJson(r)) : cli::statusText(r));
        });
        command("info", "read the controller's information (two lines)", [&] {
            const InfoLines i = session.client().info();
            print(g.json ? jsonLine(cli::infoJson(i)) : i.first + "\n" + i.second + "\n");
        });
    }

    // Commands that set one thing: shutter, mode, trigger, sync, timer, repeat.
    void addSettingCommands() {
        sendOnly("open", "open the shutter", true, [](Session& s) { s.client().openShutter(); });
        sendOnly("close", "close the shutter", true, [](Session& s) { s.client().closeShutter(); });

        auto* mode = sendOnly("mode", "shutter mode: fast, soft, or nd STEPS (Neutral Density, 0..144)", true, [&](Session& s) {
            const int m = modeFromName(a.word);
            if (m != 2 && !a.value.empty()) throw UsageError{"only 'mode nd' takes a number of steps"};
            if (m == 2 && a.value.empty()) throw UsageError{"'mode nd' needs the number of steps, 0 to 144"};
            const std::string steps = m == 2 ? std::to_string(wholeNumber(a.value, 0, 144, "the number of steps")) : "";
            s.client().mode(m, steps);
        });
        mode->add_option("mode", a.word, "fast, soft or nd")->required()->check(CLI::IsMember({"fast", "soft", "nd"}));
        mode->add_option("steps", a.value, "Neutral Density steps, 0..144");

        auto* trigger = sendOnly("trigger", "trigger input: off, high, low, rising or falling", true,
                                 [&](Session& s) { s.client().trigger(triggerFromName(a.word)); });
        trigger->add_option("setting", a.word, "off, high (enable on high), low (enable on low), rising or falling (edge)")
            ->required()->check(CLI::IsMember({"off", "high", "low", "rising", "falling"}));

        auto* sync = sendOnly("sync", "SYNC output: off, high or low (for open)", true,
                              [&](Session& s) { s.client().sync(syncFromName(a.word)); });
        sync->add_option("setting", a.word, "off, high (high for open) or low (low for open)")
            ->required()->check(CLI::IsMember({"off", "high", "low"}));

        auto* timer = sendOnly("timer", "set the delay or exposure timer: HH:MM:SS.mmm.t or the five fields", true,
                               [&](Session& s) {
                                   const TimerValue t = timerFrom(a);
                                   s.client().setTimer(a.word == "exposure" ? TimerKind::Exposure : TimerKind::Delay, t);
                               });
        timer->add_option("timer", a.word, "delay or exposure")->required()->check(CLI::IsMember({"delay", "exposure"}));
        timer->add_option("time", a.timeText, "HH:MM:SS.mmm.t, e.g. 00:00:01.250.0 (at most 5 hours)");
        const char* const fieldHelp[] = {"hours, 0..5", "minutes, 0..59", "seconds, 0..59", "milliseconds, 0..999",
                                         "tenths of a millisecond, 0..9"};
        for (int f = 0; f < kTimerFieldCount; ++f)
            timer->add_option_function<std::string>(kTimerFieldName[f], [this, f](const std::string& v) { a.fields[std::size_t(f)] = v; },
                                                    fieldHelp[f]);

        auto* repeat = sendOnly("repeat", "repeat cycle number: N (0..65000) or continuous", true, [&](Session& s) {
            const std::string count = a.word == "continuous"
                                          ? std::string(kContinuousText)
                                          : std::to_string(wholeNumber(a.word, 0, 65000, "the repeat count (or continuous)"));
            s.client().repeat(count);
        });
        repeat->add_option("count", a.word, "N or continuous")->required();
    }

    // Runs and the controller as a whole: run, stop, power, reset, restore, save.
    void addRunCommands() {
        auto* run = command("run", "running option: power-up, trigger (one cycle per pulse) or go (run now)", [&] {
            const int option = runningOptionFromName(a.word);
            if (a.wait && option == 0) throw UsageError{"--wait follows a run started by 'run go' or 'run trigger'"};
            session.client().run(option);
            if (a.wait)
                session.followRun();
            else
                session.done("run", option == 0);
        });
        run->add_option("option", a.word, "power-up (on power up), trigger (on trigger pulse) or go")
            ->required()
            ->check(CLI::IsMember({"power-up", "trigger", "go"}));
        run->add_flag("--wait", a.wait, "follow the run as wait-run does");

        sendOnly("stop", "stop a run", false, [](Session& s) { s.client().stop(); });
        auto* power = sendOnly("power", "shutter power on or off", false, [&](Session& s) { s.client().power(a.word == "on"); });
        power->add_option("state", a.word, "on or off")->required()->check(CLI::IsMember({"on", "off"}));
        sendOnly("reset", "reset the controller and wait until it is back", false, [](Session& s) { s.client().reset(); });
        sendOnly("restore-defaults", "restore the factory settings and wait for the status", false,
                 [](Session& s) { s.client().restoreDefaults(); });
        sendOnly("save-to-controller", "save the settings as the controller's power-up settings", false,
                 [](Session& s) { s.client().saveToController(); });
    }

    // .cfg files: apply, read-config.
    void addFileCommands() {
        auto* apply = command("apply", "send a .cfg file's settings as the panel's Apply does", [&] {
            session.client().applyFile(a.file);
            if (g.json)
                print(jsonLine({{QStringLiteral("command"), QStringLiteral("apply")},
                                     {QStringLiteral("file"), QString::fromStdString(a.file)},
                                     {QStringLiteral("done"), true},
                                     {QStringLiteral("verified"), g.verify}}));
            else
                print("apply " + a.file + ": done" + (g.verify ? ", every field read back" : "") + "\n");
        });
        apply->add_option("file", a.file, "a .cfg file saved by the panel or by read-config")->required();

        auto* readConfig = command("read-config", "read the status into a .cfg file the panel loads", [&] {
            const StatusRecord r = session.client().readConfig(a.file);
            if (g.json)
                print(jsonLine({{QStringLiteral("file"), QString::fromStdString(a.file)},
                                     {QStringLiteral("status"), cli::statusJson(r)}}));
            else
                print("wrote " + a.file + "\n" + cli::statusText(r));
        });
        readConfig->add_option("file", a.file, "the .cfg file to write")->required();
    }

    // Following the line: wait-run, monitor.
    void addWatchCommands() {
        command("wait-run", "follow the run under way: one line per shutter report; ends with the run",
                [&] { session.followRun(); });

        auto* monitor = command("monitor", "show the line's traffic (time, TX/RX, hex) until the duration or Ctrl+C", [&] {
            Client& c = session.client();
            const std::string port = c.options().device.toStdString();
            c.setTrafficHandler([&, port](bool tx, const std::uint8_t* b, std::size_t n) {
                const auto now = std::chrono::system_clock::now();
                print(g.json ? jsonLine(cli::trafficJson(now, tx, port, b, n)) : trafficLine(now, tx, port, b, n) + "\n");
            });
            if (a.durationSeconds > 0)
                c.monitor(std::chrono::milliseconds(static_cast<long long>(a.durationSeconds * 1000)));
            else
                for (;;) c.monitor(std::chrono::hours(1));
        });
        monitor->add_option("--duration", a.durationSeconds, "seconds to watch (default: until Ctrl+C)")
            ->check(CLI::Range(0.001, 1e6));
    }

    Globals g;
    Arguments a;
    CLI::App app{"Drives a Veltra shutter controller on a serial line, as the panel does.", "veltractl"};
    Session session{g};
    std::map<CLI::App*, std::function<void()>> actions;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication qapp(argc, argv);
    cli::watchInterrupts();

    CommandLine commandLine;
    try {
        commandLine.parser().parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return commandLine.parser().exit(e);  // --help, --version
        return fail(std::string(e.what()) + " (see veltractl --help)", kExitUsage);
    }
    return commandLine.run();
}
