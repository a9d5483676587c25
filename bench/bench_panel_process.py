#!/usr/bin/env python3
"""The panel at full line rate as an operator meets it: the whole
veltra-utility process (release build) on a real X server (Xvfb), COM1 on a
pseudo-terminal this script plays the controller on, sending status replies
back to back at 19,200 baud (20 bytes each, 10 bits a byte: 96 replies a
second). The figure is the process's own CPU time (utime + stime of
/proc/PID/stat, every thread) over the wall time of the measured stretch.

Run twice: without accessibility (the AT-SPI bus present but not enabled, as
on a desktop without a screen reader) and with it on as a screen reader has it
(QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 on the session's accessibility bus).

Usage: bench_panel_process.py VELTRA_UTILITY [--seconds N]
Exit 0 when both runs were measured (or the desktop could not be started:
then it says SKIPPED); 1 when the panel did not start or ended early.
"""
import argparse
import os
import select
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


def drain(fd):
    while select.select([fd], [], [], 0)[0]:
        os.read(fd, 4096)


def measure(program, display, accessible, seconds, workdir):
    """One run: the panel started, its start-up answered, then the stream;
    returns the process's CPU share in % of a core over `seconds`."""
    procs = []
    try:
        com1, device = desktop.controller_pty()
        env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb",
                   XDG_CONFIG_HOME=os.path.join(workdir, "config"))
        env.pop("WAYLAND_DISPLAY", None)
        for name in ("QT_ACCESSIBILITY", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "NO_AT_BRIDGE"):
            env.pop(name, None)
        if accessible:
            env = desktop.panel_env(display, XDG_CONFIG_HOME=env["XDG_CONFIG_HOME"])
            listener = subprocess.Popen(["/usr/bin/python3", "-c", LISTENER], env=env, **desktop.QUIET)
            procs.append(listener)
        panel = subprocess.Popen(desktop.panel_args(program, device), env=env, **desktop.QUIET)
        procs.append(panel)
        # Start-up: Online answered, the status read on becoming ready answered.
        if desktop.receive(com1, 1) != b"\xee":
            raise AssertionError("the panel sent no Online at start-up")
        os.write(com1, b"\xee")
        if desktop.receive(com1, 1) != b"\xcc":
            raise AssertionError("the panel did not read the status on becoming ready")

        per_reply = len(REPLY) * 10 / BAUD
        start = time.monotonic()
        sent = 0
        cpu0 = wall0 = None
        end = start + WARM_UP + seconds
        while True:
            now = time.monotonic()
            if cpu0 is None and now >= start + WARM_UP:
                cpu0, wall0 = cpu_seconds(panel.pid), time.monotonic()
            if now >= end:
                break
            # Every reply due by now, as the wire would have delivered it.
            due = int((now - start) / per_reply) + 1
            while sent < due:
                os.write(com1, REPLY)
                sent += 1
            drain(com1)
            if panel.poll() is not None:
                raise AssertionError(f"the panel ended during the stream (status {panel.returncode})")
            time.sleep(max(0.0, start + sent * per_reply - time.monotonic()))
        cpu1, wall1 = cpu_seconds(panel.pid), time.monotonic()
        if accessible and listener.poll() is not None:
            raise AssertionError("the event listener on the accessibility bus ended (python3-pyatspi missing?)")
        return 100.0 * (cpu1 - cpu0) / (wall1 - wall0)
    finally:
        desktop.stop(procs)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("--seconds", type=float, default=20.0, help="measured stretch of each run")
    args = parser.parse_args()
    if (status := desktop.in_own_session("VELTRA_BENCH_SESSION")) is not None:
        return status

    def skip(why):
        print(f"SKIPPED: {why}")
        sys.exit(0)
    desktop.skip = skip

    procs = []
    failed = False
    with tempfile.TemporaryDirectory(prefix="veltra-bench-") as workdir:
        try:
            display = desktop.start_display(procs)
            desktop.start_accessibility_bus(procs)
            print(f"the panel process at {BAUD} baud of status replies ({BAUD // (10 * len(REPLY))} a second) "
                  f"on Xvfb, {args.seconds:g} s after {WARM_UP:g} s of warm-up:")
            for label, accessible in (("accessibility off", False), ("accessibility on", True)):
                try:
                    share = measure(args.program, display, accessible, args.seconds, workdir)
                except AssertionError as e:
                    print(f"  {label}: FAILED: {e}")
                    failed = True
                    continue
                goal = GOALS[label]
                # The same figure per reply: CPU time the panel spends on each.
                per_reply_us = share / 100 * len(REPLY) * 10 / BAUD * 1e6
                print(f"  {label}: {share:.2f}% of a core ({per_reply_us:.0f} us a reply), goal {goal:g}%:"
                      f" {share / goal:.2f} of it{'' if share <= goal else '  -- over the goal'}")
        finally:
            desktop.stop(procs)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
