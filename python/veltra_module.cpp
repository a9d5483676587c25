// The native part of the veltra Python package: a Controller over the headless
// client. Names become the client's numbers here and results become the
// package's dataclasses; every byte, check and wait is the client's own.

#include "client/veltra_client.h"
#include "model/leading_int.h"
#include "model/timer_value.h"
#include "panel/config_file.h"
#include "panel/field_checks.h"
#include "panel/shutter_panel.h"

#include <QCoreApplication>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace py = pybind11;

namespace veltra {
namespace {

py::object types(const char* name) { return py::module_::import("veltra._types").attr(name); }

// The client runs Qt's event loop while it waits; a script rarely has a Qt
// application of its own, and when it has one (same Qt) that one is used.
void ensureApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "veltra";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);  // kept for the life of the process
}

// ---- values ------------------------------------------------------------------------

constexpr long long kTenthsPerHour = 36'000'000;

py::object timedeltaOf(long long tenths) {
    return py::module_::import("datetime").attr("timedelta")(py::arg("microseconds") = tenths * 100);
}

TimerValue timerOfTenths(long long tenths) {
    TimerValue t;
    t.hours = std::to_string(tenths / kTenthsPerHour);
    t.minutes = std::to_string(tenths / 600'000 % 60);
    t.seconds = std::to_string(tenths / 10'000 % 60);
    t.milliseconds = std::to_string(tenths / 10 % 1000);
    t.tenths = std::to_string(tenths % 10);
    return t;
}

// A timedelta, or the text "HH:MM:SS.mmm.t". The panel's own check judges the
// range when the value is used; here only what no timer field can hold is refused.
TimerValue timerFrom(py::handle value) {
    if (py::isinstance<py::str>(value)) {
        const auto text = value.cast<std::string>();
        if (auto t = parseTimerText(text)) return *t;
        throw RefusedError("a timer reads HH:MM:SS.mmm.t (e.g. 00:00:01.500.0), not \"" + text + "\"");
    }
    if (!py::isinstance(value, py::module_::import("datetime").attr("timedelta")))
        throw py::type_error("a timer is a datetime.timedelta or a text HH:MM:SS.mmm.t");
    const auto days = value.attr("days").cast<long long>();
    const auto seconds = value.attr("seconds").cast<long long>();
    const auto micro = value.attr("microseconds").cast<long long>();
    if (days < 0) throw RefusedError("a timer cannot be negative");
    if (days > 1000) throw RefusedError(msg::kTimerMax);  // keeps the sums below in range
    if (micro % 100 != 0)
        throw RefusedError("a timer counts tenths of a millisecond: " + std::to_string(micro % 100) +
                           " microseconds cannot be set");
    return timerOfTenths((days * 86'400 + seconds) * 10'000 + micro / 100);
}

py::object repeatValue(int repeat) {
    if (repeat == kContinuousCount) return py::str("continuous");
    return py::int_(repeat);
}

// A count, or "continuous", as the repeat text the panel takes.
std::string repeatText(py::handle value) {
    if (py::isinstance<py::bool_>(value)) throw py::type_error("repeat takes a count or \"continuous\"");
    if (py::isinstance<py::int_>(value)) {
        const auto n = value.cast<long long>();
        if (n < 0) throw RefusedError(msg::kNegativeRepeat);
        if (n > 0xFFFF) throw RefusedError(msg::kRepeatTooLarge);
        return std::to_string(n);
    }
    if (py::isinstance<py::str>(value) && value.cast<std::string>() == "continuous") return kContinuousText;
    throw RefusedError("repeat takes a count or \"continuous\"");
}

int nameOr(const std::string& name, int none, int fromName, const char* refusal) {
    if (name == "none") return none;
    if (fromName == -2) throw RefusedError(refusal);
    return fromName;
}

py::object statusOf(const StatusRecord& r) {
    const TimerValue cycle = computeCycleTime(r.delayTime, r.exposureTime, r.shutterMode, r.ndSteps);
    return types("Status")(shutterName(r.shutterPosition), modeName(r.shutterMode), r.ndSteps, triggerName(r.triggerMode),
                           syncName(r.syncMode), timedeltaOf(timerTenths(r.delayTime)),
                           timedeltaOf(timerTenths(r.exposureTime)), timedeltaOf(timerTenths(cycle)),
                           repeatValue(repeatCount(r)), runningOptionName(r.runningOption));
}

// ---- configuration files, through the panel's own load and save ------------------------------

class NoLine : public CommandSink {
public:
    bool send(int, const Command&) override { return false; }
};

class FilePrompts : public Prompter {
public:
    explicit FilePrompts(std::string path) : m_path(std::move(path)) {}
    void warning(const std::string& text) override { errors.push_back(text); }
    bool confirm(const std::string&) override { return false; }
    std::optional<std::string> askNdSteps() override { return std::nullopt; }
    std::optional<std::string> chooseConfigFile(bool) override { return m_path; }
    void error(const std::string&, const std::string& text) override { errors.push_back(text); }
    std::vector<std::string> errors;

private:
    std::string m_path;
};

struct FileSettings {
    ControllerSettings settings;
    int timerSelect = -1;
};

FileSettings settingsFrom(py::handle config) {
    FileSettings f;
    ControllerSettings& a = f.settings;
    const auto text = [&](const char* field) { return config.attr(field).cast<std::string>(); };
    const std::string shutter = text("shutter");
    a.shutterPosition = shutter == "open" ? 0 : shutter == "close" ? 1 : nameOr(shutter, -1, -2, msg::kBadPosition);
    a.shutterMode = nameOr(text("mode"), -1, modeFromName(text("mode")), msg::kBadMode);
    a.ndSteps = config.attr("nd_steps").cast<int>();
    a.triggerMode = triggerFromName(text("trigger"));
    if (a.triggerMode == -2) throw RefusedError(msg::kBadTrigger);
    a.syncMode = syncFromName(text("sync"));
    if (a.syncMode == -2) throw RefusedError(msg::kBadSync);
    a.delayTime = timerFrom(config.attr("delay"));
    a.exposureTime = timerFrom(config.attr("exposure"));
    a.repeatText = repeatText(config.attr("repeat"));
    const std::string option = text("running_option");
    a.runningOption = nameOr(option, -1, runningOptionFromName(option), msg::kBadRunningOption);
    const py::object selected = config.attr("selected_timer");
    if (!selected.is_none()) {
        const auto which = selected.cast<std::string>();
        if (which != "delay" && which != "exposure") throw RefusedError("selected_timer is \"delay\", \"exposure\" or None");
        f.timerSelect = which == "exposure" ? 1 : 0;
    }
    return f;
}

py::dict loadConfig(const std::string& path) {
    NoLine line;
    FilePrompts prompts(path);
    ShutterPanel panel(line, prompts);
    PanelState s;
    panel.initialise(s);
    panel.onLoadConfigFile(s);
    if (!prompts.errors.empty()) throw ConfigFileError(prompts.errors.front());
    py::dict d;
    d["shutter"] = s.shutterPosition == -1 ? "none" : shutterName(s.shutterPosition);
    d["mode"] = modeName(s.shutterMode);
    d["nd_steps"] = s.ndSteps;
    d["trigger"] = triggerName(s.triggerMode);
    d["sync"] = syncName(s.syncMode);
    d["delay"] = timedeltaOf(timerTenths(s.delayTime));
    d["exposure"] = timedeltaOf(timerTenths(s.exposureTime));
    d["repeat"] = s.repeatText == kContinuousText ? py::object(py::str("continuous"))
                                                   : py::object(py::int_(leadingInt(s.repeatText)));
    d["running_option"] = runningOptionName(s.runningOption);
    d["selected_timer"] = s.timerSelectIndex == 1 ? py::object(py::str("exposure"))
                          : s.timerSelectIndex == 0 ? py::object(py::str("delay"))
                                                    : py::object(py::none());
    return d;
}


void saveConfig(const std::string& path, py::handle config) {
    const FileSettings f = settingsFrom(config);
    PanelState s;
    static_cast<ControllerSettings&>(s) = f.settings;
    s.timerSelectIndex = f.timerSelect;
    NoLine line;
    FilePrompts prompts(path);
    ShutterPanel panel(line, prompts);
    panel.onSaveConfigFile(s);
    if (!prompts.errors.empty()) throw ConfigFileError(prompts.errors.front());
}

// ---- errors ----------------------------------------------------------------------------------

void raise(const char* kind, const std::string& text, std::initializer_list<std::pair<const char*, py::object>> attrs = {}) {
    py::object error = types(kind)(text);
    for (const auto& [name, value] : attrs) error.attr(name) = value;
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
}

int errnoOf(PortError::Reason r) {
    switch (r) {
    case PortError::Reason::Missing: return ENOENT;
    case PortError::Reason::Permission: return EACCES;
    case PortError::Reason::Busy: return EBUSY;
    case PortError::Reason::Closed: return EBADF;
    case PortError::Reason::Other: return EIO;
    }
    return EIO;
}

void translate(std::exception_ptr p) {
    try {
        if (p) std::rethrow_exception(p);
    } catch (const RefusedError& e) {
        raise("RefusedError", e.what());
    } catch (const TimeoutError& e) {
        raise("Timeout", e.what(), {{"step", py::str(e.step())}});
    } catch (const PortError& e) {
        raise("PortError", e.what(), {{"reason", py::str(e.reasonName())}, {"errno", py::int_(errnoOf(e.reason()))}});
    } catch (const VerifyError& e) {
        py::list d;
        for (const Difference& x : e.differences()) d.append(types("Difference")(x.field, x.wanted, x.read));
        raise("VerifyError", e.what(), {{"differences", py::tuple(d)}});
    } catch (const ConfigFileError& e) {
        raise("ConfigFileError", e.what());
    } catch (const InterruptedError&) {
        PyErr_SetNone(PyExc_KeyboardInterrupt);
    } catch (const ClientError& e) {
        raise("Error", e.what());
    }
}

// ---- the controller ----------------------------------------------------------------------------

using Traffic = std::pair<bool, std::string>;  // transmitted, bytes

class Controller {
public:
    Controller(const std::string& device, int baud, const py::object& timeout, bool verify) : m_verify(verify) {
        if (baud <= 0) throw RefusedError("baud must be positive");
        int timeoutMs = -1;
        if (!timeout.is_none()) {
            const auto seconds = timeout.cast<double>();
            if (!(seconds > 0) || seconds > 86'400) throw RefusedError("timeout is seconds above 0 (and at most a day), or None");
            timeoutMs = std::max(1, static_cast<int>(seconds * 1000 + 0.5));
        }
        ensureApplication();
        m_client = std::make_unique<Client>(ClientOptions{QString::fromStdString(device), baud, timeoutMs, verify});
        m_client->setTrafficHandler([this](bool tx, const std::uint8_t* bytes, std::size_t n) {
            const std::lock_guard lock(m_trafficLock);
            if (m_traffic.size() >= kTrafficKept) m_traffic.pop_front();
            m_traffic.emplace_back(tx, std::string(reinterpret_cast<const char*>(bytes), n));
        });
        // Python's signal handlers run here (Ctrl+C raises KeyboardInterrupt);
        // at most every 25 ms, so a busy thread of the script does not slow the line.
        m_client->setInterruptCheck([last = std::chrono::steady_clock::time_point{}]() mutable {
            const auto now = std::chrono::steady_clock::now();
            if (now - last < std::chrono::milliseconds(25)) return false;
            last = now;
            py::gil_scoped_acquire gil;
            return PyErr_CheckSignals() != 0;
        });
    }

    // Runs one client call with the GIL released. A Ctrl+C closes the port
    // (the flow it cut is left half done) and raises what the handler raised.
    template <class F>
    auto call(std::optional<bool> verify, F&& f) {
        if (std::this_thread::get_id() != m_thread)
            throw std::runtime_error("a Controller is used from the thread that opened it");
        if (m_busy) throw std::runtime_error("the Controller is still busy with another call");
        m_busy = true;
        struct Done {
            bool& busy;
            ~Done() { busy = false; }
        } done{m_busy};
        m_client->setVerify(verify.value_or(m_verify));
        try {
            py::gil_scoped_release release;
            return f(*m_client);
        } catch (const InterruptedError&) {
            m_client->close();
            if (PyErr_Occurred()) throw py::error_already_set();
            throw;
        }
    }

    void closePort() {
        if (m_busy) throw std::runtime_error("the Controller is still busy with another call");
        m_client->close();
    }
    bool portOpen() const { return m_client->isOpen(); }
    const ClientOptions& options() const { return m_client->options(); }

    py::list traffic() {
        std::deque<Traffic> taken;
        {
            const std::lock_guard lock(m_trafficLock);
            taken.swap(m_traffic);
        }
        py::list out;
        for (const auto& [tx, bytes] : taken) out.append(py::make_tuple(tx ? "tx" : "rx", py::bytes(bytes)));
        return out;
    }

private:
    static constexpr std::size_t kTrafficKept = 100'000;
    std::unique_ptr<Client> m_client;
    bool m_verify;
    bool m_busy = false;  // touched with the GIL held only
    std::thread::id m_thread = std::this_thread::get_id();
    std::mutex m_trafficLock;
    std::deque<Traffic> m_traffic;
};

using Verify = std::optional<bool>;

void noValue(Controller& c, Verify verify, void (Client::*m)()) {
    c.call(verify, [m](Client& cl) { (cl.*m)(); });
}

// The client reports each shutter report; a script thinks in cycles: an
// opening and the closing after it make one report.
py::list waitRun(Controller& c) {
    std::vector<RunEvent> events;
    c.call(std::nullopt, [&](Client& cl) { cl.waitRun([&](const RunEvent& e) { events.push_back(e); }); });
    const py::object fromTimestamp = py::module_::import("datetime").attr("datetime").attr("fromtimestamp");
    const auto when = [&](const RunEvent& e) {
        return fromTimestamp(std::chrono::duration<double>(e.time.time_since_epoch()).count()).attr("astimezone")();
    };
    py::list reports;
    py::object opened = py::none();
    std::string left;
    for (const RunEvent& e : events) {
        left = e.leftCycleText;
        if (e.shutterPosition == 0) {
            opened = when(e);
            continue;
        }
        reports.append(types("RunReport")(py::len(reports) + 1, opened, when(e), left));
        opened = py::none();
    }
    if (!opened.is_none()) reports.append(types("RunReport")(py::len(reports) + 1, opened, py::none(), left));
    return reports;
}

}  // namespace
}  // namespace veltra

PYBIND11_MODULE(_veltra, m) {
    using namespace veltra;
    using namespace pybind11::literals;
    m.doc() = "Native part of the veltra package: the Controller over the headless C++ client.";
    py::register_exception_translator(&translate);

    const auto verifyArg = py::arg("verify") = py::none();
    py::class_<Controller>(m, "Controller", R"(One Veltra controller on one serial device.

Controller(device, baud=9600, timeout=2.0, verify=False) opens the device (8N1)
at once; use it as a context manager, or call close_port(): the port is also
closed when the object is garbage collected. `timeout` is the seconds each
answer is waited for (None waits for ever; Ctrl+C still interrupts). `verify`
reads the status back after each setting; each setter's own verify= overrides
it. Calls block; the GIL is released while they wait. Use one Controller from
the thread that opened it.)")
        .def(py::init<const std::string&, int, const py::object&, bool>(), "device"_a, "baud"_a = 9600,
             "timeout"_a = 2.0, "verify"_a = false)
        .def("__enter__", [](py::object self) { return self; }, "The Controller itself.")
        .def("__exit__", [](Controller& c, py::args) { c.closePort(); }, "Closes the port.")
        .def("close_port", &Controller::closePort, "Closes the port; later calls raise PortError (\"closed\").")
        .def_property_readonly("port_open", &Controller::portOpen, "True while the port is open.")
        .def_property_readonly("device", [](const Controller& c) { return c.options().device.toStdString(); },
                               "The device path.")
        .def("__repr__", [](const Controller& c) {
            return "<veltra.Controller " + c.options().device.toStdString() + " at " + std::to_string(c.options().baud) +
                   " baud, " + (c.portOpen() ? "open" : "closed") + ">";
        })
        .def("online", [](Controller& c) {
            try {
                return c.call(std::nullopt, [](Client& cl) { return cl.online(); });
            } catch (const TimeoutError&) {
                return false;
            }
        }, "Sends Online (EE); True when the controller echoes it within the timeout, else False.")
        .def("status", [](Controller& c) { return statusOf(c.call(std::nullopt, [](Client& cl) { return cl.status(); })); },
             "Sends Status (CC) and returns the decoded reply as a veltra.Status.")
        .def("info", [](Controller& c) {
            const InfoLines l = c.call(std::nullopt, [](Client& cl) { return cl.info(); });
            return py::make_tuple(l.first, l.second);
        }, "Sends Get Controller Info (FD); returns its two lines (8 and 4 characters).")
        .def("open", [](Controller& c, Verify v) { noValue(c, v, &Client::openShutter); }, verifyArg,
             "Opens the shutter (AA).")
        .def("close", [](Controller& c, Verify v) { noValue(c, v, &Client::closeShutter); }, verifyArg,
             "Closes the shutter (AC). The port stays open: see close_port().")
        .def("mode", [](Controller& c, const std::string& name, const py::object& steps, Verify v) {
            std::string text;
            if (!steps.is_none()) {
                if (name != "nd") throw RefusedError("steps go with the \"nd\" mode only");
                text = py::str(steps).cast<std::string>();
            }
            c.call(v, [&](Client& cl) { cl.mode(modeFromName(name), text); });
        }, "mode"_a, "steps"_a = py::none(), verifyArg,
             "Shutter mode: \"fast\" (DC), \"soft\" (DD) or \"nd\" with steps 0..144 (DE nn).")
        .def("trigger", [](Controller& c, const std::string& name, Verify v) {
            c.call(v, [&](Client& cl) { cl.trigger(triggerFromName(name)); });
        }, "setting"_a, verifyArg, "Trigger input: \"off\", \"high\", \"low\", \"rising\" or \"falling\" (FA Ax).")
        .def("sync", [](Controller& c, const std::string& name, Verify v) {
            c.call(v, [&](Client& cl) { cl.sync(syncFromName(name)); });
        }, "setting"_a, verifyArg, "Sync output: \"off\", \"high\" or \"low\" (FA Bx).")
        .def("set_timer", [](Controller& c, const std::string& which, const py::object& value, Verify v) {
            if (which != "delay" && which != "exposure") throw RefusedError("set_timer takes \"delay\" or \"exposure\"");
            const TimerValue t = timerFrom(value);
            c.call(v, [&](Client& cl) { cl.setTimer(which == "exposure" ? TimerKind::Exposure : TimerKind::Delay, t); });
        }, "timer"_a, "value"_a, verifyArg,
             "Programs the delay or exposure timer: a datetime.timedelta (whole tenths of a millisecond, up to 5 "
             "hours) or \"HH:MM:SS.mmm.t\".")
        .def("repeat", [](Controller& c, const py::object& count, Verify v) {
            const std::string text = repeatText(count);
            c.call(v, [&](Client& cl) { cl.repeat(text); });
        }, "count"_a, verifyArg, "Repeat number: a count (above 65000 runs continuously) or \"continuous\" (FA F0 hi lo).")
        .def("run", [](Controller& c, const std::string& option, Verify v) {
            c.call(v, [&](Client& cl) { cl.run(runningOptionFromName(option)); });
        }, "option"_a, verifyArg,
             "Running option: \"power-up\" (FA F1), \"trigger\" (FA F2) or \"go\" (FA F3, starts the cycle now).")
        .def("stop", [](Controller& c) { noValue(c, std::nullopt, &Client::stop); }, "Stops a run (BF).")
        .def("power", [](Controller& c, bool on) { c.call(std::nullopt, [on](Client& cl) { cl.power(on); }); }, "on"_a,
             "Shutter power on (CE) or off (CF).")
        .def("reset", [](Controller& c) { noValue(c, std::nullopt, &Client::reset); },
             "Resets the controller (FB) and waits until it is back.")
        .def("restore_defaults", [](Controller& c) { noValue(c, std::nullopt, &Client::restoreDefaults); },
             "Restores the factory settings (FA C0) and waits for the status that follows.")
        .def("save_to_controller", [](Controller& c) { noValue(c, std::nullopt, &Client::saveToController); },
             "Makes the current settings the power-up settings (FA C1).")
        .def("apply", [](Controller& c, const py::object& source, Verify v) {
            if (py::isinstance(source, types("Config"))) {
                const ControllerSettings a = settingsFrom(source).settings;
                c.call(v, [&](Client& cl) { cl.apply(a); });
            } else {
                const auto path = py::module_::import("os").attr("fspath")(source).cast<std::string>();
                c.call(v, [&](Client& cl) { cl.applyFile(path); });
            }
        }, "config"_a, verifyArg,
             "Downloads a whole configuration as \"Apply\" does: a veltra.Config or the path of a .cfg file.")
        .def("read_config", [](Controller& c, const py::object& path) {
            const auto p = py::module_::import("os").attr("fspath")(path).cast<std::string>();
            return statusOf(c.call(std::nullopt, [&](Client& cl) { return cl.readConfig(p); }));
        }, "path"_a, "Reads the status and saves it as a .cfg file; returns the status.")
        .def("wait_run", [](Controller& c) { return py::iter(waitRun(c)); },
             "Follows the run under way (or just started) to its end and returns an iterator over its "
             "veltra.RunReport items, one per cycle with the times its opening and closing reports arrived. The "
             "reports are collected while the run goes on and handed out once it has ended.")
        .def("traffic", &Controller::traffic,
             "The bytes on the line since the last call, as (\"tx\" | \"rx\", bytes) pairs (the last 100000 kept).")
        .def("_time_status", [](Controller& c, int n) {
            // The C++ client's own status loop, for the benchmark against status() from Python.
            return c.call(std::nullopt, [n](Client& cl) {
                const auto start = std::chrono::steady_clock::now();
                for (int i = 0; i < n; ++i) cl.status();
                return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            });
        }, "n"_a, "Seconds for n status requests made by the C++ client alone (for benchmarks).");

    m.def("ports", [] {
        py::list out;
        for (const PortInfo& p : listPorts())
            out.append(types("Port")(p.device, p.description, py::tuple(py::cast(p.byId))));
        return out;
    }, "The serial ports of this machine with their descriptions and /dev/serial/by-id names.");
    m.def("_load_config", &loadConfig, "path"_a, "A .cfg file's settings, as keyword arguments of veltra.Config.");
    m.def("_save_config", &saveConfig, "path"_a, "config"_a, "Writes a veltra.Config as a .cfg file.");
}
