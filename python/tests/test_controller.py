"""The Controller against veltra-sim and a bare line: decoding, downloads,
runs, errors, refusals, interruption and the port's life."""

import concurrent.futures
import ctypes
import datetime
import errno
import gc
import json
import os
import signal
import subprocess
import sys
import threading
import time

import pytest

import veltra
from conftest import WAIT, running_sim

td = datetime.timedelta
H = bytes.fromhex


def on_line(line, expect, then):
    """In a thread: once `expect` came from the module, `then()` (answer, signal...)."""
    seen = {}

    def play():
        got = line.read(len(expect))
        seen["got"] = got
        seen["at"] = time.monotonic()
        if got == expect:
            then()

    t = threading.Thread(target=play, daemon=True)
    t.start()
    return t, seen


def in_thread(target):
    """Runs `target` in a worker thread; what it returned or raised comes back here."""
    pool = concurrent.futures.ThreadPoolExecutor(1)
    try:
        return pool.submit(target).result(timeout=WAIT * 2)  # a worker that hangs fails here
    finally:
        pool.shutdown(wait=False)


# ---- decoding ----------------------------------------------------------------------

def test_status_decodes_the_saved_settings_and_the_cycle_follows_the_mode():
    with running_sim("--delay-ms", "1500", "--exposure-ms", "250.5", "--repeat", "continuous") as (_, path), \
            veltra.Controller(path) as c:
        s = c.status()
        c.mode("nd", steps=144)  # 38 ms each way
        assert c.status().cycle_time == td(seconds=1.5, microseconds=250_500 + 76_000)
        assert [len(line) for line in c.info()] == [8, 4]
    assert s == veltra.Status(shutter="close", mode="fast", nd_steps=0, trigger="off", sync="off",
                              delay=td(seconds=1.5), exposure=td(microseconds=250_500),
                              cycle_time=td(seconds=1.5, microseconds=250_500 + 24_000), repeat="continuous",
                              running_option="none")
    # The repr shows the timedelta values the fields hold: it reads back as the same Status.
    assert eval(repr(s), {"datetime": datetime, "Status": veltra.Status}) == s
    assert "delay=datetime.timedelta(seconds=1, microseconds=500000)" in repr(s)


def test_verify_raises_verify_error_naming_the_field(line):
    read_back = H("CC AC DC 00 A0 B0 10 00 00 00 00 20 00 00 00 00 F0 00 01 00")  # closed
    with veltra.Controller(line.path) as c:
        on_line(line, H("AA CC"), lambda: line.send(H("AA 0D") + read_back))
        with pytest.raises(veltra.VerifyError) as e:
            c.open_shutter(verify=True)
    assert isinstance(e.value, veltra.Error)
    assert e.value.differences == (veltra.Difference("shutter", "open", "close"),)


# ---- files and downloads -------------------------------------------------------------

def test_apply_with_verify_round_trips_a_file(sim, tmp_path):
    wanted = veltra.Config(shutter="open", mode="nd", nd_steps=18, trigger="falling", sync="low",
                           delay=td(seconds=7, microseconds=70_300), exposure=td(milliseconds=250), repeat=42,
                           running_option="power-up", selected_timer="exposure")
    wanted.save(tmp_path / "wanted.cfg")
    with veltra.Controller(sim) as c:
        c.apply(tmp_path / "wanted.cfg", verify=True)
        status = c.read_config(tmp_path / "read.cfg")
    read = veltra.Config.load(tmp_path / "read.cfg")
    assert read == wanted
    assert veltra.Config.from_status(status) == veltra.Config(**{**wanted.__dict__, "selected_timer": None})


def test_config_file_cut_short_or_missing_or_with_an_unknown_name_is_refused(line, tmp_path):
    veltra.Config().save(tmp_path / "a.cfg")
    (tmp_path / "short.cfg").write_bytes((tmp_path / "a.cfg").read_bytes()[:-1])
    (tmp_path / "notes.cfg").write_text("exposure 250 ms, repeat 3\n")
    not_one = "is not a configuration file saved by Veltra Utility, or it is cut short; nothing was changed"
    for name in ("short.cfg", "notes.cfg"):
        with pytest.raises(veltra.ConfigFileError, match=name + " " + not_one):
            veltra.Config.load(tmp_path / name)
    with veltra.Controller(line.path) as c, pytest.raises(veltra.ConfigFileError, match="notes.cfg " + not_one):
        c.apply(tmp_path / "notes.cfg")
    assert line.read(1, timeout=0.1) == b""  # nothing was sent
    with pytest.raises(veltra.ConfigFileError):
        veltra.Config.load(tmp_path / "missing.cfg")
    with pytest.raises(ValueError, match="^trigger must be one of off, high, low, rising, falling, not 'sideways'$"):
        veltra.Config(trigger="sideways").save(tmp_path / "x.cfg")
    assert not (tmp_path / "x.cfg").exists()


# ---- runs ------------------------------------------------------------------------------

def test_wait_run_hands_out_each_cycle_as_it_ends(sim):
    with veltra.Controller(sim) as c:
        c.set_timer("exposure", td(milliseconds=476))  # with Fast's 24 ms: half a second a cycle
        c.repeat(3)
        c.run("go")
        reports, arrived = [], []
        for r in c.wait_run():
            arrived.append(datetime.datetime.now().astimezone())
            reports.append(r)
    assert [(r.cycle, r.cycles_left) for r in reports] == [(1, 2), (2, 1), (3, 0)]
    times = [t for r in reports for t in (r.opened, r.closed)]
    assert all(t.tzinfo is not None for t in times) and times == sorted(times)
    assert all(r.closed - r.opened >= td(milliseconds=476) for r in reports)
    assert arrived[0] < reports[1].closed  # the first reached the script before the second cycle ended
    assert all(a - r.closed < td(milliseconds=100) for a, r in zip(arrived, reports))


def test_reply_out_of_range_writes_no_file_and_device_gone_during_apply_is_a_port_error(line, tmp_path):
    with veltra.Controller(line.path) as c:
        on_line(line, H("CC"), lambda: line.send(H("CC") + b"\xff" * 19))
        with pytest.raises(veltra.ReplyError) as e:
            c.read_config(tmp_path / "read.cfg")
        assert isinstance(e.value, veltra.Error) and "delay hours" in str(e.value) and "running_option" in str(e.value)
        assert not (tmp_path / "read.cfg").exists()
        on_line(line, H("AC"), line.hang_up)
        with pytest.raises(veltra.PortError) as e:
            c.apply(veltra.Config())
    assert e.value.reason == "closed" and "went away during the download, after step 1 of" in str(e.value)


# ---- errors ----------------------------------------------------------------------------

def test_silent_line_times_out_also_in_a_worker(line):
    def status_on_silent_line():
        with veltra.Controller(line.path, timeout=0.2) as c:
            start = time.monotonic()
            with pytest.raises(veltra.Timeout) as e:
                c.status()
            assert isinstance(e.value, TimeoutError) and e.value.step == "status reply"
            assert c.online() is False and c.port_open
            return time.monotonic() - start
    assert in_thread(status_on_silent_line) < 0.2 + 0.5


def test_port_held_by_another_program_is_in_use(sim):
    holder = subprocess.Popen([sys.executable, "-c",
                               "import sys, veltra; c = veltra.Controller(sys.argv[1]); print('held', flush=True); "
                               "sys.stdin.read()", sim], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        assert holder.stdout.readline().strip() == "held"
        with pytest.raises(veltra.PortError) as e:
            veltra.Controller(sim)
        assert e.value.reason == "in use" and isinstance(e.value, OSError) and e.value.errno == errno.EBUSY
    finally:
        holder.stdin.close(), holder.wait(WAIT)
    veltra.Controller(sim).close()  # free again once the other program left


def test_relative_device_path_is_taken_from_the_working_folder(sim, tmp_path, monkeypatch):
    os.symlink(sim, tmp_path / "simrel")
    monkeypatch.chdir(tmp_path)
    with veltra.Controller("simrel") as c:
        assert c.status().shutter == "close"
    with pytest.raises(veltra.PortError) as e:
        veltra.Controller("nothing")
    assert e.value.reason == "missing" and e.value.errno == errno.ENOENT and str(tmp_path / "nothing") in str(e.value)


REFUSED = [
    (lambda c: c.set_timer("delay", td(hours=5, microseconds=100)), ValueError, "5 hours"),
    (lambda c: c.set_timer("exposure", td(microseconds=50)), ValueError, "tenths of a millisecond"),
    (lambda c: c.set_timer("exposure", td(seconds=-1)), ValueError, "negative"),
    (lambda c: c.set_timer("cycle", "00:00:00.000.0"), ValueError, "delay"),
    # The panel's checks, in words that name the range or the choices and the value.
    (lambda c: c.set_timer("delay", "06:00:00.000.0"), ValueError, "^delay hours must be 0 to 5, not 6$"),
    (lambda c: c.set_timer("exposure", td(hours=6)), ValueError, "^exposure hours must be 0 to 5, not 6$"),
    (lambda c: c.set_timer("exposure", "00:00:00.000.10"), ValueError, "exposure tenths of a millisecond must be 0 to 9"),
    (lambda c: c.mode("nd", steps=145), ValueError, "0 to 144"),
    (lambda c: c.mode("nd", steps=-1), ValueError, "0 to 144"),
    (lambda c: c.mode("nd"), ValueError, "^mode nd needs the number of steps, 0 to 144$"),
    (lambda c: c.mode("fast", steps=3), ValueError, "nd"),
    (lambda c: c.mode("medium"), ValueError, "^mode must be one of fast, soft, nd, not 'medium'$"),
    (lambda c: c.trigger("x"), ValueError, "^trigger must be one of off, high, low, rising, falling, not 'x'$"),
    (lambda c: c.sync("middle"), ValueError, "^sync must be one of off, high, low, not 'middle'$"),
    (lambda c: c.run("later"), ValueError, "^running option must be one of power-up, trigger, go, not 'later'$"),
    (lambda c: c.apply(veltra.Config(mode="nd", nd_steps=200)), ValueError, "^nd steps must be 0 to 144, not 200$"),
    (lambda c: c.apply(veltra.Config(shutter="ajar")), ValueError, "^shutter must be open or close, not 'ajar'$"),
    (lambda c: c.repeat(-1), ValueError, "0 to 65000 or \"continuous\", not -1"),
    (lambda c: c.repeat(65001), ValueError, "0 to 65000"),
    (lambda c: c.repeat(10**30), ValueError, "0 to 65000"),
    (lambda c: c.apply(veltra.Config(repeat="often")), ValueError, "continuous"),
    # Whole numbers only: no float, bool or text taken for one.
    (lambda c: c.mode("nd", steps=1e100), TypeError, ""),
    (lambda c: c.mode("nd", steps=99.99), TypeError, ""),
    (lambda c: c.mode("nd", steps=True), TypeError, ""),
    (lambda c: c.mode("nd", steps="12"), TypeError, ""),
    (lambda c: c.repeat(5.0), TypeError, ""),
    (lambda c: c.repeat(True), TypeError, ""),
    (lambda c: c.set_timer("delay", 1.5), TypeError, ""),
    (lambda c: c.apply(veltra.Config(mode="nd", nd_steps=18.0)), TypeError, ""),
]


@pytest.mark.parametrize("call,error,message", REFUSED)
def test_refused_value_raises_and_sends_nothing(line, call, error, message):
    with veltra.Controller(line.path) as c:
        with pytest.raises(error, match=message) as e:
            call(c)
        assert error is TypeError or isinstance(e.value, veltra.Error)
        c.stop()  # the next byte on the line is this one
        assert line.read(1) == H("BF")
        assert c.traffic() == [("tx", H("BF"))]


def test_timeout_of_another_type_is_a_type_error(sim):
    for timeout in ("2", True, [1]):
        with pytest.raises(TypeError):
            veltra.Controller(sim, timeout=timeout)


@pytest.mark.parametrize("timeout", [0, 0.0, -1, -0.5, float("nan"), float("-inf"), float("inf"), 86_401])
def test_timeout_out_of_range_is_a_value_error_before_the_device_is_opened(timeout):
    # The device does not exist: refused first, the timeout is the error.
    with pytest.raises(ValueError, match="timeout"):
        veltra.Controller("/nonexistent/veltra-port", timeout=timeout)


# A script's own Qt application (here made through Qt itself, no Qt binding
# being at hand) is the one the module uses: none of its own beside it.
OWN_APPLICATION = r"""
import ctypes, sys
import veltra  # loads the module's Qt
qt = ctypes.CDLL("libQt6Core.so.6", mode=ctypes.RTLD_GLOBAL)
argc = ctypes.c_int(1)
argv = (ctypes.c_char_p * 2)(b"script", None)
app = ctypes.create_string_buffer(256)  # more than a QCoreApplication takes
qt.qVersion.restype = ctypes.c_char_p
major, minor, patch = (int(n) for n in qt.qVersion().split(b"."))
qt._ZN16QCoreApplicationC1ERiPPci(app, ctypes.byref(argc), argv, ctypes.c_int(major << 16 | minor << 8 | patch))
instance = ctypes.c_void_p.in_dll(qt, "_ZN16QCoreApplication4selfE")
assert instance.value == ctypes.addressof(app)
with veltra.Controller(sys.argv[1]) as c:
    print(c.status().shutter)
assert instance.value == ctypes.addressof(app), "the module made an application of its own"
print("same application")
"""


def test_a_scripts_own_qt_application_is_used(sim):
    try:
        ctypes.CDLL("libQt6Core.so.6")._ZN16QCoreApplicationC1ERiPPci
    except (OSError, AttributeError):
        pytest.skip("no libQt6Core.so.6 with the application's constructor")
    run = subprocess.run([sys.executable, "-c", OWN_APPLICATION, sim], capture_output=True, text=True, timeout=WAIT * 3)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines() == ["close", "same application"], run.stdout + run.stderr
    assert "only one" not in run.stderr


# ---- interruption and the port's life --------------------------------------------------

def test_ctrl_c_interrupts_a_wait_and_leaves_the_port_open(line):
    with veltra.Controller(line.path, timeout=30.0) as c:  # an interrupt that is not seen fails as Timeout
        _, seen = on_line(line, H("CC"), lambda: os.kill(os.getpid(), signal.SIGINT))
        with pytest.raises(KeyboardInterrupt):
            c.status()
        latency = time.monotonic() - seen["at"]
        assert c.port_open
        c.stop()
        assert line.read(1) == H("BF")
    assert latency < 1.0  # well inside a second (measured in bench/bench_python.py)


def test_ctrl_c_in_wait_run_of_a_continuous_run_then_stop(sim):
    with veltra.Controller(sim, timeout=30.0) as c:
        c.set_timer("exposure", td(milliseconds=20))
        c.repeat("continuous")
        c.run("go")
        reports = c.wait_run()
        first = next(reports)
        assert first.cycles_left == "continuous"
        threading.Timer(0.1, lambda: os.kill(os.getpid(), signal.SIGINT)).start()
        with pytest.raises(KeyboardInterrupt):
            for _ in reports:
                pass
        c.traffic()
        c.stop()
        assert [b for d, b in c.traffic() if d == "tx"] == [H("BF")]


def test_a_signal_handler_calling_the_interrupted_controller_is_refused_not_hung(line):
    with veltra.Controller(line.path, timeout=30.0) as c:
        previous = signal.signal(signal.SIGINT, lambda *_: c.stop())
        try:
            on_line(line, H("CC"), lambda: os.kill(os.getpid(), signal.SIGINT))
            with pytest.raises(RuntimeError, match="signal handler"):
                c.status()
        finally:
            signal.signal(signal.SIGINT, previous)
        assert c.port_open


def test_close_releases_the_port_on_exit_and_on_garbage_collection(sim):
    with veltra.Controller(sim) as c:
        assert c.port_open
    assert not c.port_open
    with pytest.raises(veltra.PortError, match="closed"):
        c.open_shutter()
    veltra.Controller(sim).close()  # opens: the first released it
    # Never closed and kept only by a reference cycle: reference counting
    # cannot free it, only a collection can.
    gc.disable()
    try:
        cycle = [veltra.Controller(sim)]
        cycle.append(cycle)
        del cycle
        with pytest.raises(veltra.PortError):
            veltra.Controller(sim)  # still held by the unreachable one
        assert gc.collect() > 0
    finally:
        gc.enable()
    veltra.Controller(sim).close()  # opens: the collection released it


def test_controller_dropped_in_a_worker_then_a_new_one(sim):
    def made_and_dropped_in_worker():
        c = veltra.Controller(sim)
        c.status()
        del c
        gc.collect()
    in_thread(made_and_dropped_in_worker)
    held = in_thread(lambda: veltra.Controller(sim))  # made in a worker, used and dropped here
    assert held.status().shutter == "close"
    del held
    gc.collect()  # released: the next one opens
    with veltra.Controller(sim) as c:
        assert c.status().shutter == "close"
        assert in_thread(c.status).shutter == "close"  # made here, used in a worker


def test_two_threads_on_one_controller_take_turns_while_a_third_uses_another(sim):
    def reads(c):
        return [c.status().mode for _ in range(30)]

    with running_sim() as (_, other), veltra.Controller(sim) as shared:
        work = [lambda: reads(shared)] * 2 + [lambda: reads(veltra.Controller(other))]  # one of its own
        results = {}
        threads = [threading.Thread(target=lambda i=i: results.__setitem__(i, work[i]())) for i in range(3)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(WAIT * 3)
    assert results == {i: ["fast"] * 30 for i in range(3)}


def test_a_forked_child_is_told_not_hung(sim):
    with veltra.Controller(sim) as c:
        c.status()
        pid = os.fork()
        if pid == 0:  # the child: no Qt thread of its own; the alarm ends it should it hang
            signal.alarm(int(WAIT))
            try:
                veltra.Controller(sim)
                os._exit(1)
            except BaseException as e:  # noqa: B036 - the child only reports
                os._exit(0 if isinstance(e, veltra.PortError) and "forked" in str(e) else 2)
        assert os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]) == 0
        assert c.status().shutter == "close"  # the parent's Controller goes on


def test_ports_lists_what_veltractl_lists():
    listed = subprocess.run([os.environ.get("VELTRACTL", "veltractl"), "ports", "--json"], capture_output=True,
                            text=True, timeout=WAIT, check=True)
    want = [veltra.Port(p["device"], p["description"], tuple(p["by_id"]))
            for p in json.loads(listed.stdout)["ports"]]
    assert veltra.ports() == want
