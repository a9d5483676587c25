"""The package's version, and what it logs on the "veltra" logger."""

import logging
import os
import re
import subprocess
import sys

import pytest

import veltra
from conftest import WAIT

STAMP = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}"


def test_version_is_the_projects():
    with open(os.path.join(os.path.dirname(os.environ["VELTRA_README"]), "CMakeLists.txt")) as f:
        assert veltra.__version__ == re.search(r"project\(veltra_utility VERSION ([0-9.]+)", f.read()).group(1)


def records(caplog):
    return [(r.name, r.levelname, r.getMessage()) for r in caplog.records]


def test_traffic_at_debug_port_life_at_info_refusal_at_warning(sim, caplog):
    caplog.set_level(logging.DEBUG, logger="veltra")
    with veltra.Controller(sim) as c:
        c.status()
        with pytest.raises(ValueError):
            c.repeat(-1)
    got = records(caplog)
    assert all(name == "veltra" for name, _, _ in got)
    expected = [("INFO", re.escape(sim) + " opened at 9600 baud"),
                ("DEBUG", STAMP + " TX " + re.escape(sim) + " CC$"),  # as veltractl --trace prints it
                ("DEBUG", STAMP + " RX " + re.escape(sim) + " CC( [0-9A-F]{2})*$"),
                ("WARNING", "refused, nothing was sent: repeat must be 0 to 65000"),
                ("INFO", re.escape(sim) + " closed$")]
    at = 0
    for level, pattern in expected:  # in this order; more RX lines may come between
        while at < len(got) and not (got[at][1] == level and re.match(pattern, got[at][2])):
            at += 1
        assert at < len(got), "no %s %r in %r" % (level, pattern, got)


def test_timeout_at_warning_and_lost_port_at_info(line, caplog):
    caplog.set_level(logging.INFO, logger="veltra")
    c = veltra.Controller(line.path, timeout=0.2)
    with pytest.raises(veltra.Timeout):
        c.status()
    assert ("veltra", "WARNING") in [(n, lvl) for n, lvl, _ in records(caplog)]
    assert not [m for _, lvl, m in records(caplog) if lvl == "DEBUG"]  # not enabled, not logged
    line.hang_up()
    with pytest.raises(veltra.Error):
        c.status()
    assert any(lvl == "INFO" and m.startswith(line.path + " lost: ") for _, lvl, m in records(caplog)), records(caplog)


def test_nothing_is_printed_without_logging_configured(line):
    script = ("import sys, veltra\n"
              "c = veltra.Controller(sys.argv[1], timeout=0.2)\n"
              "for call in (c.status, lambda: c.repeat(-1)):\n"
              "    try: call()\n"
              "    except veltra.Error: pass\n"
              "c.close()\n")
    done = subprocess.run([sys.executable, "-c", script, line.path], capture_output=True, text=True, timeout=WAIT)
    assert (done.returncode, done.stdout, done.stderr) == (0, "", "")
