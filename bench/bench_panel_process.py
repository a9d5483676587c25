#!/usr/bin/env python3
"""The panel at full line rate as an operator meets it: the whole
veltra-utility process (release build) on a real X server (Xvfb), COM1 on a
pseudo-terminal this script plays the controller on, sending status replies
back to back at 19,200 baud (20 bytes each, 10 bits a byte: 96 replies a
second).

Three programs run side by side on the one display, each on a line of its
own fed the same stream at the same moments:
- the panel without accessibility (the AT-SPI bus present but not enabled,
  as on a desktop without a screen reader);
- the panel with accessibility on as a screen reader has it
  (QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 on the session's accessibility bus, and
  a client listening to the events a screen reader follows);
- with --floor, panel_floor: the least a Qt Widgets program spends to read
  this line and show it as a list within 50 ms. Its share is the floor the
  platform puts under any such program; the panel's figure over it is the
  part that is the panel's own.

A figure is a process's own CPU time (every thread's run time from
/proc/PID/task/TID/schedstat, in nanoseconds) over wall time, taken for every
second of the measured stretch; the figure given is the median of those
one-second shares, with the mean over the whole stretch (utime + stime of
/proc/PID/stat) beside it. A virtual machine's host now and then runs
everything several times slower for some seconds: that moves a mean and the
figures of runs made one after the other, but neither the median nor the
ratio of programs measured in the same seconds. The goals are judged on the
median.

Usage: bench_panel_process.py VELTRA_UTILITY [--floor PANEL_FLOOR] [--seconds N]
Exit 0 when every program was measured (or the desktop could not be
started: then it says SKIPPED); 1 when one did not start or ended early.
"""
import argparse
import os
import select
import statistics
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ beside the sources
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "atspi"))
import desktop  # noqa: E402  the test desktop: Xvfb, the accessibility bus, COM1 on a pty

BAUD = 19200
# A Fast status reply; the panel decodes and lists every byte of it.
REPLY = bytes([0xCC, 0xAA, 0xDC, 0x00, 0xA0, 0xB0, 0x00, 0x00, 0x00, 0x00,
               0x00, 0x21, 0x05, 0x07, 0x45, 0x67, 0xF3, 0x00, 0x0A, 0x0D])
WARM_UP = 3.0  # seconds of the stream before the measured stretch
GOALS = {"accessibility off": 1.0, "accessibility on": 1.5}  # % of one core


# A screen reader's ears: the bridge sends only the events someone on the
# accessibility bus listens to, so the run with accessibility on has a
# listener for what a screen reader follows (Orca registers for these).
LISTENER = """
import pyatspi
pyatspi.Registry.registerEventListener(lambda event: None, "object", "focus", "window", "document")
pyatspi.Registry.start()
"""


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        # The command name may hold spaces: the fields start after its ')'.
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def thread_run_times(pid):
    """Nanoseconds each live thread of the process has run."""
    times = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                times[tid] = int(f.read().split()[0])
        except OSError:
            pass  # ended meanwhile
    return times


def window_share(before, after, seconds):
    """% of a core the threads alive at both ends ran between the two samples."""
    ran = sum(after[tid] - before[tid] for tid in after.keys() & before.keys())
    return 100.0 * ran / 1e9 / seconds


def drain(fd):
    while select.select([fd], [], [], 0)[0]:
        os.read(fd, 4096)


class Subject:
    """One program under measurement, on a line of its own."""

    def __init__(self, label, argv, env, panel):
        self.label = label
        self.com1, device = desktop.controller_pty()
        self.proc = subprocess.Popen(argv(device), env=env, **desktop.QUIET)
        self.panel = panel
        self.shares = []

    def start_up(self):
        # The panel: Online answered, the status read on becoming ready
        # answered. The floor sends nothing; the warm-up covers its start.
        if not self.panel:
            return
        if desktop.receive(self.com1, 1) != b"\xee":
            raise AssertionError(f"{self.label}: the panel sent no Online at start-up")
        os.write(self.com1, b"\xee")
        if desktop.receive(self.com1, 1) != b"\xcc":
            raise AssertionError(f"{self.label}: the panel did not read the status on becoming ready")


def measure(subjects, seconds):
    """The stream to every subject at once; each one's one-second shares
    in `shares`, and the mean over the stretch returned by label."""
    per_reply = len(REPLY) * 10 / BAUD
    start = time.monotonic()
    sent = 0
    cpu0 = {}
    window_start = None
    times = {}
    end = start + WARM_UP + seconds
    while True:
        now = time.monotonic()
        if window_start is None and now >= start + WARM_UP:
            window_start = now
            for s in subjects:
                cpu0[s] = cpu_seconds(s.proc.pid)
                times[s] = thread_run_times(s.proc.pid)
        elif window_start is not None and now >= window_start + 1.0:
            for s in subjects:
                later = thread_run_times(s.proc.pid)
                s.shares.append(window_share(times[s], later, now - window_start))
                times[s] = later
            window_start = now
        if now >= end:
            break
        # Every reply due by now, as the wire would have delivered it.
        due = int((now - start) / per_reply) + 1
        while sent < due:
            for s in subjects:
                os.write(s.com1, REPLY)
            sent += 1
        for s in subjects:
            drain(s.com1)
            if s.proc.poll() is not None:
                raise AssertionError(f"{s.label}: ended during the stream (status {s.proc.returncode})")
        time.sleep(max(0.0, start + sent * per_reply - time.monotonic()))
    wall = time.monotonic() - (start + WARM_UP)
    return {s.label: 100.0 * (cpu_seconds(s.proc.pid) - cpu0[s]) / wall for s in subjects}


def run(args, display, workdir):
    """Starts the programs, measures them together, prints the figures;
    returns whether all went well."""
    procs = []
    try:
        plain = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb",
                     XDG_CONFIG_HOME=os.path.join(workdir, "plain"))
        plain.pop("WAYLAND_DISPLAY", None)
        for name in ("QT_ACCESSIBILITY", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "NO_AT_BRIDGE"):
            plain.pop(name, None)
        accessible = desktop.panel_env(display, XDG_CONFIG_HOME=os.path.join(workdir, "accessible"))

        subjects = []
        if args.floor:
            subjects.append(Subject("the floor", lambda device: [args.floor, device], plain, panel=False))
        subjects.append(Subject("accessibility off", lambda device: desktop.panel_args(args.program, device),
                                plain, panel=True))
        # The listener comes after the panel without accessibility has
        # started, so that one starts as on a desktop without a screen reader.
        listener = subprocess.Popen(["/usr/bin/python3", "-c", LISTENER], env=accessible, **desktop.QUIET)
        procs.append(listener)
        subjects.append(Subject("accessibility on", lambda device: desktop.panel_args(args.program, device),
                                accessible, panel=True))
        procs.extend(s.proc for s in subjects)
        for s in subjects:
            s.start_up()

        means = measure(subjects, args.seconds)
        if listener.poll() is not None:
            raise AssertionError("the event listener on the accessibility bus ended (python3-pyatspi missing?)")
    except AssertionError as e:
        print(f"  FAILED: {e}")
        return False
    finally:
        desktop.stop(procs)

    floor = subjects[0] if args.floor else None
    for s in subjects:
        share = statistics.median(s.shares)
        # The same figure per reply: CPU time the program spends on each.
        per_reply_us = share / 100 * len(REPLY) * 10 / BAUD * 1e6
        line = (f"  {s.label}: {share:.2f}% of a core, the median of {len(s.shares)} one-second shares"
                f" ({per_reply_us:.0f} us a reply; {means[s.label]:.2f}% over the whole stretch)")
        if s is floor:
            line += "; a Qt program that only reads the line and shows it as a list (panel_floor)"
        else:
            goal = GOALS[s.label]
            line += f", goal {goal:g}%: {share / goal:.2f} of it{'' if share <= goal else '  -- over the goal'}"
            if floor:
                # Second by second, as both ran in the same seconds.
                ratio = statistics.median(a / b for a, b in zip(s.shares, floor.shares) if b > 0)
                line += f"; {ratio:.2f} times the floor"
        print(line)
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("--floor", help="panel_floor, measured beside the panel as the floor under its figures")
    parser.add_argument("--seconds", type=float, default=20.0, help="measured stretch")
    args = parser.parse_args()
    if (status := desktop.in_own_session("VELTRA_BENCH_SESSION")) is not None:
        return status

    def skip(why):
        print(f"SKIPPED: {why}")
        sys.exit(0)
    desktop.skip = skip

    procs = []
    with tempfile.TemporaryDirectory(prefix="veltra-bench-") as workdir:
        try:
            display = desktop.start_display(procs)
            desktop.start_accessibility_bus(procs)
            print(f"the panel process at {BAUD} baud of status replies ({BAUD // (10 * len(REPLY))} a second) "
                  f"on Xvfb, {args.seconds:g} s after {WARM_UP:g} s of warm-up, the programs side by side:")
            ok = run(args, display, workdir)
        finally:
            desktop.stop(procs)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
