"""Network ports against servers of the test's own on 127.0.0.1: an RFC 2217
server that puts a line of its own in place, and one that floods its
negotiation and never reads."""

import contextlib
import json
import logging
import os
import socket
import subprocess
import sys
import threading
import time

import pytest

import veltra
from conftest import WAIT

IAC, SE, SB, DO, DONT = 0xFF, 0xF0, 0xFA, 0xFD, 0xFE
COM_PORT = 44


@contextlib.contextmanager
def serving(handle):
    """A listener on 127.0.0.1 whose connections `handle(conn, stop)` serves
    in a thread each; yields its port."""
    listener = socket.create_server(("127.0.0.1", 0))
    listener.settimeout(0.05)
    stop = threading.Event()
    threads = []

    def accept():
        while not stop.is_set():
            try:
                conn, _ = listener.accept()
            except OSError:
                continue
            t = threading.Thread(target=handle, args=(conn, stop), daemon=True)
            t.start()
            threads.append(t)

    acceptor = threading.Thread(target=accept, daemon=True)
    acceptor.start()
    try:
        yield listener.getsockname()[1]
    finally:
        stop.set()
        acceptor.join(WAIT)
        for t in threads:
            t.join(WAIT)
        listener.close()


def own_line_server(conn, stop):
    """Agrees to the option; answers 1200 baud, 5 data bits, parity 9 and 7
    stop bits whatever is asked; echoes the Online byte."""
    own = {1: (1200).to_bytes(4, "big"), 2: b"\x05", 3: b"\x09", 4: b"\x07"}
    conn.settimeout(0.05)
    conn.sendall(bytes([IAC, DO, COM_PORT]))
    pending, sb = b"", None
    while not stop.is_set():
        try:
            got = conn.recv(4096)
        except socket.timeout:
            continue
        if not got:
            break
        pending += got
        i = 0
        while i < len(pending):
            b = pending[i]
            if sb is not None:  # inside IAC SB: up to IAC SE
                if b == IAC and i + 1 < len(pending) and pending[i + 1] == SE:
                    if len(sb) >= 2 and sb[0] == COM_PORT and sb[1] in own:
                        value = own[sb[1]].replace(b"\xff", b"\xff\xff")
                        conn.sendall(bytes([IAC, SB, COM_PORT, sb[1] + 100]) + value + bytes([IAC, SE]))
                    sb, i = None, i + 2
                elif b == IAC and i + 1 >= len(pending):
                    break  # the rest comes later
                else:
                    sb += bytes([b])
                    i += 2 if b == IAC else 1
            elif b == IAC:
                if i + 1 >= len(pending):
                    break
                verb = pending[i + 1]
                if verb == SB:
                    sb, i = b"", i + 2
                elif verb == IAC:
                    i += 2
                else:
                    if i + 2 >= len(pending):
                        break
                    i += 3  # WILL/WONT/DO/DONT and its option: nothing to say
            else:
                if b == 0xEE:
                    conn.sendall(b"\xee")
                i += 1
        pending = pending[i:]
    conn.close()


def test_line_the_server_put_in_place_is_told_and_readable(caplog):
    caplog.set_level(logging.WARNING, logger="veltra")
    with serving(own_line_server) as port:
        url = "rfc2217://127.0.0.1:%d" % port
        with veltra.Controller(url, baud=19200) as c:
            assert c.line_settings == veltra.LineSettings(1200, 5, "unknown (9)", "unknown (7)")
            assert c.online()
        warned = [r.getMessage() for r in caplog.records if r.name == "veltra" and r.levelname == "WARNING"]
        assert warned == [url + ": The server set 1200 baud instead of 19200 baud.",
                          url + ": The server set 5 data bits instead of 8 data bits.",
                          url + ": The server set parity unknown (9) instead of parity none.",
                          url + ": The server set stop bits unknown (7) instead of 1 stop bits."]

        veltractl = os.environ.get("VELTRACTL", "veltractl")
        for extra in ([], ["--json"]):
            done = subprocess.run([veltractl, "--device", url, "--baud", "19200", *extra, "online"],
                                  capture_output=True, text=True, timeout=WAIT)
            assert done.returncode == 0, done.stderr
            assert "veltractl: warning: The server set 1200 baud instead of 19200 baud.\n" in done.stderr
            assert "parity unknown (9)" in done.stderr
        result = json.loads(done.stdout)
        assert result["online"] is True
        assert result["line_settings"] == {"baud": 1200, "data_bits": 5, "parity": "unknown (9)",
                                           "stop_bits": "unknown (7)"}
        assert len(result["warnings"]) == 4


def test_a_serial_line_reads_as_opened(sim):
    with veltra.Controller(sim, baud=19200) as c:
        assert c.line_settings == veltra.LineSettings(19200, 8, "none", "1")
    assert c.line_settings is None


def flood(conn, stop):
    """COM-PORT-OPTION toggled as fast as the connection takes it; nothing read."""
    toggles = bytes([IAC, DO, COM_PORT, IAC, DONT, COM_PORT]) * 4096
    conn.settimeout(0.05)
    while not stop.is_set():
        try:
            conn.sendall(toggles)
        except socket.timeout:
            continue
        except OSError:
            break
    conn.close()


def resident_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def test_an_idle_controller_stays_small_under_a_toggle_flood():
    if not os.path.exists("/proc/self/status"):
        pytest.skip("no /proc to read a process's size from")
    with serving(flood) as port:
        # The script opens and then waits, idle, until the test closes its input.
        script = "import sys, veltra\nc = veltra.Controller(sys.argv[1])\nprint('open', flush=True)\nsys.stdin.read()\n"
        proc = subprocess.Popen([sys.executable, "-c", script, "rfc2217://127.0.0.1:%d" % port],
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        try:
            assert proc.stdout.readline() == "open\n"
            peak, until = 0, time.monotonic() + 3
            while time.monotonic() < until:
                peak = max(peak, resident_kib(proc.pid))
                with contextlib.suppress(subprocess.TimeoutExpired):
                    proc.wait(0.05)
                assert proc.returncode is None, "the script ended under the flood"
        finally:
            proc.stdin.close()
            proc.wait(WAIT)
    assert peak < int(os.environ.get("VELTRA_MEMORY_BOUND_KIB", 64 * 1024)), "%d KiB" % peak
