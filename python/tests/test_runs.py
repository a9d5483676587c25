"""A run started with the shutter open counts its openings and closes after
the last: that closing report is the run's last, for wait_run() and for
veltractl run --wait alike."""

import datetime
import json
import os
import subprocess

import veltra
from conftest import WAIT

VELTRACTL = os.environ.get("VELTRACTL", "veltractl")
SHORT = datetime.timedelta(milliseconds=50)


def prepared(c, cycles):
    c.set_timer("delay", SHORT), c.set_timer("exposure", SHORT)
    c.open_shutter()
    c.repeat(cycles)


def test_wait_run_from_an_open_shutter_ends_with_the_final_close(sim):
    with veltra.Controller(sim, timeout=WAIT) as c:
        prepared(c, 2)
        c.run("go")
        reports = list(c.wait_run())
        assert [(r.cycle, r.cycles_left) for r in reports] == [(1, 1), (2, 0)]
        assert all(r.opened and r.closed and r.opened < r.closed for r in reports), reports
        assert c.status().shutter == "close"


def test_veltractl_run_wait_from_an_open_shutter_prints_the_final_close(sim):
    with veltra.Controller(sim, timeout=WAIT) as c:
        prepared(c, 2)
    r = subprocess.run([VELTRACTL, "--device", sim, "--json", "run", "go", "--wait"], capture_output=True, text=True,
                       timeout=WAIT * 2)
    assert r.returncode == 0, r.stderr
    events = [json.loads(line) for line in r.stdout.splitlines()]
    shutter = [e.get("shutter") for e in events if e.get("event") != "end"]
    assert shutter[-1] == "close" and events[-1]["event"] == "end", events
