#include "sim/sim_options.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <cmath>
#include <optional>

namespace veltra {

namespace {

std::optional<long long> parseInteger(std::string_view text, long long lo, long long hi) {
    long long v = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc{} || ptr != end || v < lo || v > hi) return std::nullopt;
    return v;
}

// "250", "12.5": milliseconds with at most one decimal (tenths).
std::optional<SimTimer> parseMilliseconds(std::string_view text) {
    const std::size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    long long tenths = 0;
    if (dot != std::string_view::npos) {
        const std::string_view frac = text.substr(dot + 1);
        if (frac.size() != 1 || frac[0] < '0' || frac[0] > '9') return std::nullopt;
        tenths = frac[0] - '0';
    }
    const auto ms = parseInteger(whole, 0, 16LL * 3600 * 1000);
    if (!ms) return std::nullopt;
    return SimTimer::fromTenths(*ms * 10 + tenths);
}

// --help, --version, --verbose: false for any other name.
bool applyFlag(std::string_view name, SimOptions& o) {
    if (name == "--help" || name == "-h") o.help = true;
    else if (name == "--version") o.version = true;
    else if (name == "--verbose") o.verbose = true;
    else return false;
    return true;
}

bool isValueOption(std::string_view name) {
    static constexpr std::string_view kNames[] = {"--link",   "--time-scale", "--pace-baud", "--power-up-option",
                                                  "--repeat", "--delay-ms",   "--exposure-ms"};
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

std::optional<double> parsePositive(std::string_view v) {
    double x = 0;
    const char* end = v.data() + v.size();
    const auto [ptr, ec] = std::from_chars(v.data(), end, x);
    if (v.empty() || ec != std::errc{} || ptr != end || !std::isfinite(x) || x <= 0) return std::nullopt;
    return x;
}

// One option that takes a value (isValueOption); false for a value it refuses.
bool applyValue(std::string_view name, std::string_view v, SimOptions& o) {
    if (name == "--link") {
        if (v.empty()) return false;
        o.link = std::string(v);
    } else if (name == "--time-scale") {
        const auto x = parsePositive(v);
        if (!x) return false;
        o.timeScale = *x;
    } else if (name == "--pace-baud") {
        const auto n = parseInteger(v, 0, 10'000'000);
        if (!n) return false;
        o.paceBaud = static_cast<long>(*n);
    } else if (name == "--power-up-option") {
        if (v == "none") o.powerUp.runningOption = SimRunningOption::None;
        else if (v == "go" || v == "power-up") o.powerUp.runningOption = SimRunningOption::PowerUp;
        else if (v == "trigger") o.powerUp.runningOption = SimRunningOption::TriggerPulse;
        else return false;
    } else if (name == "--repeat") {
        if (v == "continuous") {
            o.powerUp.repeat = kSimContinuous;
        } else {
            const auto n = parseInteger(v, 0, 0xFFFF);
            if (!n) return false;
            o.powerUp.repeat = static_cast<std::uint16_t>(*n);
        }
    } else {  // --delay-ms, --exposure-ms
        const auto t = parseMilliseconds(v);
        if (!t) return false;
        (name == "--delay-ms" ? o.powerUp.delay : o.powerUp.exposure) = *t;
    }
    return true;
}

}  // namespace

SimOptionsResult parseSimOptions(std::span<const std::string_view> args) {
    SimOptionsResult r;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view name = args[i];
        std::optional<std::string_view> inlineValue;
        if (const std::size_t eq = name.find('='); name.starts_with("--") && eq != std::string_view::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        if (!isValueOption(name)) {
            if (!applyFlag(name, r.options)) {
                r.error = "unknown option '" + std::string(args[i]) + "'";
                return r;
            }
            if (inlineValue) {
                r.error = std::string(name) + " takes no value";
                return r;
            }
            continue;
        }
        if (!inlineValue && i + 1 >= args.size()) {
            r.error = std::string(name) + " needs a value";
            return r;
        }
        const std::string_view v = inlineValue ? *inlineValue : args[++i];
        if (!applyValue(name, v, r.options)) {
            r.error = "bad value for " + std::string(name) + ": '" + std::string(v) + "'";
            return r;
        }
    }
    return r;
}

std::string simUsage() {
    return R"(Usage: veltra-sim [options]

A simulated Veltra shutter controller on a pseudo-terminal. The first line on
standard output is the path of the terminal to open (e.g. /dev/pts/3). Clients
may close and reopen it at will; what the controller sends while nobody has it
open is dropped. Should a client die leaving the terminal locked for exclusive
use, a new terminal is made and its path printed as a further line (the --link
follows it).

Options:
  --link PATH            also make PATH a symbolic link to that terminal
                         (an existing symbolic link is replaced; removed on exit)
  --time-scale X         run the controller's clock X times faster (default 1);
                         run reports beyond what a line could carry are dropped
  --pace-baud N          pace both directions like a wire at N baud, 10 bits
                         a byte: replies go out at most N/10 bytes a second,
                         and a received byte reaches the controller only once
                         it has crossed the wire (default 0: no pacing)
  --power-up-option OPT  saved running option: none (default), go (run the
                         programmed cycle at power up; also "power-up") or
                         trigger (run one cycle per trigger pulse)
  --repeat N             saved repeat count, 0 to 65535 or "continuous" (default 1)
  --delay-ms MS          saved delay, milliseconds with up to one decimal (default 0)
  --exposure-ms MS       saved exposure, likewise (default 0)
  --verbose              log every command received and every reply sent, in
                         hexadecimal, on standard error
  --help                 show this text
  --version              show the version

Other saved settings start at the factory values: shutter closed, Fast,
trigger input off, sync output off.

Signals:
  SIGUSR1                one pulse on the trigger input (runs a cycle while the
                         running option On Trigger Pulse waits for one)
  SIGINT, SIGTERM        stop and exit with status 0
)";
}

}  // namespace veltra
