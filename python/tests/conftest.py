"""Fixtures: veltra-sim on its pseudo-terminal, and a bare pseudo-terminal
whose master side the test reads and answers itself."""

import contextlib
import os
import pty
import select
import subprocess
import time
import tty

import pytest

SIM = os.environ.get("VELTRA_SIM", "veltra-sim")
WAIT = 10.0  # generous: the suite also runs under the sanitizers


@contextlib.contextmanager
def running_sim(*args):
    """veltra-sim with `args`: its process and the terminal it serves."""
    proc = subprocess.Popen([SIM, *args], stdout=subprocess.PIPE, text=True)
    try:
        path = proc.stdout.readline().strip()  # the first line is the terminal's path
        assert path.startswith("/"), "veltra-sim printed no terminal path"
        yield proc, path
    finally:
        proc.terminate(), proc.wait(WAIT)


@pytest.fixture
def sim():
    with running_sim() as (_, path):
        yield path


class RawLine:
    """A pseudo-terminal standing in for the controller: the module opens the
    slave by its path, the test reads and writes the master."""

    def __init__(self):
        self.master, self._slave = pty.openpty()
        tty.setraw(self._slave)
        self.path = os.ttyname(self._slave)

    def read(self, count, timeout=WAIT):
        """Bytes from the module until `count` arrived or the time is up."""
        got = b""
        deadline = time.monotonic() + timeout
        while len(got) < count:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.master], [], [], left)[0]:
                break
            got += os.read(self.master, 256)
        return got

    def send(self, data):
        os.write(self.master, data)

    def hang_up(self):
        """The device goes away: the module's side reads a hang-up."""
        if self.master is not None:
            os.close(self.master)
            self.master = None

    def close(self):
        self.hang_up()
        os.close(self._slave)


@pytest.fixture
def line():
    try:
        raw = RawLine()
    except OSError as e:
        pytest.skip("no pseudo-terminal available: %s" % e)
    yield raw
    raw.close()
