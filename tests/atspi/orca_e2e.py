#!/usr/bin/env python3
"""What a blind operator hears: the Orca screen reader over the real panel.

Under Xvfb, in its own D-Bus session, with COM1 on a pseudo-terminal this
script plays the controller on (its status reply fills the time fields and the
cycle numbers), Orca runs with settings of its own and a debug log. The script
presses Tab once round the panel, waiting at every stop until Orca has taken
it, then ends Orca and reads what it said at each stop (its "SPEECH OUTPUT"
lines, split where its focus moved).

Usage: orca_e2e.py VELTRA_UTILITY [--print]   (--print: every stop and its speech)
Exit 0: passed; 1: failed; 77: skipped (Orca, xdotool, a display server or the
accessibility bus is missing, or Orca does not start). With CI set in the
environment nothing is skipped: what would skip fails.
"""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ beside the sources
import desktop  # noqa: E402
from desktop import (controller_pty, in_own_session, panel_args, panel_env, receive, skip,
                     start_accessibility_bus, start_display, stop, wait_for)

ORCA_WAIT = 30.0  # Orca's start on a loaded machine
ROUND_LIMIT = 80  # Tabs before giving up on coming back to the first stop
BUDGET = 90.0  # seconds for the whole run once in its session

# Delay 00:02:03:123:4, exposure 01:05:07:456:7 (the time fields show the
# exposure), Soft, repeat count 10.
STATUS_REPLY = bytes([0xCC, 0xAA, 0xDD, 0x00, 0xA0, 0xB0, 0x10, 0x02, 0x03, 0x12, 0x34, 0x21, 0x05, 0x07, 0x45,
                      0x67, 0xF3, 0x00, 0x0A, 0x0D])

# What each of the seven edit fields must say when Tab reaches it: its name
# (the label that names it) and its value, which Tab selects.
FIELDS = [
    ("HR", "HR text. 1 selected."),
    ("MIN", "MIN text. 5 selected."),
    ("S", "S text. 7 selected."),
    ("MS", "MS text. 456 selected."),
    (".1MS", ".1MS text. 7 selected."),
    ("Repeat Cycle Number:", "Repeat Cycle Number: text. 10 selected."),
    ("Left Cycle Number", "Left Cycle Number read only text. 10 selected."),
]
# Stops of other kinds that were always spoken right, and must stay so. (A
# combo is named by the item it shows, and says its label.)
OTHERS = [
    ("Exit", "Exit push button."),
    ("Data Received from Controller:", "Data Received from Controller: List with 21 items."),
    ("Fast", "Fast. not selected radio button"),
    ("0 - 999 Milliseconds", "0 - 999 Milliseconds slider 456."),
    ("0 - 5 Hour", "0 - 5 Hour slider 1."),
    ("Apply", "Apply push button."),
    ("Exposure Time", "Select Timer: combo box."),
]

FAILURES = []

# Orca's own settings folder: no first-start setup, no key echo (so only what
# the panel makes Orca say is in the log).
ORCA_SETTINGS = {
    "general": {"firstStart": False, "enableKeyEcho": False, "enableEchoByWord": False,
                "enableEchoBySentence": False},
    "profiles": {"default": {"profile": ["Default", "default"], "pronunciations": {}, "keybindings": {}}},
    "pronunciations": {},
    "keybindings": {},
}
# Orca loads this from its settings folder at start: its debug log at the
# level that has the speech and the focus, one line at a time, so the script
# can follow it while Orca runs.
ORCA_CUSTOMIZATIONS = """\
from orca import debug
debug.debugLevel = debug.LEVEL_INFO
if debug.debugFile:
    debug.debugFile.reconfigure(line_buffering=True)
"""

LOCUS = re.compile(r"ORCA: Changing locusOfFocus from (?:None|\[.*?\]) to \[(.*?) \| (.*)\]\. Notify: (\w+)$")
SPEECH = re.compile(r"SPEECH OUTPUT: '(.*)' ?\{[^{}]*\}$")


class OrcaLog:
    """Orca's debug log, read as it grows: complete lines only."""

    def __init__(self, path):
        self.path = path
        self._lines, self._read, self._partial = [], 0, b""

    def lines(self):
        try:
            with open(self.path, "rb") as f:
                f.seek(self._read)
                new = f.read()
        except FileNotFoundError:
            return self._lines
        self._read += len(new)
        *complete, self._partial = (self._partial + new).split(b"\n")
        self._lines += [line.decode("utf-8", errors="replace") for line in complete]
        return self._lines

    def settled_focus(self, since):
        """(role, name) where Orca's focus moved last after line `since`, once
        Orca has finished with the event that moved it; else None."""
        lines = self.lines()[since:]
        for i in range(len(lines) - 1, -1, -1):
            if m := LOCUS.search(lines[i]):
                done = f"EVENT MANAGER: locusOfFocus: [{m[1]} | {m[2]}] "
                return (m[1], m[2]) if any(done in line for line in lines[i + 1:]) else None
        return None


def stops(lines):
    """[(role, name, notified, [utterance, ...])] for every move of Orca's focus, in order."""
    found = []
    for line in lines:
        if m := LOCUS.search(line):
            found.append((m[1], m[2], m[3] == "True", []))
        elif (m := SPEECH.search(line)) and found:
            found[-1][3].append(m[1])
    return found


def orca_home(folder):
    prefs = os.path.join(folder, "orca")
    os.makedirs(prefs)
    with open(os.path.join(prefs, "user-settings.conf"), "w") as f:
        json.dump(ORCA_SETTINGS, f, indent=1)
    with open(os.path.join(prefs, "orca-customizations.py"), "w") as f:
        f.write(ORCA_CUSTOMIZATIONS)
    return prefs


def start_orca(procs, display, folder, log):
    """Orca on `display`, with its settings and debug log in `folder`; returns
    once it listens to the accessibility bus."""
    out = open(os.path.join(folder, "orca.out"), "w+")
    # No speech server: Orca logs what it would say and does not wait for one.
    env = dict(os.environ, DISPLAY=display, SPEECHD_CMD="/bin/false", XDG_CONFIG_HOME=folder,
               XDG_DATA_HOME=folder, XDG_CACHE_HOME=folder)
    env.pop("WAYLAND_DISPLAY", None)
    orca = subprocess.Popen(["orca", "-u", orca_home(folder), "--debug-file", log.path], env=env,
                            stdout=out, stderr=subprocess.STDOUT)
    procs.append(orca)
    deadline = time.monotonic() + ORCA_WAIT
    while not any("ORCA: Starting ATSPI registry" in line for line in log.lines()):
        if orca.poll() is not None or time.monotonic() > deadline:
            out.seek(0)
            said = out.read().strip()
            skip("Orca did not start" + (f": {said}" if said else f" within {ORCA_WAIT:.0f} s"))
        time.sleep(0.05)
    return orca


def end_orca(orca):
    """Ends Orca the way a user does; its log is complete once it has ended."""
    orca.send_signal(signal.SIGTERM)
    try:
        orca.wait(desktop.WAIT)
    except subprocess.TimeoutExpired:
        FAILURES.append("Orca did not end on SIGTERM")


def play_controller(com1, panel_texts):
    if receive(com1, 1) != b"\xee":
        raise AssertionError("no Online byte on COM1")
    os.write(com1, b"\xee")
    if receive(com1, 1) != b"\xcc":
        raise AssertionError("no status request on COM1")
    os.write(com1, STATUS_REPLY)
    # The reply is on screen (the fields are about to be spoken).
    wait_for("the status reply in the time fields", lambda: panel_texts().get("MS") == "456")


def tab_round(log, env, deadline):
    """Tabs from the panel's first stop until Orca's focus is back on it;
    returns the log line the round starts at."""
    def left():
        return max(0.0, min(desktop.WAIT, deadline - time.monotonic()))

    first = ("list", "Data Received from Controller:")  # where the panel starts
    wait_for(f"Orca's focus on {first}", lambda: log.settled_focus(0) == first, left())
    start = len(log.lines())
    for _ in range(ROUND_LIMIT):
        mark = len(log.lines())
        subprocess.run(["xdotool", "key", "Tab"], env=env, check=True, timeout=desktop.WAIT, **desktop.QUIET)
        if wait_for("Orca to take the next stop", lambda: log.settled_focus(mark), left()) == first:
            return start
    raise AssertionError(f"{ROUND_LIMIT} Tabs did not come back to {first}")


def panel_texts_reader():
    """{name: text} of the panel's edit fields, as the accessibility bus has them."""
    import pyatspi

    def texts():
        found, stack = {}, [pyatspi.Registry.getDesktop(0)]
        while stack:
            node = stack.pop()
            try:
                if node.getRole() == pyatspi.ROLE_TEXT:
                    found[node.name] = node.queryText().getText(0, -1)
                elif node.getRole() != pyatspi.ROLE_LIST:
                    stack.extend(node.getChildAtIndex(i) for i in range(node.childCount))
            except Exception:  # a node gone meanwhile
                continue
        return found

    return texts


def check_round(round_stops):
    heard = {}
    for role, name, notified, said in round_stops:
        spoken = " ".join(said)
        heard.setdefault(name, spoken)
        if not said:
            FAILURES.append(f"{role} {name!r}: nothing spoken (Orca's focus moved {'' if notified else 'silently'})")
    for name, want in FIELDS + OTHERS:
        got = heard.get(name)
        if got is None:
            FAILURES.append(f"{name!r}: not reached by Tab")
        elif got != want:
            FAILURES.append(f"{name!r}: Orca said {got!r}, want {want!r}")


def main():
    args = [a for a in sys.argv[1:] if a != "--print"]
    if len(args) != 1:
        print(__doc__)
        return 2
    desktop.REQUIRED = bool(os.environ.get("CI"))
    # Settings in memory: Orca switches the desktop's accessibility on, and
    # that must not reach the user's own settings.
    if (status := in_own_session("VELTRA_ORCA_SESSION", GSETTINGS_BACKEND="memory")) is not None:
        return status
    for program, package in (("orca", "orca"), ("xdotool", "xdotool")):
        if not shutil.which(program):
            skip(f"{program} is missing (install {package})")
    try:
        import pyatspi  # noqa: F401 (Orca's own bindings; read here for the fields' texts)
    except ImportError:
        skip("python3-pyatspi is missing")
    deadline = time.monotonic() + BUDGET
    procs = []
    with tempfile.TemporaryDirectory(prefix="veltra-orca-") as folder:
        log = OrcaLog(os.path.join(folder, "orca-debug.log"))
        panel_log = open(os.path.join(folder, "panel.log"), "w+")
        orca = None
        try:
            display = start_display(procs)
            start_accessibility_bus(procs)
            orca = start_orca(procs, display, folder, log)
            com1, device = controller_pty()
            procs.append(subprocess.Popen(panel_args(args[0], device), env=panel_env(display, XDG_CONFIG_HOME=folder),
                                          stdout=panel_log, stderr=panel_log))
            play_controller(com1, panel_texts_reader())
            # No window manager: the panel's window is given the keyboard.
            x = dict(os.environ, DISPLAY=display)
            window = wait_for("the panel's window", lambda: subprocess.run(
                ["xdotool", "search", "--name", "^Veltra Utility - COM v1.12$"],
                capture_output=True, text=True, env=x, timeout=desktop.WAIT).stdout.split())[0]
            subprocess.run(["xdotool", "windowfocus", "--sync", window], env=x, check=True, timeout=desktop.WAIT,
                           **desktop.QUIET)
            start = tab_round(log, x, deadline)
            end = len(log.lines())  # what came after is Orca ending
            end_orca(orca)
            round_stops = stops(log.lines()[start:end])
            if "--print" in sys.argv:
                for role, name, notified, said in round_stops:
                    print(f"{role} | {name} | notify={notified} | {' / '.join(said)}")
            check_round(round_stops)
        except (AssertionError, subprocess.SubprocessError) as e:
            FAILURES.append(str(e))
        finally:
            stop(procs)
        if FAILURES:
            panel_log.seek(0)
            print("veltra-utility said:\n" + panel_log.read())
            print("Orca's last lines:\n" + "\n".join(log.lines()[-40:]))
    for f in FAILURES:
        print("FAILED:", f)
    print("orca e2e:", "passed" if not FAILURES else f"{len(FAILURES)} failure(s)")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
