"""What a hostile peer or script does to the module: servers that turn the
connection away or never answer, forks, interpreter exit mid-call, NULs and
wrong types. Every server here listens on 127.0.0.1 and is the test's own."""

import contextlib
import datetime
import os
import signal
import socket
import subprocess
import sys
import threading
import time

import pytest

import veltra
from conftest import SIM, WAIT, running_sim

VELTRACTL = os.environ.get("VELTRACTL", "veltractl")


@contextlib.contextmanager
def turning_away(words=b"Port already in use\r\n"):
    """A server that accepts each connection, says `words` and closes it, as
    ser2net does while another client holds its serial device."""
    listener = socket.create_server(("127.0.0.1", 0))
    listener.settimeout(0.05)
    stop = threading.Event()

    def serve():
        while not stop.is_set():
            with contextlib.suppress(OSError):
                conn, _ = listener.accept()
                with conn:
                    conn.sendall(words)

    t = threading.Thread(target=serve, daemon=True)
    t.start()
    try:
        yield f"socket://127.0.0.1:{listener.getsockname()[1]}"
    finally:
        stop.set(), t.join(WAIT), listener.close()


@contextlib.contextmanager
def never_answering():
    """A listener whose backlog is full: a further connection attempt hangs."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(0)
    port = listener.getsockname()[1]
    fillers = []
    for _ in range(3):
        s = socket.socket()
        s.setblocking(False)
        with contextlib.suppress(BlockingIOError):
            s.connect(("127.0.0.1", port))
        fillers.append(s)
    try:
        yield port
    finally:
        for s in fillers + [listener]:
            s.close()


def syn_sent_to(port):
    """How many connections to `port` on loopback wait for their answer."""
    with open("/proc/net/tcp") as f:
        rows = [line.split() for line in f.readlines()[1:]]
    return sum(r[2] == f"0100007F:{port:04X}" and r[3] == "02" for r in rows)


def wait_for(condition, timeout=WAIT):
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline, "condition not met in time"
        time.sleep(0.01)


COMMANDS = [["open"], ["close"], ["mode", "fast"], ["mode", "nd", "10"], ["power", "on"], ["power", "off"], ["stop"],
            ["repeat", "3"], ["timer", "delay", "00:00:01.000.0"], ["run", "power-up"], ["run", "go"],
            ["save-to-controller"], ["status"], ["info"], ["reset"], ["restore-defaults"], ["online"], ["trigger", "rising"], ["sync", "high"],
            ["wait-run"], ["monitor", "--duration", "1"]]


def test_a_server_that_turns_the_connection_away_fails_every_command_with_its_words():
    with turning_away() as url:
        for args in COMMANDS:
            r = subprocess.run([VELTRACTL, "--device", url, *args], capture_output=True, text=True, timeout=WAIT)
            assert (r.returncode, "done" in r.stdout) == (3, False), (args, r.stdout, r.stderr)
            assert "Port already in use" in r.stderr, (args, r.stderr)
        with pytest.raises(veltra.PortError, match="closed the connection at once.*Port already in use"):
            veltra.Controller(url)


def test_a_connection_attempt_ends_at_ctrl_c():
    with never_answering() as port:
        # veltractl: exit 130 at the signal, not the connect timeout's 3 five seconds later
        waiting = syn_sent_to(port)
        p = subprocess.Popen([VELTRACTL, "--device", f"socket://127.0.0.1:{port}", "status"], stderr=subprocess.PIPE,
                             text=True)
        wait_for(lambda: syn_sent_to(port) > waiting)
        sent = time.monotonic()
        p.send_signal(signal.SIGINT)
        assert p.wait(WAIT) == 130, p.stderr.read()
        assert time.monotonic() - sent < 2.5  # the connect timeout is 5 s
        # Python: the handler's KeyboardInterrupt, from inside the constructor
        signal.setitimer(signal.ITIMER_REAL, 0.3)
        old = signal.signal(signal.SIGALRM, signal.default_int_handler)
        try:
            started = time.monotonic()
            with pytest.raises(KeyboardInterrupt):
                veltra.Controller(f"socket://127.0.0.1:{port}", timeout=None)
            assert time.monotonic() - started < 2.5
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
            signal.signal(signal.SIGALRM, old)


def test_a_call_in_a_forked_child_raises_port_error_on_the_inherited_controller(sim):
    with veltra.Controller(sim) as c:
        c.status()
        pid = os.fork()
        if pid == 0:  # no Qt thread here; the alarm ends the child should it hang
            signal.alarm(int(WAIT))
            told = []
            for call in (c.status, c.open_shutter, lambda: veltra.Controller(sim)):
                try:
                    call()
                    told.append("no error")
                except veltra.PortError as e:
                    told.append("forked" in str(e))
                except BaseException as e:  # noqa: B036 - the child only reports
                    told.append(type(e).__name__)
            os._exit(0 if told == [True] * 3 and c.port_open is False else 2)
        assert os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]) == 0
        assert c.status().shutter == "close"  # the parent's Controller goes on


EXIT_MID_CALL = """
import subprocess, sys, threading, veltra
sim = subprocess.Popen([sys.argv[1]], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
print(sim.pid, flush=True)
c = veltra.Controller(sim.stdout.readline().strip(), timeout=None)
started = threading.Barrier(12)
def busy():
    started.wait()
    while True:
        try:
            c.status()
        except veltra.Error:
            pass
def follow():
    c.repeat("continuous"); c.run("go")
    started.wait()
    for _ in c.wait_run():
        pass
for target in [busy] * 10 + [follow]:
    threading.Thread(target=target, daemon=True).start()
started.wait()
sim.terminate() if sys.argv[2] == "gone" else None
sys.exit(7)
"""


@pytest.mark.parametrize("sim_at_exit", ["running", "gone"])
def test_interpreter_exit_with_daemon_threads_mid_call_keeps_the_scripts_exit_code(sim_at_exit):
    r = subprocess.run([sys.executable, "-c", EXIT_MID_CALL, SIM, sim_at_exit], capture_output=True, text=True,
                       timeout=WAIT * 3)
    with contextlib.suppress(ProcessLookupError, ValueError):
        os.kill(int(r.stdout.split()[0]), signal.SIGTERM)
    assert (r.returncode, r.stderr) == (7, "")


def test_nul_in_a_path_or_device_is_refused_and_nothing_is_written(tmp_path, monkeypatch, sim):
    monkeypatch.chdir(tmp_path)
    for call in (lambda: veltra.Controller(sim + "\0x"), lambda: veltra.Config().save("a\0b.cfg"),
                 lambda: veltra.Config.load("a\0b.cfg")):
        with pytest.raises(ValueError, match="NUL"):
            call()
    with veltra.Controller(sim) as c:
        for call in (lambda: c.apply("a\0b.cfg"), lambda: c.read_config("a\0b.cfg")):
            with pytest.raises(ValueError, match="NUL"):
                call()
    assert os.listdir(tmp_path) == []


def test_wrong_types_raise_type_error_and_send_nothing(sim):
    with pytest.raises(TypeError):
        veltra.Controller(sim, baud=True)
    with pytest.raises(TypeError):
        veltra.Controller(sim, verify=None)
    with veltra.Controller(sim) as c:
        c.traffic()
        for call in (lambda: c.power(None), lambda: c.power(1.5), lambda: c.power(1), lambda: c.mode(b"fast"),
                     lambda: c.trigger(None), lambda: c.sync(1), lambda: c.run(b"go"),
                     lambda: c.set_timer(b"delay", datetime.timedelta(0)), lambda: c.apply(veltra.Config(shutter=None))):
            with pytest.raises(TypeError):
                call()
        assert c.traffic() == []


def test_traffic_keeps_the_newest_16_mib_however_large_the_chunks(line):
    with veltra.Controller(line.path, timeout=WAIT) as c:
        flood = bytes(range(0x80)) * (17 * 8192)  # 17 MiB without an Online echo (EE) in it
        view = memoryview(flood)
        while view:  # a pty takes a few KiB at a time, as the module reads them
            view = view[os.write(line.master, view):]
        # Online's echo comes after every byte of the flood: all of it has been received then.
        answer = threading.Thread(target=lambda: line.read(1) == b"\xee" and line.send(b"\xee"))
        answer.start()
        assert c.online()
        answer.join(WAIT)
        kept = b"".join(data for way, data in c.traffic() if way == "rx")
    assert 15 << 20 <= len(kept) <= 16 << 20
    assert kept.endswith(flood[-4096:] + b"\xee")


def test_a_device_held_by_another_controller_of_this_process_is_in_use_by_name(sim):
    with veltra.Controller(sim):
        with pytest.raises(veltra.PortError) as held:
            veltra.Controller(sim)
    assert (held.value.reason, sim in str(held.value), "COM1" in str(held.value)) == ("in use", True, False)
    with turning_away() as url, pytest.raises(veltra.PortError) as turned:
        veltra.Controller(url)
    assert turned.value.reason == "in use"
