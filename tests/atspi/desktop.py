"""A desktop of our own for the end-to-end tests of tests/atspi: Xvfb, the
accessibility bus, the test's own D-Bus session, waiting on conditions and
the controller's side of COM1 on a pseudo-terminal.
"""
import os
import select
import shutil
import socket
import subprocess
import sys
import time
import tty

WAIT = 20.0  # seconds any one condition may take
QUIET = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
# Set by a test that must not skip (under CI): what would skip fails instead.
REQUIRED = False


def skip(why):
    if REQUIRED:
        print(f"FAILED: {why} (CI is set, so this cannot be skipped)")
        sys.exit(1)
    print(f"SKIPPED: {why}")
    sys.exit(77)


def wait_for(what, condition, timeout=WAIT):
    """Polls `condition` until it returns a true value or the deadline passes."""
    deadline = time.monotonic() + timeout
    while not (value := condition()):
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)
    return value


def receive(fd, count, timeout=WAIT):
    got = b""
    deadline = time.monotonic() + timeout
    while len(got) < count and time.monotonic() < deadline:
        if select.select([fd], [], [], 0.05)[0]:
            got += os.read(fd, 256)
    return got


def accepts(socket_path):
    with socket.socket(socket.AF_UNIX) as s:
        return s.connect_ex(socket_path) == 0


def in_own_session(marker, **extra_env):
    """Runs this script again inside a D-Bus session of its own (so it sees only
    the programs it starts), with `extra_env` added, and returns its exit
    status; None when this already is that run."""
    if os.environ.get(marker):
        return None
    if not shutil.which("dbus-run-session"):
        skip("dbus-run-session is missing (install dbus)")
    env = dict(os.environ, **{marker: "1"}, **extra_env)
    return subprocess.call(["dbus-run-session", "--", sys.executable, *sys.argv], env=env)


def start_display(procs):
    if not shutil.which("Xvfb"):
        skip("Xvfb is missing (install xvfb): no display server can be started")
    # Xvfb takes the first display number whose sockets (the abstract one too,
    # which a server in another file-system view may hold) are free, and says which.
    r, w = os.pipe()
    procs.append(subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                  pass_fds=(w,), **QUIET))
    os.close(w)  # r stays open: Xvfb may write to it again, and a closed pipe would end it
    number = os.read(r, 32).decode().strip() if select.select([r], [], [], WAIT)[0] else ""
    if not number:
        skip("Xvfb did not start: no display server available")
    # The number comes a moment before the server takes clients.
    wait_for("Xvfb to take clients", lambda: accepts(f"/tmp/.X11-unix/X{number}"))
    return f":{number}"


def start_accessibility_bus(procs):
    for launcher in ("/usr/libexec/at-spi-bus-launcher", "/usr/lib/at-spi2-core/at-spi-bus-launcher"):
        if os.path.exists(launcher):
            procs.append(subprocess.Popen([launcher, "--launch-immediately"], **QUIET))
            return
    skip("at-spi-bus-launcher is missing (install at-spi2-core)")


def controller_pty():
    """COM1 on a pseudo-terminal: (the controller's side, the device the panel opens)."""
    com1, slave = os.openpty()
    tty.setraw(com1)
    return com1, os.ttyname(slave)


def panel_env(display, **extra):
    """The environment the panel runs in: on the display, on the accessibility bus."""
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", QT_ACCESSIBILITY="1",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", NO_AT_BRIDGE="0", **extra)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def panel_args(program, com1):
    ports = [f"1={com1}"] + [f"{n}=/nonexistent/veltra-com{n}" for n in (2, 3, 4)]
    return [program] + [a for p in ports for a in ("--port", p)]


def stop(procs):
    """Ends the processes in reverse order of start, each within a bound."""
    for p in reversed(procs):
        if p.poll() is None:
            p.terminate()
        try:
            p.wait(5)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
