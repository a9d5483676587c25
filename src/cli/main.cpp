// veltractl: drives a Veltra shutter controller from scripts, through the
// same core as the panel (same bytes, same decoder, same download pacing).

#include "cli/cli_output.h"
#include "cli/cli_platform.h"
#include "client/refusal_text.h"
#include "client/setting_names.h"
#include "client/veltra_client.h"
#include "panel/field_checks.h"
#include "protocol/traffic_line.h"
#include "serial/port_list.h"
#include "serial/port_settings.h"
#include "veltra_version.h"

#include <CLI/CLI.hpp>

#include <QCoreApplication>
#include <QJsonArray>

#include <charconv>
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

// What a serial line can be set to: from the slowest teletype rate to the
// fastest common USB adapter.
constexpr int kMinBaud = 50;
constexpr int kMaxBaud = 4'000'000;

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
            o.interrupted = [] { return cli::interrupted(); };  // also while connecting
            m_client = std::make_unique<Client>(o);
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
        Client& c = client();
        c.beginRun();
        m_following = true;
        while (const auto e = c.nextRunEvent())
            print(m_g.json ? jsonLine(cli::runEventJson(*e)) : cli::runEventText(*e));
        const auto now = std::chrono::system_clock::now();
        print(m_g.json ? jsonLine(cli::runEndJson(now)) : cli::isoTime(now) + "  run ended\n");
        m_following = false;
    }
    // A run is being followed (wait-run, run --wait) and has not ended.
    bool following() const { return m_following; }
    bool opened() const { return m_client != nullptr; }

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
    bool m_following = false;
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

// What is wrong with `text` as a whole decimal number from `low` to `high`,
// or nothing. The command line takes no other: "5abc", "1e3", "0x10", "+5",
// " 5" and "" are refused, not read as 5, 1, 16 or 0; a '-' only where the
// range goes below 0.
std::optional<std::string> wholeNumberProblem(const std::string& text, long long low, long long high,
                                              const std::string& what) {
    const std::string range = what + " is a whole number from " + std::to_string(low) + " to " + std::to_string(high);
    const std::size_t digits = low < 0 && text.starts_with('-') ? 1 : 0;
    long long n = 0;
    if (text.size() == digits || text.find_first_not_of("0123456789", digits) != std::string::npos)
        return "'" + text + "' is not a whole decimal number; " + range;
    if (std::from_chars(text.data(), text.data() + text.size(), n).ec != std::errc{} || n < low || n > high)
        return "'" + text + "' is out of range; " + range;
    return std::nullopt;
}

int wholeNumber(const std::string& text, int low, int high, const std::string& what) {
    if (const auto problem = wholeNumberProblem(text, low, high, what))
        throw UsageError{"refused, nothing was sent: " + *problem};
    return std::stoi(text);
}

// The same rule for an option CLI11 converts: checked on the text first.
CLI::Validator wholeNumberCheck(long long low, long long high, const std::string& what) {
    return CLI::Validator([=](std::string& text) { return wholeNumberProblem(text, low, high, what).value_or(""); },
                          std::to_string(low) + ".." + std::to_string(high));
}

// A decimal number of seconds, "2" or "0.25", from 0.001 to 1000000.
CLI::Validator secondsCheck() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const std::string range = "; the duration is a number of seconds from 0.001 to 1000000, e.g. 2.5";
            const std::size_t point = text.find('.');
            const std::string whole = text.substr(0, point);
            const std::string fraction = point == std::string::npos ? "0" : text.substr(point + 1);
            const bool digitsOnly = (whole + fraction).find_first_not_of("0123456789") == std::string::npos;
            if (whole.empty() || fraction.empty() || !digitsOnly)
                return "'" + text + "' is not a decimal number" + range;
            double seconds = 0;
            std::from_chars(text.data(), text.data() + text.size(), seconds);  // not the locale's strtod
            if (seconds < 0.001 || seconds > 1e6) return "'" + text + "' is out of range" + range;
            return {};
        },
        "0.001..1000000");
}

// A setting's name, as the client's refusal of any other says it ("trigger
// must be one of off, high, low, rising, falling, not 'x'"): thrown, past
// CLI11's own wording.
template <typename Choice>
CLI::Validator choiceCheck(std::optional<Choice> (*fromName)(const std::string&), const char* panelRefusal, const char* names) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            if (!fromName(text)) throw UsageError{"refused, nothing was sent: " + refusalText(panelRefusal, text)};
            return {};
        },
        names);
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

    // A command line CLI11 refused, in one line that says what to do.
    std::string parseFailure(const CLI::ParseError& e) const {
        // No command matched: the first word left over is the one mistyped.
        if (dynamic_cast<const CLI::RequiredError*>(&e) && app.get_subcommands().empty()) {
            const std::vector<std::string> left = app.remaining();
            if (left.empty()) return "no command given; see veltractl --help";
            return std::string(left.front().starts_with('-') ? "unknown option '" : "unknown command '") +
                   left.front() + "'; see veltractl --help";
        }
        return std::string(e.what()) + " (see veltractl --help)";
    }

    // Runs the chosen command; a failure is one line on standard error and its exit code.
    int run() {
        try {
            for (CLI::App* sub : app.get_subcommands()) {
                if (cli::interrupted()) throw InterruptedError();  // before the device is opened
                actions.at(sub)();
            }
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
            // Only the following stopped: the controller runs its cycles on.
            if (session.following())
                return fail("interrupted; the port is closed, but the controller goes on with the run: "
                            "'veltractl stop' stops it",
                            kExitInterrupted);
            return fail(session.opened() ? "interrupted; the port is closed" : "interrupted", kExitInterrupted);
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
        app.set_version_flag("-V,--version", std::string("veltractl ") + VELTRA_VERSION_TEXT);
        app.footer(exitCodesText());
        app.require_subcommand(1, 1);
        app.fallthrough();  // the global options may also follow the subcommand
        auto* deviceOpt = app.add_option("--device", g.device, cli::platformTexts().deviceHelp);
        app.add_option("--port", g.port, cli::platformTexts().portHelp)
            ->check(wholeNumberCheck(1, 256, "the COM port number"))
            ->excludes(deviceOpt);
        app.add_option("--baud", g.baud, "line speed in baud, 50 to 4000000 (default 9600; 8N1)")
            ->check(wholeNumberCheck(kMinBaud, kMaxBaud, "the line speed in baud"));
        app.add_option("--timeout", g.timeoutMs, "milliseconds to wait for each answer, 1 to 3600000 (default 2000)")
            ->check(wholeNumberCheck(1, 3'600'000, "the timeout in milliseconds"));
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
            const ShutterMode m = *modeFromName(a.word);  // the option's check has passed
            const bool nd = m == ShutterMode::NeutralDensity;
            if (!nd && !a.value.empty()) throw UsageError{"only 'mode nd' takes a number of steps"};
            if (nd && a.value.empty()) throw UsageError{"'mode nd' needs the number of steps, 0 to 144"};
            const std::string steps = nd ? std::to_string(wholeNumber(a.value, 0, 144, "the number of steps")) : "";
            s.client().mode(m, steps);
        });
        mode->add_option("mode", a.word, "fast, soft or nd")
            ->required()
            ->check(choiceCheck(modeFromName, msg::kBadMode, "{fast,soft,nd}"));
        mode->add_option("steps", a.value, "Neutral Density steps, 0..144");

        auto* trigger = sendOnly("trigger", "trigger input: off, high, low, rising or falling", true,
                                 [&](Session& s) { s.client().trigger(*triggerFromName(a.word)); });
        trigger->add_option("setting", a.word, "off, high (enable on high), low (enable on low), rising or falling (edge)")
            ->required()->check(choiceCheck(triggerFromName, msg::kBadTrigger, "{off,high,low,rising,falling}"));

        auto* sync = sendOnly("sync", "SYNC output: off, high or low (for open)", true,
                              [&](Session& s) { s.client().sync(*syncFromName(a.word)); });
        sync->add_option("setting", a.word, "off, high (high for open) or low (low for open)")
            ->required()->check(choiceCheck(syncFromName, msg::kBadSync, "{off,high,low}"));

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
            const RunningOption option = *runningOptionFromName(a.word);
            if (a.wait && option == RunningOption::OnPowerUp) throw UsageError{"--wait follows a run started by 'run go' or 'run trigger'"};
            session.client().run(option);
            if (a.wait)
                session.followRun();
            else
                session.done("run", option == RunningOption::OnPowerUp);
        });
        run->add_option("option", a.word, "power-up (on power up), trigger (on trigger pulse) or go")
            ->required()
            ->check(choiceCheck(runningOptionFromName, msg::kBadRunningOption, "{power-up,trigger,go}"));
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
        monitor->add_option("--duration", a.durationSeconds, "seconds to watch, e.g. 2.5 (default: until Ctrl+C)")
            ->check(secondsCheck());
    }

    Globals g;
    Arguments a;
    CLI::App app{"Drives a Veltra shutter controller on a serial line, as the panel does.", "veltractl"};
    Session session{g};
    std::map<CLI::App*, std::function<void()>> actions;
};

}  // namespace

int main(int argc, char** argv) {
    // Before anything else: a signal at any stage from here on ends the
    // program with 130, never with the default action's 143.
    cli::watchInterrupts();
    QCoreApplication qapp(argc, argv);

    CommandLine commandLine;
    int code = kExitDone;
    try {
        commandLine.parser().parse(argc, argv);
        code = commandLine.run();
    } catch (const CLI::ParseError& e) {
        code = e.get_exit_code() == 0 ? commandLine.parser().exit(e)  // --help, --version
                                      : fail(commandLine.parseFailure(e), kExitUsage);
    } catch (const UsageError& e) {  // a refused choice
        code = fail(e.text + " (see veltractl --help)", kExitUsage);
    }
    // A signal that came where nothing was waiting (while parsing, after the
    // last answer) is no less a request to stop.
    if (cli::interrupted() && code != kExitInterrupted) return fail("interrupted", kExitInterrupted);
    return code;
}
