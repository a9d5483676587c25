"""veltra-sim, the simulated controller, run by a script or its tests: the
controller on a pseudo-terminal of its own, so nothing needs hardware."""

from __future__ import annotations

import contextlib
import logging
import os
import select
import shutil
import signal
import subprocess
import threading
import weakref
from typing import List, Optional

from ._types import Error

_log = logging.getLogger("veltra")


def _find_program() -> str:
    """veltra-sim: $VELTRA_SIM, the one a wheel carries in the package, the
    build folder's (its python/ on PYTHONPATH), else the one on PATH."""
    named = os.environ.get("VELTRA_SIM")
    if named:
        return named
    here = os.path.dirname(os.path.abspath(__file__))
    build_tree = os.path.dirname(os.path.dirname(here))  # <build>/python/veltra
    looked = [os.path.join(here, "veltra-sim"), os.path.join(build_tree, "src", "sim", "veltra-sim")]
    for path in looked:
        if os.path.isfile(path) and os.access(path, os.X_OK):
            return path
    on_path = shutil.which("veltra-sim")
    if on_path:
        return on_path
    raise FileNotFoundError("veltra-sim not found: not in %s, nor on PATH (install veltra-utility, or set VELTRA_SIM "
                            "to its path)" % " or ".join(looked))


def _end(process: subprocess.Popen, wait: float) -> None:
    """Stops veltra-sim (SIGTERM, then SIGKILL should it not end). Its output
    pipes are closed by the threads that read them, at their end."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(wait)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def _first_line(process: subprocess.Popen, timeout: float) -> str:
    """veltra-sim's first line (its terminal's path), or "" when it ended or
    said nothing within the timeout."""
    assert process.stdout is not None
    if not select.select([process.stdout], [], [], timeout)[0]:
        return ""
    line = process.stdout.readline()  # the whole line: veltra-sim flushes after it
    if not line:  # it ended (or closed its output): its status says why
        with contextlib.suppress(subprocess.TimeoutExpired):
            process.wait(timeout)
    return line.strip()


# The readers hold no reference to the Simulator, so that one dropped unstopped
# is collected (and its veltra-sim stopped).
def _read_errors(process: subprocess.Popen, early: List[str], serving: threading.Event) -> None:
    assert process.stderr is not None
    with process.stderr:
        for line in process.stderr:
            line = line.rstrip("\n")
            if not serving.is_set():
                early.append(line)
            # --verbose notes are "veltra-sim: [  12.3 ms] ..."; the rest are its complaints.
            _log.log(logging.DEBUG if line.startswith("veltra-sim: [") else logging.WARNING, "%s", line)


def _follow_terminal(process: subprocess.Popen, owner: "weakref.ref[Simulator]") -> None:
    # A client that dies holding the terminal locked makes veltra-sim serve a
    # new one; it prints the new path.
    assert process.stdout is not None
    with process.stdout:
        for line in process.stdout:
            sim = owner()
            if line.strip() and sim is not None:
                sim.device = line.strip()
                _log.info("veltra-sim now serves %s", sim.device)
            del sim


class Simulator:
    """veltra-sim, a simulated Veltra controller on a pseudo-terminal, as a
    context manager: entering starts it and returns the terminal's path (also
    `device`), to hand to Controller; leaving stops it. A script or its tests
    then run without hardware:

        with veltra.Simulator("--exposure-ms", "20") as device, veltra.Controller(device) as c:
            print(c.status())

    `args` are veltra-sim's options (see veltra-sim --help): the saved settings
    it powers up with ("--delay-ms", "--exposure-ms", "--repeat",
    "--power-up-option"), "--time-scale", "--pace-baud", "--link PATH".
    `program` is the veltra-sim to run; by default $VELTRA_SIM, else the one
    beside the package (the wheel carries one), else the build folder's when
    the package is imported from a build folder, else veltra-sim on PATH.
    `timeout` is the seconds it may take to start and to stop. What it writes
    on standard error goes to the "veltra" logger (--verbose: at DEBUG)."""

    def __init__(self, *args: str, program: Optional[str] = None, timeout: float = 10.0) -> None:
        self.args: List[str] = [str(a) for a in args]
        self.program: Optional[str] = program  # the one found, once started
        self.timeout = timeout
        self.device: Optional[str] = None
        self._process: Optional[subprocess.Popen] = None
        self._finalizer: Optional[weakref.finalize] = None
        self._readers: List[threading.Thread] = []

    def start(self) -> str:
        """Starts veltra-sim and returns the path of its terminal, once it
        serves it. Raises FileNotFoundError when there is no veltra-sim, and
        veltra.Error when it ends or stays silent instead."""
        if self._process is not None:
            raise Error("the simulator is running already, on %s" % self.device)
        self.program = program = self.program or _find_program()
        process = subprocess.Popen([program, *self.args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True, start_new_session=True)
        # Stopped when dropped or at interpreter exit, should the script not stop it.
        self._finalizer = weakref.finalize(self, _end, process, self.timeout)
        self._process = process
        self.device = None
        early: List[str] = []
        serving = threading.Event()
        self._readers = [threading.Thread(target=_read_errors, args=(process, early, serving), daemon=True)]
        self._readers[0].start()
        first = _first_line(process, self.timeout)
        if first.startswith("/"):
            serving.set()
            self.device = first
            self._readers.append(threading.Thread(target=_follow_terminal, args=(process, weakref.ref(self)),
                                                  daemon=True))
            self._readers[1].start()
            return first
        ended = process.poll()
        self.stop()
        assert process.stdout is not None
        process.stdout.close()
        said = " ".join(early) or "nothing on standard error"
        if first:
            raise Error("%s printed %r instead of its terminal's path" % (program, first))
        if ended is not None:
            raise Error("%s ended with status %d before serving a terminal: %s" % (program, ended, said))
        raise Error("%s named no terminal within %g s: %s" % (program, self.timeout, said))

    def stop(self) -> None:
        """Stops veltra-sim (its terminal goes with it). Stopping a stopped
        simulator does nothing."""
        process, self._process = self._process, None
        if process is None:
            return
        if self._finalizer is not None:
            self._finalizer.detach()
            self._finalizer = None
        _end(process, self.timeout)
        for reader in self._readers:  # they end at the pipes' end of file
            reader.join(self.timeout)
        self._readers = []

    def trigger(self) -> None:
        """One pulse on the simulated trigger input: it runs a cycle while the
        running option "trigger" waits for one."""
        if not self.running:
            raise Error("the simulator is not running")
        assert self._process is not None
        self._process.send_signal(signal.SIGUSR1)

    @property
    def running(self) -> bool:
        """True from start() until stop() (or until veltra-sim ends by itself)."""
        return self._process is not None and self._process.poll() is None

    def __enter__(self) -> str:
        return self.start()

    def __exit__(self, *args: object) -> None:
        self.stop()

    def __repr__(self) -> str:
        return "<veltra.Simulator %s>" % (self.device if self.running else "stopped")
