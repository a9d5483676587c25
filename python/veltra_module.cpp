// The native part of the veltra Python package: a Controller over the headless
// client. Names become the client's numbers here and results become the
// package's dataclasses; every byte, check and wait is the client's own.

#include "client/config_io.h"
#include "client/refusal_text.h"
#include "client/setting_names.h"
#include "client/thread_host.h"
#include "client/veltra_client.h"
#include "model/leading_int.h"
#include "model/timer_value.h"
#include "panel/config_file.h"
#include "panel/field_checks.h"
#include "panel/shutter_panel.h"
#include "protocol/traffic_line.h"
#include "serial/port_list.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>


#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <type_traits>
#include <vector>

namespace py = pybind11;

namespace veltra {
namespace {

py::object types(const char* name) { return py::module_::import("veltra._types").attr(name); }

// The `veltra` logger of the logging module (the GIL held). The package gives
// it a NullHandler, so nothing is printed unless the script configures logging.
py::object logger() { return py::module_::import("logging").attr("getLogger")("veltra"); }
constexpr int kDebug = 10, kInfo = 20, kWarning = 30;  // logging's levels

bool logs(int level) { return logger().attr("isEnabledFor")(level).cast<bool>(); }

// A handler that fails is reported as unraisable, never raised into the call
// that logged; a Ctrl+C that Python saw while in logging's code is handed on.
void log(int level, const std::string& text) {
    try {
        if (logs(level)) logger().attr("log")(level, "%s", text);
    } catch (py::error_already_set& e) {
        if (e.matches(PyExc_KeyboardInterrupt))
            PyErr_SetInterrupt();  // raised again at the next check or by the script
        else
            e.discard_as_unraisable("veltra logging");
    }
}

// ---- values ------------------------------------------------------------------------

// A path or device name: text without NUL (the system would cut it there).
std::string pathText(const std::string& text, const char* what) {
    if (text.find('\0') != std::string::npos)
        throw py::value_error(std::string(what) + " contains a NUL character");
    return text;
}

// A name argument: a str, never bytes or another type.
std::string nameText(py::handle value, const char* what) {
    if (!py::isinstance<py::str>(value))
        throw py::type_error(std::string(what) + " is a str, not " +
                             py::str(py::type::of(value).attr("__name__")).cast<std::string>());
    return value.cast<std::string>();
}

// The whole number an argument must be: an int, not a bool.
long long wholeNumber(py::handle value, const char* what, long long low, long long high, const char* range) {
    if (!PyLong_Check(value.ptr()) || PyBool_Check(value.ptr()))
        throw py::type_error(std::string(what) + " is an int (" + range + "), not " +
                             py::str(py::type::of(value).attr("__name__")).cast<std::string>());
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (overflow != 0 || n < low || n > high)
        throw RefusedError(std::string(what) + " must be " + range + ", not " + py::str(value).cast<std::string>());
    return n;
}

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
    if (days > 1000) throw RefusedError(refusalText(msg::kTimerMax));  // keeps the sums below in range
    if (micro % 100 != 0)
        throw RefusedError("a timer counts tenths of a millisecond: " + std::to_string(micro % 100) +
                           " microseconds cannot be set");
    return timerOfTenths((days * 86'400 + seconds) * 10'000 + micro / 100);
}

py::object repeatValue(int repeat) {
    if (repeat == kContinuousCount) return py::str("continuous");
    return py::int_(repeat);
}

// An int 0..`high`, or "continuous", as the repeat text the panel takes:
// 65000 for repeat(), whose larger counts would run continuously; a file's
// settings hold what the panel's download sends, up to 65535.
std::string repeatText(py::handle value, long long high = 65000) {
    if (py::isinstance<py::str>(value)) {
        if (value.cast<std::string>() == "continuous") return kContinuousText;
        throw RefusedError("repeat takes an int 0.." + std::to_string(high) + " or \"continuous\", not " +
                           py::repr(value).cast<std::string>());
    }
    if (!PyLong_Check(value.ptr()) || PyBool_Check(value.ptr()))
        throw py::type_error("repeat takes an int 0.." + std::to_string(high) + " or \"continuous\", not " +
                             py::repr(value).cast<std::string>());
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (overflow != 0 || n < 0 || n > high)
        throw RefusedError("repeat must be 0 to " + std::to_string(high) + " or \"continuous\", not " +
                           py::str(value).cast<std::string>());
    return std::to_string(n);
}

// The number of a setting's `name` (-2: none), or the refusal that names the choices.
// The choice a script named; `refusal` (with the name) for any other name.
template <typename Choice>
Choice named(const std::string& name, std::optional<Choice> (*fromName)(const std::string&), const char* refusal) {
    const std::optional<Choice> c = fromName(name);
    if (!c) throw RefusedError(refusalText(refusal, name));
    return *c;
}

// The same where "none" leaves the choice open.
template <typename Choice>
std::optional<Choice> namedOrNone(const std::string& name, std::optional<Choice> (*fromName)(const std::string&),
                                  const char* refusal) {
    if (name == "none") return std::nullopt;
    return named(name, fromName, refusal);
}

py::object statusOf(const StatusRecord& r) {
    const TimerValue cycle = cycleTime(r);
    return types("Status")(shutterName(r.position()), modeName(r.mode()), r.ndSteps, triggerName(r.trigger()),
                           syncName(r.sync()), timedeltaOf(timerTenths(r.delayTime)),
                           timedeltaOf(timerTenths(r.exposureTime)), timedeltaOf(timerTenths(cycle)),
                           repeatValue(repeatCount(r)), runningOptionName(r.running()));
}

// ---- the GIL ------------------------------------------------------------------------------

// Every port lives in the library's thread host (client/thread_host.h); calls
// wait for it with the GIL released.
//
// At interpreter exit the host is shut down (atexit, before the interpreter
// finalises): calls under way in daemon threads end with PortError. Python
// ends a daemon thread that asks for the GIL once finalising has begun by
// unwinding it from inside PyEval_RestoreThread, which from a destructor is
// std::terminate. So a thread other than the one ending the interpreter that
// comes back from a call after the shutdown waits here for the process to end.
std::atomic<bool> g_shutDown{false};
std::atomic<std::thread::id> g_endingThread{};

void parkIfEnding() {
    if (g_shutDown.load() && std::this_thread::get_id() != g_endingThread.load())
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

class ReleaseGil {
public:
    ReleaseGil() : m_state(PyEval_SaveThread()) {}
    ~ReleaseGil() {
        parkIfEnding();
        PyEval_RestoreThread(m_state);
    }
    ReleaseGil(const ReleaseGil&) = delete;
    ReleaseGil& operator=(const ReleaseGil&) = delete;

private:
    PyThreadState* m_state;
};

class AcquireGil {
public:
    AcquireGil() : m_state((parkIfEnding(), PyGILState_Ensure())) {}
    ~AcquireGil() { PyGILState_Release(m_state); }
    AcquireGil(const AcquireGil&) = delete;
    AcquireGil& operator=(const AcquireGil&) = delete;

private:
    PyGILState_STATE m_state;
};

// Runs `f` in the library's Qt thread with the GIL released.
template <class F>
auto inQtThread(F&& f) {
    ThreadHost& thread = ThreadHost::get();
    ReleaseGil release;
    using R = decltype(f());
    if constexpr (std::is_void_v<R>) {
        thread.run(f);
    } else {
        std::optional<R> result;
        thread.run([&] { result.emplace(f()); });
        return std::move(*result);
    }
}

// Calls on one Controller take turns, in the order they arrive.
class Turns {
public:
    // Waits for the caller's turn (GIL released); `interrupted` is asked
    // every 50 ms and gives the turn up.
    bool take(const std::function<bool()>& interrupted) {
        std::unique_lock lock(m_mutex);
        // A signal handler that calls the Controller whose call it interrupted
        // would wait for its own turn for ever.
        if (m_busy && m_owner == std::this_thread::get_id())
            throw std::runtime_error("this thread is inside a call on this Controller already (a signal handler?): "
                                     "call it after the call has ended, e.g. in 'except KeyboardInterrupt:'");
        const std::uint64_t me = m_next++;
        m_queue.push_back(me);
        while (m_busy || m_queue.front() != me) {
            if (m_cv.wait_for(lock, std::chrono::milliseconds(50)) == std::cv_status::timeout) {
                lock.unlock();
                const bool stop = interrupted();
                lock.lock();
                if (stop) {
                    m_queue.erase(std::find(m_queue.begin(), m_queue.end(), me));
                    m_cv.notify_all();
                    return false;
                }
            }
        }
        m_queue.pop_front();
        m_busy = true;
        m_owner = std::this_thread::get_id();
        return true;
    }
    void give() {
        {
            const std::lock_guard lock(m_mutex);
            m_busy = false;
        }
        m_cv.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::uint64_t> m_queue;
    std::uint64_t m_next = 0;
    bool m_busy = false;
    std::thread::id m_owner;
};

// ---- configuration files, through the panel's own load and save ------------------------------

struct FileSettings {
    ControllerSettings settings;
    int timerSelect = -1;
};

FileSettings settingsFrom(py::handle config) {
    FileSettings f;
    ControllerSettings& a = f.settings;
    const auto text = [&](const char* field) { return nameText(config.attr(field), field); };
    a.setPosition(namedOrNone(text("shutter"), shutterFromName, msg::kBadPosition));
    a.setMode(namedOrNone(text("mode"), modeFromName, msg::kBadMode));
    const py::object steps = config.attr("nd_steps");
    if (!PyLong_Check(steps.ptr()) || PyBool_Check(steps.ptr()))
        throw py::type_error("nd_steps is an int, not " + py::repr(steps).cast<std::string>());
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(steps.ptr(), &overflow);
    if (overflow != 0 || n < 0 || n > 255) throw RefusedError("nd_steps must be 0 to 144, not " + py::str(steps).cast<std::string>());
    a.ndSteps = static_cast<int>(n);  // the download's own check refuses 145 to 255
    a.setTrigger(named(text("trigger"), triggerFromName, msg::kBadTrigger));
    a.setSync(named(text("sync"), syncFromName, msg::kBadSync));
    a.delayTime = timerFrom(config.attr("delay"));
    a.exposureTime = timerFrom(config.attr("exposure"));
    a.repeatText = repeatText(config.attr("repeat"), 0xFFFF);
    a.setRunning(namedOrNone(text("running_option"), runningOptionFromName, msg::kBadRunningOption));
    const py::object selected = config.attr("selected_timer");
    if (!selected.is_none()) {
        const auto which = nameText(selected, "selected_timer");
        if (which != "delay" && which != "exposure") throw RefusedError("selected_timer is \"delay\", \"exposure\" or None");
        f.timerSelect = which == "exposure" ? 1 : 0;
    }
    return f;
}

py::dict loadConfig(const std::string& pathArg) {
    const std::string path = pathText(pathArg, "path");
    const PanelState s = inQtThread([&] { return loadConfigFile(path); });
    py::dict d;
    d["shutter"] = shutterName(s.position());
    d["mode"] = modeName(s.mode());
    d["nd_steps"] = s.ndSteps;
    d["trigger"] = triggerName(s.trigger());
    d["sync"] = syncName(s.sync());
    d["delay"] = timedeltaOf(timerTenths(s.delayTime));
    d["exposure"] = timedeltaOf(timerTenths(s.exposureTime));
    d["repeat"] = s.repeatText == kContinuousText ? py::object(py::str("continuous"))
                                                   : py::object(py::int_(leadingInt(s.repeatText)));
    d["running_option"] = runningOptionName(s.running());
    d["selected_timer"] = s.timerSelectIndex == 1 ? py::object(py::str("exposure"))
                          : s.timerSelectIndex == 0 ? py::object(py::str("delay"))
                                                    : py::object(py::none());
    return d;
}


void saveConfig(const std::string& pathArg, py::handle config) {
    const std::string path = pathText(pathArg, "path");
    const FileSettings f = settingsFrom(config);
    PanelState s;
    static_cast<ControllerSettings&>(s) = f.settings;
    s.timerSelectIndex = f.timerSelect;
    inQtThread([&] { saveConfigFile(path, s); });
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
        log(kWarning, std::string("refused, nothing was sent: ") + e.what());
        raise("RefusedError", e.what());
    } catch (const TimeoutError& e) {
        log(kWarning, e.what());
        raise("Timeout", e.what(), {{"step", py::str(e.step())}});
    } catch (const PortError& e) {
        raise("PortError", e.what(), {{"reason", py::str(e.reasonName())}, {"errno", py::int_(errnoOf(e.reason()))}});
    } catch (const VerifyError& e) {
        py::list d;
        for (const Difference& x : e.differences()) d.append(types("Difference")(x.field, x.wanted, x.read));
        raise("VerifyError", e.what(), {{"differences", py::tuple(d)}});
    } catch (const ConfigFileError& e) {
        raise("ConfigFileError", e.what());
    } catch (const ReplyError& e) {
        raise("ReplyError", e.what());
    } catch (const InterruptedError&) {
        PyErr_SetNone(PyExc_KeyboardInterrupt);
    } catch (const ClientError& e) {
        raise("Error", e.what());
    }
}

// ---- the controller ----------------------------------------------------------------------------

using Traffic = std::pair<bool, std::string>;  // transmitted, bytes

// Python's signal handlers run here (Ctrl+C raises KeyboardInterrupt); only
// the main thread has any. At most every 25 ms, so a busy thread of the
// script does not slow the line.
std::function<bool()> signalCheck(std::function<void()> withGil) {
    return [last = std::chrono::steady_clock::time_point{}, withGil = std::move(withGil)]() mutable {
        const auto now = std::chrono::steady_clock::now();
        if (now - last < std::chrono::milliseconds(25)) return false;
        last = now;
        AcquireGil gil;
        withGil();
        return PyErr_CheckSignals() != 0;
    };
}

class Controller {
public:
    Controller(const py::object& deviceArg, const py::object& baudArg, const py::object& timeout, const py::object& verifyArg) {
        const py::object fspath = py::module_::import("os").attr("fspath");
        const std::string device = pathText(nameText(fspath(deviceArg), "device"), "device");
        const int baud = static_cast<int>(wholeNumber(baudArg, "baud", 1, 4'000'000, "1 to 4000000"));
        if (!PyBool_Check(verifyArg.ptr()))
            throw py::type_error("verify is True or False, not " + py::repr(verifyArg).cast<std::string>());
        m_verify = verifyArg.cast<bool>();
        int timeoutMs = -1;
        if (!timeout.is_none()) {
            if (py::isinstance<py::bool_>(timeout) || !(py::isinstance<py::int_>(timeout) || py::isinstance<py::float_>(timeout)))
                throw py::type_error("timeout is seconds (an int or a float) or None, not " + py::repr(timeout).cast<std::string>());
            const auto seconds = timeout.cast<double>();
            if (!(seconds > 0) || seconds > 86'400) throw RefusedError("timeout is seconds above 0 (and at most a day), or None");
            timeoutMs = std::max(1, static_cast<int>(seconds * 1000 + 0.5));
        }
        ThreadHost& thread = ThreadHost::get();
        try {
            ReleaseGil release;
            ClientOptions options{QString::fromStdString(device), baud, timeoutMs, m_verify, &thread};
            options.interrupted = signalCheck([] {});  // Ctrl+C ends a connection attempt too
            m_client = std::make_unique<Client>(std::move(options));
        } catch (const InterruptedError&) {
            if (PyErr_Occurred()) throw py::error_already_set();  // what the signal handler raised
            throw;
        }
        thread.add(m_client.get());
        log(kInfo, device + " opened at " + std::to_string(baud) + " baud, 8N1");
        for (const std::string& w : m_client->lineWarnings()) log(kWarning, device + ": " + w);
        // Called in the Qt thread: no GIL, only the lock of the list.
        m_client->setTrafficHandler([this, device](bool tx, const std::uint8_t* bytes, std::size_t n) {
            const std::lock_guard lock(m_trafficLock);
            m_traffic.emplace_back(tx, std::string(reinterpret_cast<const char*>(bytes), n));
            m_trafficBytes += n;
            while (m_trafficBytes > kTrafficBytesKept) {
                m_trafficBytes -= m_traffic.front().second.size();
                m_traffic.pop_front();
            }
            // Each line as veltractl --trace prints it, logged by flushLog():
            // Python code run here could take a Ctrl+C the interrupt check is to see.
            if (m_logTraffic && m_logBytes < kTrafficBytesKept) {
                m_logLines.push_back(trafficLine(std::chrono::system_clock::now(), tx, device, bytes, n));
                m_logBytes += m_logLines.back().size();
            }
        });
        // The lines gathered for the logger go out where the interrupt check runs.
        m_client->setInterruptCheck(signalCheck([this] { flushLog(); }));
    }

    // Garbage collection in any thread closes the port through the Qt thread.
    ~Controller() {
        if (ThreadHost* thread = ThreadHost::started()) thread->remove(m_client.get());
        m_client.reset();
    }

    // Runs one client call with the GIL released, in its turn. A Ctrl+C ends
    // the call's own flow (as a closing port would) and raises what the
    // handler raised; the port stays open.
    template <class F>
    auto call(std::optional<bool> verify, F&& f) {
        using R = decltype(f(*m_client));
        // In a forked child the turns and the host are the parent's: told at once.
        ThreadHost::refuseAfterFork();
        std::optional<std::conditional_t<std::is_void_v<R>, bool, R>> result;
        bool interrupted = false;
        std::string lost;  // why a port open when the call began was lost
        m_logTraffic = logs(kDebug);
        struct Flush {  // the GIL held again
            Controller& c;
            ~Flush() { c.flushLog(); }
        } flush{*this};
        try {
            ReleaseGil release;
            const auto check = signalCheck([this] { flushLog(); });
            if (!m_turns.take(check)) {
                interrupted = true;
            } else {
                struct Give {
                    Turns& t;
                    ~Give() { t.give(); }
                } give{m_turns};
                m_client->setVerify(verify.value_or(m_verify));
                // The port may go while no call runs (its events are handled all the time).
                const bool wasOpen = m_openAfterLastCall;
                struct Note {
                    Controller& c;
                    ~Note() { c.m_openAfterLastCall = c.m_client->isOpen(); }
                } note{*this};
                try {
                    if constexpr (std::is_void_v<R>) {
                        f(*m_client);
                        result.emplace(true);
                    } else {
                        result.emplace(f(*m_client));
                    }
                } catch (const InterruptedError&) {
                    interrupted = true;
                } catch (const PortError& e) {
                    if (wasOpen && !m_client->isOpen()) lost = e.what();
                    throw;
                }
            }
        } catch (const PortError&) {
            if (!lost.empty()) log(kInfo, device() + " lost: " + lost);
            throw;
        }
        if (interrupted) {
            if (PyErr_Occurred()) throw py::error_already_set();
            throw InterruptedError();
        }
        if constexpr (!std::is_void_v<R>) return std::move(*result);
    }

    void close() {
        const bool wasOpen = portOpen();
        call(std::nullopt, [](Client& c) { c.close(); });
        if (wasOpen) log(kInfo, device() + " closed");
    }
    bool portOpen() {
        ReleaseGil release;
        return m_client->isOpen();
    }
    std::string device() const { return m_client->options().device.toStdString(); }
    const ClientOptions& options() const { return m_client->options(); }
    py::object lineSettings() {
        std::optional<LineSettings> l;
        {
            py::gil_scoped_release release;
            l = m_client->lineSettings();
        }
        if (!l) return py::none();
        return types("LineSettings")(l->baud, l->dataBits, l->parity, l->stopBits);
    }

    // The traffic lines gathered since the last flush, on the logger (the GIL held).
    void flushLog() {
        std::vector<std::string> lines;
        {
            const std::lock_guard lock(m_trafficLock);
            lines.swap(m_logLines);
            m_logBytes = 0;
        }
        for (const std::string& line : lines) log(kDebug, line);
    }

    py::list traffic() {
        std::deque<Traffic> taken;
        {
            const std::lock_guard lock(m_trafficLock);
            taken.swap(m_traffic);
            m_trafficBytes = 0;
        }
        py::list out;
        for (const auto& [tx, bytes] : taken) out.append(py::make_tuple(tx ? "tx" : "rx", py::bytes(bytes)));
        return out;
    }

private:
    // The newest traffic kept for traffic(), and the lines waiting for the
    // logger, each bounded in bytes: a line that nobody reads cannot fill memory.
    static constexpr std::size_t kTrafficBytesKept = std::size_t{16} << 20;
    std::unique_ptr<Client> m_client;
    bool m_verify;
    Turns m_turns;
    std::mutex m_trafficLock;
    std::deque<Traffic> m_traffic;
    std::size_t m_trafficBytes = 0;
    std::size_t m_logBytes = 0;
    bool m_openAfterLastCall = true;  // the constructor opened it; taken in turns
    std::atomic<bool> m_logTraffic{false};  // DEBUG was enabled when the call began
    std::vector<std::string> m_logLines;
};

using Verify = std::optional<bool>;

void noValue(Controller& c, Verify verify, void (Client::*m)()) {
    c.call(verify, [m](Client& cl) { (cl.*m)(); });
}

py::object when(const RunEvent& e) {
    const py::object fromTimestamp = py::module_::import("datetime").attr("datetime").attr("fromtimestamp");
    return fromTimestamp(std::chrono::duration<double>(e.time.time_since_epoch()).count()).attr("astimezone")();
}

// The client reports each shutter report as it arrives; a script thinks in
// cycles: an opening and the closing after it make one report, handed out at
// the closing.
class RunIterator {
public:
    explicit RunIterator(py::object controller) : m_owner(std::move(controller)) {
        m_owner.cast<Controller&>().call(std::nullopt, [](Client& cl) { cl.beginRun(); });
    }
    py::object next() {
        Controller& c = m_owner.cast<Controller&>();
        while (!m_done) {
            std::optional<RunEvent> e;
            try {
                e = c.call(std::nullopt, [](Client& cl) { return cl.nextRunEvent(); });
            } catch (...) {
                m_done = true;  // the flow has ended: a later next() would wait in vain
                throw;
            }
            if (!e) {
                m_done = true;
                if (m_opened.is_none()) break;
                return types("RunReport")(++m_cycle, m_opened, py::none(), repeatValue(m_left));
            }
            m_left = e->cyclesLeft;
            if (e->position == ShutterPosition::Open) {
                m_opened = when(*e);
                continue;
            }
            py::object report = types("RunReport")(++m_cycle, m_opened, when(*e), repeatValue(m_left));
            m_opened = py::none();
            return report;
        }
        throw py::stop_iteration();
    }

private:
    py::object m_owner;  // keeps the Controller alive
    py::object m_opened = py::none();
    int m_left = 0;
    int m_cycle = 0;
    bool m_done = false;
};

}  // namespace
}  // namespace veltra

PYBIND11_MODULE(_veltra, m) {
    using namespace veltra;
    using namespace pybind11::literals;
    m.doc() = "Native part of the veltra package: the Controller over the headless C++ client.";
    py::register_exception_translator(&translate);

    py::class_<RunIterator>(m, "_RunIterator")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &RunIterator::next);

    const auto verifyArg = py::arg("verify") = py::none();
    py::class_<Controller>(m, "Controller", R"(One Veltra controller on one serial device.

Controller(device, baud=9600, timeout=2.0, verify=False) opens the device (8N1)
at once; a relative path is taken from the working folder. Use it as a context
manager, or call close(): the port is also closed when the object is garbage
collected, in whichever thread that happens. `timeout` is the seconds each
answer is waited for (None waits for ever; Ctrl+C still interrupts). `verify`
reads the status back after each setting; each setter's own verify= overrides it.

Calls block; the GIL is released while they wait. Every port lives in the
module's own Qt thread (started on first use, ended at interpreter exit), so a
Controller may be made, used and dropped in any thread: calls on one
Controller take turns in the order they arrive, Controllers on different
devices work in parallel. Ctrl+C interrupts the call under way (within 100 ms)
and ends what it had under way as a closing port would; the Controller stays
open and usable.)")
        .def(py::init<const py::object&, const py::object&, const py::object&, const py::object&>(), "device"_a,
             "baud"_a = 9600, "timeout"_a = 2.0, "verify"_a = false)
        .def("__enter__", [](py::object self) { return self; }, "The Controller itself.")
        .def("__exit__", [](Controller& c, py::args) { c.close(); }, "Closes the port.")
        .def("close", &Controller::close,
             "Releases the port (the shutter stays as it is: see close_shutter()); later calls raise PortError "
             "(\"closed\").")
        .def_property_readonly("port_open", &Controller::portOpen, "True while the port is open.")
        .def_property_readonly("device", [](const Controller& c) { return c.options().device.toStdString(); },
                               "The device path.")
        .def_property_readonly("line_settings", &Controller::lineSettings,
                               "The line as the device has it (an RFC 2217 server's answers, a local port's "
                               "settings) as a LineSettings; None for socket:// (the server's own) or a closed port.")
        .def("__repr__", [](Controller& c) {
            return "<veltra.Controller " + c.options().device.toStdString() + " at " + std::to_string(c.options().baud) +
                   " baud, " + (c.portOpen() ? "open" : "closed") + ">";
        })
        .def("online", [](Controller& c) {
            try {
                return c.call(std::nullopt, [](Client& cl) { return cl.online(); });
            } catch (const TimeoutError& e) {
                log(kWarning, e.what());
                return false;
            }
        }, "Sends Online (EE); True when the controller echoes it within the timeout, else False.")
        .def("status", [](Controller& c) { return statusOf(c.call(std::nullopt, [](Client& cl) { return cl.status(); })); },
             "Sends Status (CC) and returns the decoded reply as a veltra.Status; a reply with a field the "
             "controller cannot hold raises veltra.ReplyError.")
        .def("info", [](Controller& c) {
            const InfoLines l = c.call(std::nullopt, [](Client& cl) { return cl.info(); });
            return py::make_tuple(l.first, l.second);
        }, "Sends Get Controller Info (FD); returns its two lines (8 and 4 characters).")
        .def("open_shutter", [](Controller& c, Verify v) { noValue(c, v, &Client::openShutter); }, verifyArg,
             "Opens the shutter (AA).")
        .def("close_shutter", [](Controller& c, Verify v) { noValue(c, v, &Client::closeShutter); }, verifyArg,
             "Closes the shutter (AC). The port stays open: close() releases it.")
        .def("mode", [](Controller& c, const py::object& nameArg, const py::object& steps, Verify v) {
            const std::string name = nameText(nameArg, "mode");
            const ShutterMode mode = named(name, modeFromName, msg::kBadMode);
            std::string text;
            if (!steps.is_none()) {
                if (name != "nd") throw RefusedError("steps go with the \"nd\" mode only");
                text = std::to_string(wholeNumber(steps, "steps", 0, 144, "0 to 144"));
            }
            c.call(v, [&](Client& cl) { cl.mode(mode, text); });
        }, "mode"_a, "steps"_a = py::none(), verifyArg,
             "Shutter mode: \"fast\" (DC), \"soft\" (DD) or \"nd\" with steps, an int 0..144 (DE nn).")
        .def("trigger", [](Controller& c, const py::object& nameArg, Verify v) {
            const std::string name = nameText(nameArg, "trigger");
            const TriggerInput trigger = named(name, triggerFromName, msg::kBadTrigger);
            c.call(v, [&](Client& cl) { cl.trigger(trigger); });
        }, "setting"_a, verifyArg, "Trigger input: \"off\", \"high\", \"low\", \"rising\" or \"falling\" (FA Ax).")
        .def("sync", [](Controller& c, const py::object& nameArg, Verify v) {
            const std::string name = nameText(nameArg, "sync");
            const SyncOutput sync = named(name, syncFromName, msg::kBadSync);
            c.call(v, [&](Client& cl) { cl.sync(sync); });
        }, "setting"_a, verifyArg, "Sync output: \"off\", \"high\" or \"low\" (FA Bx).")
        .def("set_timer", [](Controller& c, const py::object& whichArg, const py::object& value, Verify v) {
            const std::string which = nameText(whichArg, "timer");
            if (which != "delay" && which != "exposure") throw RefusedError("set_timer takes \"delay\" or \"exposure\"");
            const TimerValue t = timerFrom(value);
            c.call(v, [&](Client& cl) { cl.setTimer(which == "exposure" ? TimerKind::Exposure : TimerKind::Delay, t); });
        }, "timer"_a, "value"_a, verifyArg,
             "Programs the delay or exposure timer: a datetime.timedelta (whole tenths of a millisecond, up to 5 "
             "hours) or \"HH:MM:SS.mmm.t\".")
        .def("repeat", [](Controller& c, const py::object& count, Verify v) {
            const std::string text = repeatText(count);
            c.call(v, [&](Client& cl) { cl.repeat(text); });
        }, "count"_a, verifyArg, "Repeat number: an int 0..65000 or \"continuous\" (FA F0 hi lo).")
        .def("run", [](Controller& c, const py::object& optionArg, Verify v) {
            const std::string option = nameText(optionArg, "option");
            const RunningOption running = named(option, runningOptionFromName, msg::kBadRunningOption);
            c.call(v, [&](Client& cl) { cl.run(running); });
        }, "option"_a, verifyArg,
             "Running option: \"power-up\" (FA F1), \"trigger\" (FA F2) or \"go\" (FA F3, starts the cycle now).")
        .def("stop", [](Controller& c) { noValue(c, std::nullopt, &Client::stop); }, "Stops a run (BF).")
        .def("power", [](Controller& c, const py::object& onArg) {
            if (!PyBool_Check(onArg.ptr()))
                throw py::type_error("power takes True or False, not " + py::repr(onArg).cast<std::string>());
            const bool on = onArg.cast<bool>();
            c.call(std::nullopt, [on](Client& cl) { cl.power(on); });
        }, "on"_a,
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
                const auto path = pathText(py::module_::import("os").attr("fspath")(source).cast<std::string>(), "path");
                c.call(v, [&](Client& cl) { cl.applyFile(path); });
            }
        }, "config"_a, verifyArg,
             "Downloads a whole configuration as \"Apply\" does: a veltra.Config or the path of a .cfg file. A "
             "device that goes away during it raises PortError (\"closed\").")
        .def("read_config", [](Controller& c, const py::object& path) {
            const auto p = pathText(py::module_::import("os").attr("fspath")(path).cast<std::string>(), "path");
            return statusOf(c.call(std::nullopt, [&](Client& cl) { return cl.readConfig(p); }));
        }, "path"_a, "Reads the status and saves it as a .cfg file; returns the status. A reply the controller "
                     "cannot have writes no file.")
        .def("wait_run", [](py::object self) { return RunIterator(std::move(self)); },
             "Follows the run under way (or just started) and returns an iterator over its veltra.RunReport items, "
             "one per cycle, each handed out as its closing report arrives, with the times its opening and closing "
             "reports arrived and the cycles left (0 at the last cycle). It ends with the run. With timeout=None "
             "it waits for each report without a time limit.")
        .def("traffic", &Controller::traffic,
             "The bytes on the line since the last call, as (\"tx\" | \"rx\", bytes) pairs (the newest 16 MiB kept).")
        .def("_time_status", [](Controller& c, int n) {
            // The C++ client's own status loop, for the benchmark against status() from Python.
            return c.call(std::nullopt, [n](Client& cl) {
                const auto start = std::chrono::steady_clock::now();
                for (int i = 0; i < n; ++i) cl.status();
                return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            });
        }, "n"_a, "Seconds for n status requests made by the C++ client alone (for benchmarks).");

    m.def("ports", [] {
        const std::vector<PortInfo> ports = inQtThread([] { return listPorts(); });
        py::list out;
        for (const PortInfo& p : ports) out.append(types("Port")(p.device, p.description, py::tuple(py::cast(p.byId))));
        return out;
    }, "The serial ports of this machine with their descriptions and /dev/serial/by-id names.");
    m.def("_load_config", &loadConfig, "path"_a, "A .cfg file's settings, as keyword arguments of veltra.Config.");
    m.def("_save_config", &saveConfig, "path"_a, "config"_a, "Writes a veltra.Config as a .cfg file.");
    m.def("_shutdown", [] {
        g_endingThread.store(std::this_thread::get_id());
        g_shutDown.store(true);
        if (ThreadHost* thread = ThreadHost::started()) {
            ReleaseGil release;
            thread->shutdown();
        }
    }, "Closes every port still open and ends the module's Qt thread (at interpreter exit).");
}
