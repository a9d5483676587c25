// libveltra: the C functions of veltra.h over the headless client. Every port
// lives in the client's thread host; a call takes its handle's turn, runs the
// client call and turns what it threw into a code and a text. Nothing thrown
// leaves a function of this file.

#include "veltra.h"

#include "client/config_io.h"
#include "client/failure_kind.h"
#include "client/setting_names.h"
#include "client/thread_host.h"
#include "client/veltra_client.h"
#include "model/controller_settings.h"
#include "model/timer_value.h"
#include "serial/port_list.h"

#include <QString>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>

using namespace veltra;

// The opaque type of the header stays empty here, so that the library's ABI
// (what abidw reads from veltra.h's types) holds none of the client's types.
struct veltra_controller {};

namespace {

// The handle behind a veltra_controller*.
struct Handle : veltra_controller {
    std::unique_ptr<Client> client;
    int defaultTimeoutMs = 2000;
    std::mutex turn;              // calls take turns
    std::atomic<bool> interrupt{false};
    bool following = false;       // veltra_wait_event follows a run (in turn)
    std::mutex errorLock;         // the text may be read during another call
    std::string lastError;
};

// A bad argument of the caller (a NULL, a short buffer, an unknown handle).
struct ArgError {
    std::string text;
};

// Live handles: a handle freed (or never made) is refused, and one freed in
// another thread during a call lives until that call ends.
std::mutex g_handlesLock;
std::unordered_map<veltra_controller*, std::shared_ptr<Handle>> g_handles;

thread_local std::string t_lastError;

int codeOf(FailureKind kind) {
    switch (kind) {
    case FailureKind::Refused: return VELTRA_E_REFUSED;
    case FailureKind::Missing: return VELTRA_E_NOT_FOUND;
    case FailureKind::Permission: return VELTRA_E_PERMISSION;
    case FailureKind::Busy: return VELTRA_E_BUSY;
    case FailureKind::Closed: return VELTRA_E_CLOSED;
    case FailureKind::PortOther: return VELTRA_E_IO;
    case FailureKind::Timeout: return VELTRA_E_TIMEOUT;
    case FailureKind::Different: return VELTRA_E_DIFFERENT;
    case FailureKind::ConfigFile: return VELTRA_E_FILE;
    case FailureKind::Interrupted: return VELTRA_E_INTERRUPTED;
    case FailureKind::BadReply: return VELTRA_E_BAD_REPLY;
    case FailureKind::Other: return VELTRA_E_INTERNAL;
    }
    return VELTRA_E_INTERNAL;
}

std::shared_ptr<Handle> find(veltra_controller* h) {
    if (!h) throw ArgError{"the handle is NULL"};
    const std::lock_guard lock(g_handlesLock);
    const auto it = g_handles.find(h);
    if (it == g_handles.end()) throw ArgError{"not a handle of veltra_open (freed already?)"};
    return it->second;
}

void note(Handle* h, const std::string& text) {
    try {
        t_lastError = text;
        if (h) {
            const std::lock_guard lock(h->errorLock);
            h->lastError = text;
        }
    } catch (...) {  // no memory for the text: the code still tells
    }
}

// Runs `f`; what it throws becomes a code, its text kept for veltra_last_error.
template <class F>
int guarded(Handle* h, F&& f) noexcept {
    try {
        try {
            return f();
        } catch (const ArgError& e) {
            note(h, e.text);
            return VELTRA_E_ARG;
        } catch (const RefusedError& e) {
            note(h, std::string("refused, nothing was sent: ") + e.what());
            return VELTRA_E_REFUSED;
        } catch (const ClientError& e) {
            note(h, e.what());
            return codeOf(failureKind(e));
        } catch (const std::bad_alloc&) {
            note(h, "out of memory");
            return VELTRA_E_INTERNAL;
        } catch (const std::exception& e) {
            note(h, std::string("internal error: ") + e.what());
            return VELTRA_E_INTERNAL;
        }
    } catch (...) {
        note(h, "internal error");
        return VELTRA_E_INTERNAL;
    }
}

void need(const void* p, const char* what) {
    if (!p) throw ArgError{std::string(what) + " is NULL"};
}

void inRange(long long v, long long low, long long high, const char* what) {
    if (v < low || v > high)
        throw RefusedError(std::string(what) + " must be " + std::to_string(low) + " to " + std::to_string(high) +
                           ", not " + std::to_string(v));
}

// The C values of each choice, in the enum's order; VELTRA_NONE stands for none.
constexpr int32_t kPositionValues[] = {VELTRA_SHUTTER_OPEN, VELTRA_SHUTTER_CLOSE};
constexpr int32_t kModeValues[] = {VELTRA_MODE_FAST, VELTRA_MODE_SOFT, VELTRA_MODE_ND};
constexpr int32_t kTriggerValues[] = {VELTRA_TRIGGER_OFF, VELTRA_TRIGGER_HIGH, VELTRA_TRIGGER_LOW, VELTRA_TRIGGER_RISING,
                                      VELTRA_TRIGGER_FALLING};
constexpr int32_t kSyncValues[] = {VELTRA_SYNC_OFF, VELTRA_SYNC_HIGH, VELTRA_SYNC_LOW};
constexpr int32_t kRunValues[] = {VELTRA_RUN_POWER_UP, VELTRA_RUN_TRIGGER, VELTRA_RUN_GO};

template <typename Choice, std::size_t N>
std::optional<Choice> choiceOf(const int32_t (&values)[N], int32_t v) {
    for (std::size_t i = 0; i < N; ++i)
        if (values[i] == v) return static_cast<Choice>(i);
    return std::nullopt;
}

template <typename Choice, std::size_t N>
int32_t valueOf(const int32_t (&values)[N], std::optional<Choice> c) {
    return c ? values[static_cast<std::size_t>(*c)] : VELTRA_NONE;
}

// The client's timeout for timeout_ms.
int timeoutOf(const Handle& h, int32_t ms) {
    if (ms == VELTRA_TIMEOUT_DEFAULT) return h.defaultTimeoutMs;
    if (ms == VELTRA_TIMEOUT_INFINITE) return -1;
    if (ms < 0) throw ArgError{"timeout_ms is at least 1, VELTRA_TIMEOUT_DEFAULT or VELTRA_TIMEOUT_INFINITE, not " + std::to_string(ms)};
    return ms;
}

// A call on a handle, in its turn, with the answers' timeout.
template <class F>
int onHandle(veltra_controller* raw, int32_t timeoutMs, F&& f) noexcept {
    std::shared_ptr<Handle> h;
    const int found = guarded(nullptr, [&] {
        h = find(raw);
        return 0;
    });
    if (found != 0) return found;
    return guarded(h.get(), [&] {
        const std::lock_guard turn(h->turn);
        // Freed by another thread while this call waited for its turn.
        if (!h->client) throw ArgError{"the handle was freed during the call"};
        h->interrupt.store(false);
        h->client->setTimeoutMs(timeoutOf(*h, timeoutMs));
        f(*h);
        return 0;
    });
}

// Copies `text` and its NUL into buf (at most len bytes, cut at a whole
// UTF-8 character); the length it needs with the NUL.
int copyOut(const std::string& text, char* buf, int32_t len) {
    if (len < 0) throw ArgError{"len is negative"};
    if (len > 0 && !buf) throw ArgError{"buf is NULL with a length above 0"};
    const std::size_t needed = text.size() + 1;
    if (needed > static_cast<std::size_t>(INT32_MAX)) throw ArgError{"the text is too long"};
    if (len > 0) {
        std::size_t n = std::min(text.size(), static_cast<std::size_t>(len) - 1);
        while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
        std::memcpy(buf, text.data(), n);
        buf[n] = '\0';
    }
    return static_cast<int>(needed);
}

void copyFixed(const std::string& text, char* out, std::size_t size) {
    const int n = copyOut(text, out, static_cast<int32_t>(size));
    (void)n;
}

TimerValue timerOfTenths(int32_t tenths) {
    TimerValue t;
    t.hours = std::to_string(tenths / 36'000'000);
    t.minutes = std::to_string(tenths / 600'000 % 60);
    t.seconds = std::to_string(tenths / 10'000 % 60);
    t.milliseconds = std::to_string(tenths / 10 % 1000);
    t.tenths = std::to_string(tenths % 10);
    return t;
}

int32_t tenthsOf(const TimerValue& t) { return static_cast<int32_t>(std::clamp<long long>(timerTenths(t), 0, INT32_MAX)); }

PanelState settingsFrom(const veltra_settings& c) {
    inRange(c.shutter, -1, 1, "shutter");
    inRange(c.mode, -1, 2, "mode");
    inRange(c.nd_steps, 0, 144, "nd_steps");
    inRange(c.trigger, -1, 3, "trigger");
    inRange(c.sync, -1, 1, "sync");
    inRange(c.delay, 0, VELTRA_TIMER_MAX, "delay");
    inRange(c.exposure, 0, VELTRA_TIMER_MAX, "exposure");
    inRange(c.repeat, 0, VELTRA_REPEAT_CONTINUOUS, "repeat");
    inRange(c.running_option, -1, 2, "running_option");
    inRange(c.selected_timer, -1, 1, "selected_timer");
    PanelState s;
    s.setPosition(choiceOf<ShutterPosition>(kPositionValues, c.shutter));
    s.setMode(choiceOf<ShutterMode>(kModeValues, c.mode));
    s.ndSteps = c.nd_steps;
    s.setTrigger(*choiceOf<TriggerInput>(kTriggerValues, c.trigger));
    s.setSync(*choiceOf<SyncOutput>(kSyncValues, c.sync));
    s.delayTime = timerOfTenths(c.delay);
    s.exposureTime = timerOfTenths(c.exposure);
    s.repeatText = c.repeat == VELTRA_REPEAT_CONTINUOUS ? std::string(kContinuousText) : std::to_string(c.repeat);
    s.setRunning(choiceOf<RunningOption>(kRunValues, c.running_option));
    s.timerSelectIndex = c.selected_timer;
    return s;
}

veltra_settings settingsOf(const PanelState& s) {
    veltra_settings c{};
    c.shutter = valueOf(kPositionValues, s.position());
    c.mode = valueOf(kModeValues, s.mode());
    c.nd_steps = s.ndSteps;
    c.trigger = valueOf(kTriggerValues, std::optional(s.trigger()));
    c.sync = valueOf(kSyncValues, std::optional(s.sync()));
    c.delay = tenthsOf(s.delayTime);
    c.exposure = tenthsOf(s.exposureTime);
    c.repeat = repeatCount(s);
    c.running_option = valueOf(kRunValues, s.running());
    c.selected_timer = s.timerSelectIndex == 0 || s.timerSelectIndex == 1 ? s.timerSelectIndex : VELTRA_NONE;
    return c;
}

veltra_status statusOf(const StatusRecord& r) {
    veltra_status out{};
    out.shutter = valueOf(kPositionValues, r.position());
    out.mode = valueOf(kModeValues, r.mode());
    out.nd_steps = r.ndSteps;
    out.trigger = valueOf(kTriggerValues, std::optional(r.trigger()));
    out.sync = valueOf(kSyncValues, std::optional(r.sync()));
    out.delay = tenthsOf(r.delayTime);
    out.exposure = tenthsOf(r.exposureTime);
    out.cycle = tenthsOf(cycleTime(r));
    out.repeat = repeatCount(r);
    out.running_option = valueOf(kRunValues, r.running());
    out.selected_timer = r.timerSelectIndex;
    return out;
}


// Closes every port still open before the process's statics go.
void shutdownAtExit() {
    if (ThreadHost* host = ThreadHost::started()) {
        try {
            host->shutdown();
        } catch (...) {
        }
    }
}

ThreadHost& host() {
    static const bool registered = [] {
        std::atexit(shutdownAtExit);
        return true;
    }();
    (void)registered;
    return ThreadHost::get();
}

}  // namespace

extern "C" {

int veltra_version(void) {
    return VELTRA_VERSION_NUMBER(VELTRA_VERSION_MAJOR, VELTRA_VERSION_MINOR, VELTRA_VERSION_PATCH);
}

const char* veltra_error_name(int code) {
    static const char* const kNames[] = {
        "VELTRA_OK",          "VELTRA_E_ARG",      "VELTRA_E_NOT_FOUND",   "VELTRA_E_PERMISSION", "VELTRA_E_BUSY",
        "VELTRA_E_TIMEOUT",   "VELTRA_E_REFUSED",  "VELTRA_E_BAD_REPLY",   "VELTRA_E_CLOSED",     "VELTRA_E_INTERRUPTED",
        "VELTRA_E_INTERNAL",  "VELTRA_E_DIFFERENT", "VELTRA_E_FILE",       "VELTRA_E_IO"};
    constexpr int kCount = static_cast<int>(sizeof kNames / sizeof kNames[0]);
    if (code > 0 || code <= -kCount) return "VELTRA_E_UNKNOWN";
    return kNames[-code];
}

int veltra_last_error(veltra_controller* handle, char* buf, int32_t len) {
    std::string text;
    const int found = guarded(nullptr, [&] {
        if (handle) {
            const auto h = find(handle);
            const std::lock_guard lock(h->errorLock);
            text = h->lastError;
        } else {
            text = t_lastError;
        }
        return 0;
    });
    if (found != 0) return found;
    // Not guarded() itself: a bad buffer must not replace the text asked for.
    try {
        return copyOut(text, buf, len);
    } catch (const ArgError&) {
        return VELTRA_E_ARG;
    } catch (...) {
        return VELTRA_E_INTERNAL;
    }
}

int veltra_list_ports(char* buf, int32_t len) {
    return guarded(nullptr, [&] {
        if (len < 0 || (len > 0 && !buf)) throw ArgError{"buf is NULL or len negative"};
        std::vector<PortInfo> ports;
        host().run([&] { ports = listPorts(); });
        std::string text;
        for (const PortInfo& p : ports) text += p.device + "\t" + p.description + "\n";
        return copyOut(text, buf, len);
    });
}

int veltra_open(const char* device, int32_t baud, int32_t timeout_ms, veltra_controller** handle) {
    return guarded(nullptr, [&] {
        need(device, "device");
        need(handle, "handle");
        if (timeout_ms == 0 || timeout_ms < VELTRA_TIMEOUT_INFINITE)
            throw ArgError{"timeout_ms is at least 1 or VELTRA_TIMEOUT_INFINITE, not " + std::to_string(timeout_ms)};
        inRange(baud, 1, 4'000'000, "baud");
        const std::string name(device);
        if (name.empty()) throw ArgError{"device is empty"};
        auto h = std::make_shared<Handle>();
        h->defaultTimeoutMs = timeout_ms;
        ThreadHost& thread = host();
        ClientOptions options{QString::fromStdString(name), baud, timeout_ms, false, &thread};
        veltra_controller* raw = h.get();
        Handle* self = h.get();
        options.interrupted = [self] { return self->interrupt.load(); };
        h->client = std::make_unique<Client>(std::move(options));
        thread.add(h->client.get());
        {
            const std::lock_guard lock(g_handlesLock);
            g_handles.emplace(raw, h);
        }
        *handle = raw;
        return 0;
    });
}

int veltra_close(veltra_controller* handle) {
    return onHandle(handle, VELTRA_TIMEOUT_DEFAULT, [](Handle& h) { h.client->close(); });
}

int veltra_free(veltra_controller* handle) {
    if (!handle) return 0;
    return guarded(nullptr, [&] {
        std::shared_ptr<Handle> h;
        {
            const std::lock_guard lock(g_handlesLock);
            const auto it = g_handles.find(handle);
            if (it == g_handles.end()) throw ArgError{"not a handle of veltra_open (freed already?)"};
            h = std::move(it->second);
            g_handles.erase(it);
        }
        h->interrupt.store(true);  // a call under way gives up its wait
        const std::lock_guard turn(h->turn);
        if (ThreadHost* thread = ThreadHost::started()) thread->remove(h->client.get());
        h->client.reset();
        return 0;
    });
}

int veltra_is_open(veltra_controller* handle, int32_t* open) {
    return onHandle(handle, VELTRA_TIMEOUT_DEFAULT, [&](Handle& h) {
        need(open, "open");
        *open = h.client->isOpen() ? 1 : 0;
    });
}

int veltra_set_verify(veltra_controller* handle, int32_t verify) {
    return onHandle(handle, VELTRA_TIMEOUT_DEFAULT, [&](Handle& h) {
        if (verify != 0 && verify != 1) throw ArgError{"verify is 0 or 1, not " + std::to_string(verify)};
        h.client->setVerify(verify == 1);
    });
}

int veltra_interrupt(veltra_controller* handle) {
    return guarded(nullptr, [&] {
        find(handle)->interrupt.store(true);
        return 0;
    });
}

int veltra_online(veltra_controller* handle, int32_t* online, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [&](Handle& h) {
        need(online, "online");
        try {
            *online = h.client->online() ? 1 : 0;
        } catch (const TimeoutError&) {
            *online = 0;
        }
    });
}

int veltra_get_status(veltra_controller* handle, veltra_status* status, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [&](Handle& h) {
        need(status, "status");
        *status = statusOf(h.client->status());
    });
}

int veltra_get_info(veltra_controller* handle, veltra_info* info, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [&](Handle& h) {
        need(info, "info");
        const InfoLines lines = h.client->info();
        copyFixed(lines.first, info->first, sizeof info->first);
        copyFixed(lines.second, info->second, sizeof info->second);
    });
}

int veltra_open_shutter(veltra_controller* handle, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [](Handle& h) { h.client->openShutter(); });
}

int veltra_close_shutter(veltra_controller* handle, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [](Handle& h) { h.client->closeShutter(); });
}

int veltra_set_mode(veltra_controller* handle, int32_t mode, int32_t nd_steps, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [&](Handle& h) {
        inRange(mode, 0, 2, "mode");
        const ShutterMode m = *choiceOf<ShutterMode>(kModeValues, mode);
        if (m == ShutterMode::NeutralDensity) {
            inRange(nd_steps, 0, 144, "nd_steps");
            h.client->mode(m, std::to_string(nd_steps));
        } else {
            if (nd_steps != 0) throw RefusedError("nd_steps go with VELTRA_MODE_ND only (else 0), not " + std::to_string(nd_steps));
            h.client->mode(m);
        }
    });
}

int veltra_set_trigger(veltra_controller* handle, int32_t trigger, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [&](Handle& h) {
        inRange(trigger, -1, 3, "trigger");
        h.client->trigger(*choiceOf<TriggerInput>(kTriggerValues, trigger));
    });
}

int veltra_set_sync(veltra_controller* handle, int32_t sync, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [&](Handle& h) {
        inRange(sync, -1, 1, "sync");
        h.client->sync(*choiceOf<SyncOutput>(kSyncValues, sync));
    });
}

int veltra_set_timer(veltra_controller* handle, int32_t timer, int32_t tenths, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [&](Handle& h) {
        inRange(timer, 0, 1, "timer");
        inRange(tenths, 0, VELTRA_TIMER_MAX, timer == VELTRA_TIMER_DELAY ? "delay" : "exposure");
        h.client->setTimer(timer == VELTRA_TIMER_DELAY ? TimerKind::Delay : TimerKind::Exposure, timerOfTenths(tenths));
    });
}

int veltra_set_repeat(veltra_controller* handle, int32_t count, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [&](Handle& h) {
        if (count == VELTRA_REPEAT_CONTINUOUS) {
            h.client->repeat(kContinuousText);
            return;
        }
        if (count < 0 || count > VELTRA_REPEAT_MAX)
            throw RefusedError("repeat must be 0 to 65000 or VELTRA_REPEAT_CONTINUOUS, not " + std::to_string(count));
        h.client->repeat(std::to_string(count));
    });
}

int veltra_run(veltra_controller* handle, int32_t option, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [&](Handle& h) {
        inRange(option, 0, 2, "option");
        h.client->run(*choiceOf<RunningOption>(kRunValues, option));
    });
}

int veltra_stop(veltra_controller* handle, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [](Handle& h) { h.client->stop(); });
}

int veltra_power(veltra_controller* handle, int32_t on, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [&](Handle& h) {
        inRange(on, 0, 1, "on");
        h.client->power(on == 1);
    });
}

int veltra_reset(veltra_controller* handle, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [](Handle& h) { h.client->reset(); });
}

int veltra_restore_defaults(veltra_controller* handle, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [](Handle& h) { h.client->restoreDefaults(); });
}

int veltra_save_to_controller(veltra_controller* handle, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [](Handle& h) { h.client->saveToController(); });
}

int veltra_apply(veltra_controller* handle, const veltra_settings* settings, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [&](Handle& h) {
        need(settings, "settings");
        const PanelState s = settingsFrom(*settings);
        h.client->apply(static_cast<const ControllerSettings&>(s));
    });
}

int veltra_apply_file(veltra_controller* handle, const char* path, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [&](Handle& h) {
        need(path, "path");
        h.client->applyFile(path);
    });
}

int veltra_read_config(veltra_controller* handle, const char* path, veltra_status* status, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [&](Handle& h) {
        need(path, "path");
        const veltra_status read = statusOf(h.client->readConfig(path));
        if (status) *status = read;
    });
}

int veltra_wait_event(veltra_controller* handle, veltra_event* event, int32_t timeout_ms) {
    return onHandle(handle, timeout_ms, [&](Handle& h) {
        need(event, "event");
        try {
            if (!h.following) {
                h.client->beginRun();
                h.following = true;
            }
            const std::optional<RunEvent> e = h.client->nextRunEvent();
            veltra_event out{};
            if (e) {
                out.kind = VELTRA_EVENT_REPORT;
                out.shutter = valueOf(kPositionValues, std::optional(e->position));
                out.counted = e->counted ? 1 : 0;
                out.cycles_left = e->cyclesLeft;
                out.time_us = std::chrono::duration_cast<std::chrono::microseconds>(e->time.time_since_epoch()).count();
            } else {
                out.kind = VELTRA_EVENT_END;
                h.following = false;
            }
            *event = out;
        } catch (const TimeoutError&) {
            throw;  // still followed: the next call waits on
        } catch (...) {
            h.following = false;  // the flow has ended
            throw;
        }
    });
}

int veltra_load_config(const char* path, veltra_settings* settings) {
    return guarded(nullptr, [&] {
        need(path, "path");
        need(settings, "settings");
        PanelState s;
        const std::string p(path);
        host().run([&] { s = loadConfigFile(p); });
        *settings = settingsOf(s);
        return 0;
    });
}

int veltra_save_config(const char* path, const veltra_settings* settings) {
    return guarded(nullptr, [&] {
        need(path, "path");
        need(settings, "settings");
        const PanelState s = settingsFrom(*settings);
        const std::string p(path);
        host().run([&] { saveConfigFile(p, s); });
        return 0;
    });
}

}  // extern "C"
