#include "sim/sim_options.h"

#include <charconv>
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

}  // namespace

SimOptionsResult parseSimOptions(std::span<const std::string_view> args) {
    SimOptionsResult r;
    SimOptions& o = r.options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view name = args[i];
        std::optional<std::string_view> inlineValue;
        if (const std::size_t eq = name.find('='); name.starts_with("--") && eq != std::string_view::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const auto flag = [&]() {
            if (inlineValue) r.error = std::string(name) + " takes no value";
            return r.error.empty();
        };
        const auto value = [&]() -> std::optional<std::string_view> {
            if (inlineValue) return inlineValue;
            if (i + 1 < args.size()) return args[++i];
            r.error = std::string(name) + " needs a value";
            return std::nullopt;
        };
        const auto bad = [&](std::string_view v) {
            r.error = "bad value for " + std::string(name) + ": '" + std::string(v) + "'";
        };

        if (name == "--help" || name == "-h") {
            if (!flag()) return r;
            o.help = true;
        } else if (name == "--version") {
            if (!flag()) return r;
            o.version = true;
        } else if (name == "--verbose") {
            if (!flag()) return r;
            o.verbose = true;
        } else if (name == "--link") {
            const auto v = value();
            if (!v) return r;
            if (v->empty()) { bad(*v); return r; }
            o.link = std::string(*v);
        } else if (name == "--time-scale") {
            const auto v = value();
            if (!v) return r;
            double x = 0;
            const char* end = v->data() + v->size();
            const auto [ptr, ec] = std::from_chars(v->data(), end, x);
            if (v->empty() || ec != std::errc{} || ptr != end || !std::isfinite(x) || x <= 0)
                { bad(*v); return r; }
            o.timeScale = x;
        } else if (name == "--pace-baud") {
            const auto v = value();
            if (!v) return r;
            const auto n = parseInteger(*v, 0, 10'000'000);
            if (!n) { bad(*v); return r; }
            o.paceBaud = static_cast<long>(*n);
        } else if (name == "--power-up-option") {
            const auto v = value();
            if (!v) return r;
            if (*v == "none") o.powerUp.runningOption = SimRunningOption::None;
            else if (*v == "go" || *v == "power-up") o.powerUp.runningOption = SimRunningOption::PowerUp;
            else if (*v == "trigger") o.powerUp.runningOption = SimRunningOption::TriggerPulse;
            else { bad(*v); return r; }
        } else if (name == "--repeat") {
            const auto v = value();
            if (!v) return r;
            if (*v == "continuous") {
                o.powerUp.repeat = kSimContinuous;
            } else {
                const auto n = parseInteger(*v, 0, 0xFFFF);
                if (!n) { bad(*v); return r; }
                o.powerUp.repeat = static_cast<std::uint16_t>(*n);
            }
        } else if (name == "--delay-ms" || name == "--exposure-ms") {
            const auto v = value();
            if (!v) return r;
            const auto t = parseMilliseconds(*v);
            if (!t) { bad(*v); return r; }
            (name == "--delay-ms" ? o.powerUp.delay : o.powerUp.exposure) = *t;
        } else {
            r.error = "unknown option '" + std::string(args[i]) + "'";
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
