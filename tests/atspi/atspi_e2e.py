#!/usr/bin/env python3
"""The real program through the desktop's accessibility bus (AT-SPI), as a
screen reader or an automation tool sees it: under Xvfb, in its own D-Bus
session, with COM1 on a pseudo-terminal this script plays the controller on.

Usage: atspi_e2e.py VELTRA_UTILITY
Exit 0: passed; 1: failed; 77: skipped (no display server can be started,
or the accessibility bus or its Python bindings are missing).
"""
import os
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # no __pycache__ beside the sources
from desktop import (controller_pty, in_own_session, panel_args, panel_env, receive, skip,
                     start_accessibility_bus, start_display, stop, wait_for)

try:
    import pyatspi
except ImportError:
    pyatspi = None

FAILURES = []


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    if (status := in_own_session("VELTRA_ATSPI_SESSION")) is not None:
        return status
    if not pyatspi:
        skip("python3-pyatspi is missing")
    procs, log = [], tempfile.TemporaryFile()
    try:
        display = start_display(procs)
        start_accessibility_bus(procs)
        com1, device = controller_pty()
        procs.append(subprocess.Popen(panel_args(sys.argv[1], device), env=panel_env(display), stdout=log, stderr=log))
        checks(com1)
    except AssertionError as e:
        FAILURES.append(str(e))
    finally:
        stop(procs)
    if FAILURES:
        log.seek(0)
        print("veltra-utility said:\n" + log.read().decode(errors="replace"))
    for f in FAILURES:
        print("FAILED:", f)
    print("atspi e2e:", "passed" if not FAILURES else f"{len(FAILURES)} failure(s)")
    return 1 if FAILURES else 0


def check(what, got, want):
    if got != want:
        FAILURES.append(f"{what}: got {got!r}, want {want!r}")


def find_all(pred, root=None):
    """The nodes under `root` (the whole desktop: only this program is on our bus) that `pred` holds for."""
    found, stack = [], [root or pyatspi.Registry.getDesktop(0)]
    while stack:
        node = stack.pop()
        try:
            if pred(node):
                found.append(node)
            if node.getRole() != pyatspi.ROLE_LIST:  # rows are read on purpose, not walked
                stack.extend(node.getChildAtIndex(i) for i in range(node.childCount))
        except Exception:  # a node gone meanwhile, or None
            continue
    return found


def named(root, name, role=None):
    return find_all(lambda n: n.name == name and role in (None, n.getRole()), root)


def one(root, name, role=None):
    nodes = named(root, name, role)
    if len(nodes) != 1:
        raise AssertionError(f"{len(nodes)} controls named {name!r}")
    return nodes[0]


def act(root, name):
    one(root, name).queryAction().doAction(0)


def checks(com1):
    check("Online at start-up", receive(com1, 1), b"\xee")
    os.write(com1, b"\xee")
    panel = wait_for("the panel on the accessibility bus", lambda: named(None, "Veltra Utility - COM v1.12"))[0]
    wait_for("COM1 ready", lambda: find_all(lambda n: n.name == "COM1 status"
                                            and "Ready for Veltra" in n.queryText().getText(0, -1), panel))
    check("Status on becoming ready", receive(com1, 1), b"\xcc")

    # Acting through the bus is clicking (a radio, a check box, a button; every
    # control: the in-process accessible action test).
    for name, want in [("Close", b"\xac"), ("Trigger Pulse ->>", b"\xfa\xa0"), ("Status", b"\xcc")]:
        act(panel, name)
        check(f"action of {name!r}", receive(com1, len(want)).hex(" "), want.hex(" "))

    # A status reply (Soft, a delay and an exposure time): the labels report their new texts.
    os.write(com1, bytes([0xCC, 0xAA, 0xDD, 0x00, 0xA0, 0xB0, 0x10, 0x02, 0x03, 0x12, 0x34, 0x21, 0x05, 0x07, 0x45,
                          0x67, 0xF3, 0x00, 0x0A, 0x0D]))
    for text, count in (("00 : 02 : 03 : 123 : 4", 1), ("01 : 05 : 07 : 456 : 7", 1), ("70 ms", 2),
                        ("Cycle Time  -  01 : 07 : 10 : 720 : 1", 1)):
        wait_for(f"{count} label(s) reading {text!r}", lambda: len(named(panel, text, pyatspi.ROLE_LABEL)) == count)

    # Neutral Density with 18 steps, through the steps dialog.
    act(panel, "Neutral Density")
    dialog = wait_for("the steps dialog", lambda: named(None, "Neutral Density Shutter Steps"))[0]
    one(dialog, "Please Enter Steps Between 1-144:", pyatspi.ROLE_TEXT).queryEditableText().setTextContents("18")
    act(dialog, "OK")
    check("Neutral Density 18", receive(com1, 2).hex(" "), "de 12")
    wait_for("'Neutral Density - 18'", lambda: named(panel, "Neutral Density - 18", pyatspi.ROLE_RADIO_BUTTON))
    check("'4.8 ms' labels", len(named(panel, "4.8 ms", pyatspi.ROLE_LABEL)), 2)

    # The received-data list: one row per received byte, with the list's texts; "Clear" empties it.
    lst = one(panel, "Data Received from Controller:", pyatspi.ROLE_LIST)
    wait_for("21 rows", lambda: lst.childCount == 21 and lst.queryTable().nRows == 21)
    check("row 1", (lst.getChildAtIndex(1).name, lst.getChildAtIndex(1).getRoleName()), ("204       0xCC", "list item"))
    act(panel, "Clear")
    wait_for("an empty list after 'Clear'", lambda: lst.childCount == 0)


if __name__ == "__main__":
    sys.exit(main())
