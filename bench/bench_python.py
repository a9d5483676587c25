#!/usr/bin/env python3
"""status() from Python against the C++ client's own status loop, in one run,
on one simulator that paces both directions like a 19200-baud wire; how
soon Ctrl+C ends a wait; and how much one Controller grows over a million
status reads (the bounded traffic() entries included).

    PYTHONPATH=build/release/python bench/bench_python.py --sim build/release/src/sim/veltra-sim
"""

import argparse
import os
import pty
import select
import signal
import statistics
import subprocess
import sys
import threading
import time
import tty

import veltra

BOUND = 1.05


def status_ratio(sim, rounds, n):
    proc = subprocess.Popen([sim, "--pace-baud", "19200"], stdout=subprocess.PIPE, text=True)
    path = proc.stdout.readline().strip()
    try:
        with veltra.Controller(path) as c:
            for _ in range(10):
                c.status()  # warm up both paths
            c._time_status(10)
            py, cpp = [], []
            for _ in range(rounds):  # interleaved, so drift hits both alike
                t0 = time.perf_counter()
                for _ in range(n):
                    c.status()
                py.append((time.perf_counter() - t0) / n)
                cpp.append(c._time_status(n) / n)
    finally:
        proc.terminate(), proc.wait(10)
    return statistics.median(py), statistics.median(cpp)


def interrupt_latency(tries):
    """Seconds from SIGINT to KeyboardInterrupt in the script, a wait on a silent line."""
    signal.signal(signal.SIGINT, signal.default_int_handler)  # a background job starts with it ignored
    master, slave = pty.openpty()
    tty.setraw(slave)
    path = os.ttyname(slave)
    out = []
    try:
        for _ in range(tries):
            sent = {}

            def kill_when_asked():
                if select.select([master], [], [], 10)[0] and os.read(master, 16):
                    sent["at"] = time.perf_counter()
                    os.kill(os.getpid(), signal.SIGINT)

            c = veltra.Controller(path, timeout=None)
            t = threading.Thread(target=kill_when_asked)
            t.start()
            try:
                c.status()
            except KeyboardInterrupt:
                out.append(time.perf_counter() - sent["at"])
            t.join()
            c.close()
    finally:
        os.close(master), os.close(slave)
    return out


MEMORY_BOUND = 8e6


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def memory_growth(sim, calls):
    """Bytes the process grew by over `calls` status reads of one Controller."""
    proc = subprocess.Popen([sim], stdout=subprocess.PIPE, text=True)
    path = proc.stdout.readline().strip()
    try:
        with veltra.Controller(path) as c:
            c._time_status(1000)  # warm up
            before = resident_bytes()
            seconds = c._time_status(calls)
            return resident_bytes() - before, seconds
    finally:
        proc.terminate(), proc.wait(10)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--sim", default="veltra-sim")
    ap.add_argument("--rounds", type=int, default=15)
    ap.add_argument("--n", type=int, default=40)
    ap.add_argument("--calls", type=int, default=1_000_000, help="status reads for the memory figure")
    a = ap.parse_args()
    py, cpp = status_ratio(a.sim, a.rounds, a.n)
    ratio = py / cpp
    print(f"status() at 19200 baud: Python {py * 1e3:.3f} ms, C++ client {cpp * 1e3:.3f} ms, "
          f"ratio {ratio:.4f} (bound {BOUND})")
    lat = interrupt_latency(10)
    print(f"Ctrl+C to KeyboardInterrupt: median {statistics.median(lat) * 1e3:.1f} ms, max {max(lat) * 1e3:.1f} ms "
          f"(bound 100 ms)")
    grown, seconds = memory_growth(a.sim, a.calls)
    print(f"{a.calls} status reads in one Controller: process +{grown / 1e6:.1f} MB in {seconds:.0f} s "
          f"(bound {MEMORY_BOUND / 1e6:.0f} MB)")
    ok = ratio <= BOUND and max(lat) <= 0.1 and grown <= MEMORY_BOUND
    print("bench_python:", "ok" if ok else "OVER BOUND")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
