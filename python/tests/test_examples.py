"""The scripts in examples/ run as they are against veltra-sim, as a user
would start them: VELTRA_DEVICE set to the simulator's terminal (or no
device at all with --simulate), veltractl on PATH."""

import contextlib
import os
import re
import subprocess
import sys

import pytest

from conftest import running_sim

EXAMPLES = os.environ.get("VELTRA_EXAMPLES", os.path.join(os.path.dirname(__file__), "..", "..", "examples"))
VELTRACTL = os.environ.get("VELTRACTL", "veltractl")

CYCLE = r"cycle (\d): open (\d+) ms, (\d) left"

# The command, whether it gets a simulator's terminal as VELTRA_DEVICE, and
# what its output must hold, line by line (regular expressions, in order).
RUNS = [
    (["sh", "rig-settings.sh", "rig.cfg"], True,
     [r"mode: done, read back", r"repeat: done, read back", r"wrote rig\.cfg", r"restore-defaults: done",
      r"apply rig\.cfg: done, every field read back", r"cycle time 00:00:00\.490\.0", r"open", r"close",
      r"close"]),
    ([sys.executable, "acquire.py"], True,
     [r"frame %d: exposed for 20\.0 ms" % n for n in range(1, 6)]
     + [r"Status\(shutter='close', mode='fast'.*exposure=datetime\.timedelta\(microseconds=20000\)"]),
    ([sys.executable, "timed_run.py", "--cycles", "2", "--traffic", "traffic.log"], True,
     [r"2 cycles of 274\.0 ms on /", CYCLE, CYCLE]),
    ([sys.executable, "timed_run.py", "--simulate", "--cycles", "3", "--exposure-ms", "50"], False,
     [r"3 cycles of 124\.0 ms on /", CYCLE, CYCLE, CYCLE]),
]


def in_order(lines, patterns):
    """The first line past the last match for each pattern, or the pattern none matched."""
    at = 0
    for pattern in patterns:
        while at < len(lines) and not re.search(pattern, lines[at]):
            at += 1
        if at == len(lines):
            return pattern
        at += 1
    return None


@pytest.mark.parametrize("command,device,expected", RUNS, ids=[" ".join(c[1:2] + c[3:4]) for c, _, _ in RUNS])
def test_example_runs_against_the_simulator(tmp_path, command, device, expected):
    command = [command[0], os.path.join(os.path.abspath(EXAMPLES), command[1]), *command[2:]]
    env = {k: v for k, v in os.environ.items() if k != "VELTRA_DEVICE"}
    env["PATH"] = os.path.dirname(os.path.abspath(VELTRACTL)) + os.pathsep + env.get("PATH", "")
    with running_sim() if device else contextlib.nullcontext((None, None)) as (_, path):
        if device:
            env["VELTRA_DEVICE"] = path
        run = subprocess.run(command, env=env, cwd=tmp_path, capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stdout + run.stderr
    lines = run.stdout.splitlines()
    assert in_order(lines, expected) is None, "no line matching %r in:\n%s" % (in_order(lines, expected), run.stdout)
    cycles = [m.groups() for m in map(re.compile(CYCLE).search, lines) if m]
    assert [int(c) for c, _, _ in cycles] == list(range(1, len(cycles) + 1))
    assert [int(left) for _, _, left in cycles] == list(range(len(cycles) - 1, -1, -1))
    if "--traffic" in command:
        traffic = (tmp_path / "traffic.log").read_text()
        assert re.search(r" TX /dev/\S+ FA F3$", traffic, re.M), traffic  # the Go
        assert [int(ms) for _, ms, _ in cycles] and all(int(ms) >= 200 for _, ms, _ in cycles)


def test_every_example_is_run_above_and_executable():
    run = {c[1] for c, _, _ in RUNS}
    for name in os.listdir(EXAMPLES):
        assert name in run, "examples/%s is not run by this test" % name
        assert os.access(os.path.join(EXAMPLES, name), os.X_OK), "examples/%s is not executable" % name
