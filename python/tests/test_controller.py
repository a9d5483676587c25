"""The Controller against veltra-sim and a bare line: decoding, downloads,
runs, errors, refusals, interruption and the port's life."""

import datetime
import errno
import gc
import os
import signal
import subprocess
import sys
import threading
import time

import pytest

import veltra
from conftest import WAIT, start_sim

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


# ---- decoding ----------------------------------------------------------------------

def test_status_decodes_the_simulators_saved_settings():
    proc, path = start_sim("--delay-ms", "1500", "--exposure-ms", "250.5", "--repeat", "continuous")
    try:
        with veltra.Controller(path) as c:
            s = c.status()
    finally:
        proc.terminate(), proc.wait(WAIT)
    assert s == veltra.Status(shutter="close", mode="fast", nd_steps=0, trigger="off", sync="off",
                              delay=td(seconds=1.5), exposure=td(microseconds=250_500),
                              cycle_time=td(seconds=1.5, microseconds=250_500 + 24_000), repeat="continuous",
                              running_option="none")
    assert "delay=00:00:01.500.0" in repr(s) and "cycle_time=00:00:01.774.5" in repr(s)


SETTINGS = [
    (lambda c: c.open(), "shutter", "open"),
    (lambda c: c.mode("soft"), "mode", "soft"),
    (lambda c: c.mode("nd", steps=144), "nd_steps", 144),
    (lambda c: c.trigger("rising"), "trigger", "rising"),
    (lambda c: c.sync("low"), "sync", "low"),
    (lambda c: c.set_timer("delay", td(hours=2, minutes=3, seconds=4, microseconds=567_800)), "delay",
     td(hours=2, minutes=3, seconds=4, microseconds=567_800)),
    (lambda c: c.set_timer("exposure", "00:00:00.000.7"), "exposure", td(microseconds=700)),
    (lambda c: c.repeat(65000), "repeat", 65000),
    (lambda c: c.repeat("continuous"), "repeat", "continuous"),
    (lambda c: c.run("power-up"), "running_option", "power-up"),
]


@pytest.mark.parametrize("call,field,value", SETTINGS, ids=[f"{r[1]}={r[2]}" for r in SETTINGS])
def test_setting_reads_back_in_status(sim, call, field, value):
    with veltra.Controller(sim, verify=True) as c:  # verify: the client reads it back too
        call(c)
        assert getattr(c.status(), field) == value


def test_cycle_time_follows_the_mode(sim):
    with veltra.Controller(sim) as c:
        c.set_timer("delay", td(milliseconds=10))
        c.mode("nd", steps=144)  # 38 ms each way
        assert c.status().cycle_time == td(milliseconds=10 + 76)


def test_info_gives_two_lines(sim):
    with veltra.Controller(sim) as c:
        first, second = c.info()
    assert (len(first), len(second)) == (8, 4)


def test_verify_reports_each_difference(line):
    closed_fast = H("CC AC DC 00 A0 B0 10 00 00 00 00 20 00 00 00 00 F0 00 01 00")
    with veltra.Controller(line.path) as c:
        on_line(line, H("AA CC"), lambda: line.send(closed_fast))
        with pytest.raises(veltra.VerifyError) as e:
            c.open(verify=True)
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


def test_config_file_cut_short_is_refused(tmp_path):
    veltra.Config().save(tmp_path / "a.cfg")
    data = (tmp_path / "a.cfg").read_bytes()
    (tmp_path / "short.cfg").write_bytes(data[:-1])
    with pytest.raises(veltra.ConfigFileError, match="past its end"):
        veltra.Config.load(tmp_path / "short.cfg")
    with pytest.raises(veltra.ConfigFileError):
        veltra.Config.load(tmp_path / "missing.cfg")


def test_config_with_an_unknown_name_is_refused_before_writing(tmp_path):
    with pytest.raises(ValueError, match="Trigger input"):
        veltra.Config(trigger="sideways").save(tmp_path / "x.cfg")
    assert not (tmp_path / "x.cfg").exists()


# ---- runs ------------------------------------------------------------------------------

def test_wait_run_yields_a_report_per_cycle_for_repeat_3(sim):
    with veltra.Controller(sim) as c:
        c.set_timer("exposure", td(milliseconds=5))
        c.repeat(3)
        c.run("go")
        reports = list(c.wait_run())
    assert [(r.cycle, r.cycles_left) for r in reports] == [(1, "2"), (2, "1"), (3, "3")]  # the last shows the repeat again
    times = [t for r in reports for t in (r.opened, r.closed)]
    assert all(t.tzinfo is not None for t in times) and times == sorted(times)
    assert all(r.closed - r.opened >= td(milliseconds=5) for r in reports)


# ---- errors ----------------------------------------------------------------------------

def test_silent_line_times_out(line):
    with veltra.Controller(line.path, timeout=0.2) as c:
        with pytest.raises(veltra.Timeout) as e:
            c.status()
        assert isinstance(e.value, TimeoutError) and e.value.step == "status reply"
        assert c.online() is False
        assert c.port_open


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
    veltra.Controller(sim).close_port()  # free again once the other program left


def test_missing_device(tmp_path):
    with pytest.raises(veltra.PortError) as e:
        veltra.Controller(str(tmp_path / "ttyNothing"))
    assert e.value.reason == "missing" and e.value.errno == errno.ENOENT


REFUSED = [
    (lambda c: c.set_timer("delay", "06:00:00.000.0"), "Hours number must be less than 6"),
    (lambda c: c.set_timer("delay", td(hours=5, microseconds=100)), "5 hours"),
    (lambda c: c.set_timer("exposure", td(microseconds=50)), "tenths of a millisecond"),
    (lambda c: c.set_timer("exposure", td(seconds=-1)), "negative"),
    (lambda c: c.set_timer("exposure", "1:2"), "HH:MM:SS.mmm.t"),
    (lambda c: c.set_timer("cycle", "00:00:00.000.0"), "delay"),
    (lambda c: c.mode("nd", steps=145), "less than 145"),
    (lambda c: c.mode("nd"), "No steps"),
    (lambda c: c.mode("fast", steps=3), "nd"),
    (lambda c: c.mode("medium"), "Fast, Soft or Neutral Density"),
    (lambda c: c.trigger("sideways"), "not one of the four"),
    (lambda c: c.sync("middle"), "not one of the two"),
    (lambda c: c.run("later"), "not one of the three"),
    (lambda c: c.repeat(-1), "must not be negative"),
    (lambda c: c.repeat(65536), "less than 65536"),
    (lambda c: c.apply(veltra.Config(repeat="often")), "continuous"),
]


@pytest.mark.parametrize("call,message", REFUSED, ids=[r[1] for r in REFUSED])
def test_refused_value_raises_value_error_and_sends_nothing(line, call, message):
    with veltra.Controller(line.path) as c:
        with pytest.raises(ValueError, match=message) as e:
            call(c)
        assert isinstance(e.value, veltra.Error)
        c.stop()  # the next byte on the line is this one
        assert line.read(1) == H("BF")
        assert c.traffic() == [("tx", H("BF"))]


# ---- interruption and the port's life --------------------------------------------------

def test_ctrl_c_interrupts_a_wait_and_closes_the_port(line):
    with veltra.Controller(line.path, timeout=30.0) as c:  # an interrupt that is not seen fails as Timeout
        _, seen = on_line(line, H("CC"), lambda: os.kill(os.getpid(), signal.SIGINT))
        with pytest.raises(KeyboardInterrupt):
            c.status()
        latency = time.monotonic() - seen["at"]
        assert not c.port_open
        with pytest.raises(veltra.PortError, match="closed"):
            c.open()
    assert latency < 1.0  # well inside a second (measured in bench/bench_python.py)


def test_port_closes_on_exit_and_on_garbage_collection(sim):
    with veltra.Controller(sim) as c:
        assert c.port_open
    assert not c.port_open
    c = veltra.Controller(sim)
    del c
    gc.collect()
    veltra.Controller(sim).close_port()  # opens: nothing holds it


def test_another_thread_is_refused(sim):
    with veltra.Controller(sim) as c:
        errors = []
        t = threading.Thread(target=lambda: errors.append(pytest.raises(RuntimeError, c.status)))
        t.start(), t.join(WAIT)
        assert len(errors) == 1
        assert c.status().shutter == "close"


def test_ports_lists_serial_ports():
    assert all(isinstance(p, veltra.Port) and p.device.startswith("/dev/") for p in veltra.ports())
