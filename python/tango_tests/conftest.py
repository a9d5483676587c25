"""Fixtures of the Tango device tests: veltra-sim behind a fixed link (so that
it can be unplugged and plugged back at the same path), the device served by
DeviceTestContext on the loopback, and waiting for conditions."""

import multiprocessing
import os
import queue
import socket
import subprocess
import sys
import time

import pytest
import tango
from tango.test_context import DeviceTestContext

from veltra.tango_server import VeltraShutter

SIM = os.environ.get("VELTRA_SIM", "veltra-sim")

WAIT = 10.0

# What Tango itself prints when a server starts without a notification daemon.
TANGO_NOTICES = {"Can't create notifd event supplier. Notifd event not available"}

# DeviceTestContext runs each device server in a multiprocessing child. A
# forked child would inherit this process's Tango client (its event consumer
# once a test has subscribed) without the client's threads: the server's
# shutdown then joins a keep-alive thread that does not exist in the child and
# hangs, stop() gives up after its timeout, and the child is terminated at the
# end of the session, where Tango's signal handler runs the shutdown a second
# time and crashes. A spawned child starts from a fresh interpreter.
multiprocessing.set_start_method("spawn", force=True)


def wait_for(condition, timeout=WAIT, what="condition"):
    """Polls `condition` until it is true; fails naming `what` after `timeout`."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        assert time.monotonic() < deadline, "timed out waiting for " + what
        time.sleep(0.02)


def lock_files(path):
    """The UUCP-style lock files of a serial device."""
    name = "LCK.." + os.path.basename(os.path.realpath(path))
    return [os.path.join(d, name) for d in ("/var/lock", "/run/lock", "/tmp") if os.path.exists(os.path.join(d, name))]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Sim:
    """veltra-sim at a fixed path that can be stopped and started again."""

    def __init__(self, folder, *args):
        self.path = str(folder / "veltra")
        self.log = folder / "sim.log"
        self.args = ["--link", self.path, "--verbose", *args]
        self.proc = None

    def start(self):
        with open(self.log, "a") as log:
            self.proc = subprocess.Popen([SIM, *self.args], stdout=subprocess.DEVNULL, stderr=log)
        wait_for(lambda: os.path.exists(self.path), what="the simulator's link")

    def stop(self):
        if self.proc is not None:
            self.proc.terminate(), self.proc.wait(WAIT)
            self.proc = None

    def received(self):
        """The commands the controller received so far, in hexadecimal."""
        return [data for _, what, data in self.traffic() if what == "rx"]

    def traffic(self):
        """(milliseconds since the simulator started, "rx" or "tx", hexadecimal) of each logged transfer."""
        lines = []
        for line in self.log.read_text().splitlines():
            at, sep, rest = line.partition(" ms] ")
            what, _, data = rest.partition(" ")
            if sep and what in ("rx", "tx"):
                lines.append((float(at.rsplit("[", 1)[1]), what, data.strip()))
        return lines


@pytest.fixture
def sim(tmp_path):
    s = Sim(tmp_path, "--exposure-ms", "20", "--delay-ms", "10", "--repeat", "1")
    s.start()
    yield s
    s.stop()


def serve(sim):
    """A DeviceTestContext of a VeltraShutter on the simulator, in a child process."""
    return DeviceTestContext(VeltraShutter, properties={"Device": sim.path, "Timeout": 2.0},
                             host="127.0.0.1", port=free_port(), process=True, daemon=True, timeout=WAIT)


@pytest.fixture
def device(sim):
    """A DeviceProxy of a VeltraShutter on the simulator, once it is connected."""
    with serve(sim) as proxy:
        wait_for(lambda: proxy.state() != tango.DevState.INIT, what="the device to connect")
        yield proxy


class Events:
    """Change events of one attribute, as they arrive."""

    def __init__(self, proxy, attribute):
        self.queue = queue.Queue()
        self.id = proxy.subscribe_event(attribute, tango.EventType.CHANGE_EVENT, self._push)
        self.proxy = proxy

    def _push(self, event):
        if not event.err:
            self.queue.put((time.monotonic(), event.attr_value.value))

    def until(self, value, timeout=WAIT):
        """The values seen up to and including `value`."""
        seen = []
        deadline = time.monotonic() + timeout
        while True:
            try:
                _, v = self.queue.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                raise AssertionError("no change event %r; saw %r" % (value, seen))
            seen.append(v)
            if v == value:
                return seen

    def close(self):
        self.proxy.unsubscribe_event(self.id)


@pytest.fixture(scope="session", autouse=True)
def tango_client_cleanup():
    """Ends the client's event threads, which otherwise keep the interpreter
    from exiting once a test has subscribed."""
    yield
    tango.ApiUtil.cleanup()
