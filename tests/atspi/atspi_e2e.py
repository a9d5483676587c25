#!/usr/bin/env python3
"""The real program through the desktop's accessibility bus (AT-SPI), as a
screen reader or an automation tool sees it: under Xvfb, in its own D-Bus
session, with COM1 on a pseudo-terminal this script plays the controller on.

Usage: atspi_e2e.py VELTRA_UTILITY
Exit 0: passed; 1: failed; 77: skipped (no display server can be started,
or the accessibility bus or its Python bindings are missing).
"""
import os
import random
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import tty

SKIP = 77
WAIT = 20.0  # seconds any one condition may take


def skip(why):
    print(f"SKIPPED: {why}")
    sys.exit(SKIP)


def wait_for(what, condition, timeout=WAIT):
    """Polls `condition` until it returns a true value or the deadline passes."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    utility = sys.argv[1]
    if not os.environ.get("VELTRA_ATSPI_SESSION"):
        # Our own session bus, so the test sees only this program.
        if not shutil.which("dbus-run-session"):
            skip("dbus-run-session is missing (install dbus)")
        env = dict(os.environ, VELTRA_ATSPI_SESSION="1")
        return subprocess.call(["dbus-run-session", "--", sys.executable, __file__, utility], env=env)
    return run(utility)


class Session:
    def __init__(self):
        self.procs = []
        self.fds = []

    def start(self, args, **kw):
        p = subprocess.Popen(args, **kw)
        self.procs.append(p)
        return p

    def close(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        for fd in self.fds:
            os.close(fd)


def accepts(socket_path):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        try:
            s.connect(socket_path)
            return True
        except OSError:
            return False


def start_display(session):
    xvfb = shutil.which("Xvfb")
    if not xvfb:
        skip("Xvfb is missing (install xvfb): no display server can be started")
    # A display number of our own; one another server holds (perhaps in
    # another file-system view, sharing only its abstract socket) makes
    # Xvfb exit, and the next number is tried.
    for number in random.sample(range(100, 1000), 8):
        r, w = os.pipe()
        p = session.start([xvfb, f":{number}", "-displayfd", str(w), "-screen", "0", "1280x1024x24",
                           "-nolisten", "tcp"], pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        ready, _, _ = select.select([r], [], [], WAIT)
        written = os.read(r, 32).decode().strip() if ready else ""
        # Kept open: Xvfb may write to it again, and a closed pipe would end it.
        session.fds.append(r)
        if written == str(number) and p.poll() is None:
            # The number comes a moment before the server takes clients.
            wait_for("Xvfb to take clients", lambda: accepts(f"/tmp/.X11-unix/X{number}") or p.poll() is not None)
            if p.poll() is None:
                return f":{number}"
        if p.poll() is None:
            p.kill()
        p.wait()
    skip("Xvfb did not start: no display server available")


def start_accessibility_bus(session):
    for launcher in ("/usr/libexec/at-spi-bus-launcher", "/usr/lib/at-spi2-core/at-spi-bus-launcher"):
        if os.path.exists(launcher):
            session.start([launcher, "--launch-immediately"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            return
    skip("at-spi-bus-launcher is missing (install at-spi2-core)")


class Controller:
    """The controller's side of COM1: a raw pseudo-terminal master."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.master)
        self.path = os.ttyname(self.slave)

    def receive(self, count, timeout=WAIT):
        got = b""
        deadline = time.monotonic() + timeout
        while len(got) < count and time.monotonic() < deadline:
            ready, _, _ = select.select([self.master], [], [], 0.05)
            if ready:
                got += os.read(self.master, 256)
        return got

    def send(self, data):
        os.write(self.master, data)


def run(utility):
    try:
        import pyatspi
    except ImportError:
        skip("python3-pyatspi is missing")
    session = Session()
    failures = []
    log = None
    try:
        display = start_display(session)
        start_accessibility_bus(session)
        com1 = Controller()
        env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", QT_ACCESSIBILITY="1",
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", NO_AT_BRIDGE="0")
        env.pop("WAYLAND_DISPLAY", None)
        log = tempfile.TemporaryFile()
        session.start([utility, "--port", f"1={com1.path}", "--port", "2=/nonexistent/veltra-com2",
                       "--port", "3=/nonexistent/veltra-com3", "--port", "4=/nonexistent/veltra-com4"],
                      env=env, stdout=log, stderr=log)
        Checks(pyatspi, com1, failures).run()
    except AssertionError as e:
        failures.append(str(e))
    finally:
        session.close()
    if failures and log:
        log.seek(0)
        print("veltra-utility said:\n" + log.read().decode(errors="replace"))
    for f in failures:
        print("FAILED:", f)
    print("atspi e2e:", "passed" if not failures else f"{len(failures)} failure(s)")
    return 1 if failures else 0


class Checks:
    RADIOS = ["Open", "Close", "Fast", "Soft", "Neutral Density", "High for Open", "Low for Open",
              "On Power Up", "On Trigger Pulse --->", "Go ------------------------->", "Enable on High",
              "Enable on Low", "Trigger on Rising Edge", "Trigger on Falling Edge"]

    def __init__(self, pyatspi, com1, failures):
        self.a = pyatspi
        self.com1 = com1
        self.failures = failures

    def check(self, what, got, want):
        if got != want:
            self.failures.append(f"{what}: got {got!r}, want {want!r}")

    def app(self):
        desktop = self.a.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            child = desktop.getChildAtIndex(i)
            if child is not None and child.name == "veltra-utility":
                return child
        return None

    def find_all(self, root, pred):
        found = []
        stack = [root]
        while stack:
            node = stack.pop()
            if node is None:
                continue
            try:
                if pred(node):
                    found.append(node)
                if node.getRole() != self.a.ROLE_LIST:  # rows are read on purpose, not walked
                    stack.extend(node.getChildAtIndex(i) for i in range(node.childCount))
            except Exception:
                continue
        return found

    def panel(self):
        app = self.app()
        if not app:
            return None
        frames = self.find_all(app, lambda n: n.name == "Veltra Utility - COM v1.12")
        return frames[0] if frames else None

    def one(self, root, name, role=None):
        nodes = self.find_all(root, lambda n: n.name == name and (role is None or n.getRole() == role))
        if len(nodes) != 1:
            raise AssertionError(f"{len(nodes)} controls named {name!r}")
        return nodes[0]

    def act(self, node):
        action = node.queryAction()
        action.doAction(0)

    def expect_bytes(self, what, want):
        self.check(what, self.com1.receive(len(want)).hex(" "), want.hex(" "))

    def run(self):
        a = self.a
        self.check("Online at start-up", self.com1.receive(1), b"\xee")
        self.com1.send(b"\xee")
        panel = wait_for("the panel on the accessibility bus", self.panel)
        wait_for("COM1 ready", lambda: self.find_all(panel, lambda n: n.name == "COM1 status"
                                                     and "Ready for Veltra" in n.queryText().getText(0, -1)))

        for name in self.RADIOS:
            self.check(f"role of {name!r}", self.one(panel, name).getRoleName(), "radio button")
        for name in ("Trigger Pulse ->>", "SYNC Pulse ->>"):
            self.check(f"role of {name!r}", self.one(panel, name).getRoleName(), "check box")

        # Acting through the interface is clicking: the same bytes go out.
        for name, want in [("Open", b"\xaa"), ("Open", b"\xaa"), ("Close", b"\xac"), ("Enable on Low", b"\xfa\xa2"),
                           ("Trigger Pulse ->>", b"\xfa\xa0"), ("Trigger Pulse ->>", b"\xfa\xa1"),
                           ("SYNC Pulse ->>", b"\xfa\xb0"), ("SYNC Pulse ->>", b"\xfa\xb2"),
                           ("High for Open", b"\xfa\xb1"), ("Soft", b"\xdd"), ("Status", b"\xcc")]:
            self.act(self.one(panel, name))
            self.expect_bytes(f"action of {name!r}", want)
        open_state = self.one(panel, "Open").getState()
        self.check("'Open' after 'Close'", open_state.contains(a.STATE_CHECKED), False)

        # A status reply (Soft, a delay and an exposure time): the labels
        # report their new texts.
        self.com1.send(bytes([0xCC, 0xAA, 0xDD, 0x00, 0xA0, 0xB0, 0x10, 0x02, 0x03, 0x12, 0x34, 0x21, 0x05, 0x07,
                              0x45, 0x67, 0xF3, 0x00, 0x0A, 0x0D]))
        for text, count in (("00 : 02 : 03 : 123 : 4", 1), ("01 : 05 : 07 : 456 : 7", 1), ("70 ms", 2),
                            ("Cycle Time  -  01 : 07 : 10 : 720 : 1", 1)):
            wait_for(f"{count} label(s) reading {text!r}", lambda: len(self.find_all(
                panel, lambda n: n.name == text and n.getRole() == a.ROLE_LABEL)) == count)

        # Neutral Density with 18 steps, through the steps dialog.
        self.act(self.one(panel, "Neutral Density"))
        app = self.app()
        dialog = wait_for("the steps dialog", lambda: self.find_all(
            app, lambda n: n.name == "Neutral Density Shutter Steps"))[0]
        edit = self.one(dialog, "Please Enter Steps Between 1-144:", a.ROLE_TEXT)
        edit.queryEditableText().setTextContents("18")
        self.act(self.one(dialog, "OK"))
        self.expect_bytes("Neutral Density 18", b"\xde\x12")
        wait_for("'Neutral Density - 18'", lambda: self.find_all(panel, lambda n: n.name == "Neutral Density - 18"
                                                                and n.getRole() == a.ROLE_RADIO_BUTTON))
        self.check("'4.8 ms' labels", len(self.find_all(panel, lambda n: n.name == "4.8 ms")), 2)

        # The received-data list: one row per received byte, with the list's texts.
        lst = self.one(panel, "Data Received from Controller:", a.ROLE_LIST)
        wait_for("21 rows", lambda: lst.childCount == 21)
        self.check("first row", lst.getChildAtIndex(0).name, "238       0xEE")
        self.check("role of a row", lst.getChildAtIndex(0).getRoleName(), "list item")
        self.check("rows in the table", lst.queryTable().nRows, 21)
        self.check("second row", lst.getChildAtIndex(1).name, "204       0xCC")
        lst.queryTable().addRowSelection(1)
        wait_for("row 1 selected", lambda: lst.getChildAtIndex(1).getState().contains(a.STATE_SELECTED))
        self.act(self.one(panel, "Clear"))
        wait_for("an empty list after 'Clear'", lambda: lst.childCount == 0)


if __name__ == "__main__":
    sys.exit(main())
