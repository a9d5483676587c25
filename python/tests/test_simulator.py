"""veltra.Simulator: veltra-sim started, found, driven and stopped for a script."""

import datetime
import gc
import os
import shutil
import sys

import pytest

import veltra
import veltra._sim
from conftest import WAIT


def test_a_script_drives_it_and_leaving_stops_it():
    sim = veltra.Simulator("--repeat", "7", "--exposure-ms", "12.5")
    with sim as device:
        assert device == sim.device and device.startswith("/dev/") and sim.running
        with veltra.Controller(device) as c:
            status = c.status()
        with pytest.raises(veltra.Error, match="running already"):
            sim.start()
        process = sim._process
    assert (status.repeat, status.exposure.microseconds) == (7, 12_500)  # the options reached it
    assert not sim.running and process.returncode == 0 and not os.path.exists(device)
    sim.stop()  # stopped already: nothing to do


def test_each_trigger_runs_one_cycle_of_a_trigger_run():
    sim = veltra.Simulator("--power-up-option", "trigger", "--repeat", "3", "--exposure-ms", "20")
    with sim as device, veltra.Controller(device) as c:
        reports = c.wait_run()  # joins the run that waits for pulses since power-up
        seen = []
        for _ in range(2):
            sim.trigger()
            seen.append(next(reports))
    assert [(r.cycle, r.cycles_left) for r in seen] == [(1, 2), (2, 1)]
    assert all(r.closed - r.opened >= datetime.timedelta(milliseconds=20) for r in seen)
    with pytest.raises(veltra.Error, match="not running"):
        sim.trigger()


def where_found(tmp_path, monkeypatch, layout):
    """The veltra-sim a Simulator runs with the package in tmp_path/veltra
    and the given copies of the built one (`layout`: paths under tmp_path)."""
    built = os.environ["VELTRA_SIM"]
    for place in layout:
        os.makedirs(os.path.dirname(tmp_path / place), exist_ok=True)
        shutil.copy(built, tmp_path / place)
    monkeypatch.delenv("VELTRA_SIM")
    monkeypatch.setattr(veltra._sim, "__file__", str(tmp_path / "lib" / "veltra" / "_sim.py"))
    monkeypatch.setenv("PATH", str(tmp_path / "bin"))
    sim = veltra.Simulator()
    with sim as device:
        with veltra.Controller(device) as c:
            assert c.online()
    return os.path.relpath(sim.program, tmp_path)


FOUND = [
    # beside the package (a wheel), in the build tree (its python/ on PYTHONPATH), on PATH
    (["lib/veltra/veltra-sim", "src/sim/veltra-sim", "bin/veltra-sim"], "lib/veltra/veltra-sim"),
    (["src/sim/veltra-sim", "bin/veltra-sim"], "src/sim/veltra-sim"),
    (["bin/veltra-sim"], "bin/veltra-sim"),
]


@pytest.mark.parametrize("layout,found", FOUND)
def test_found_beside_the_package_then_in_the_build_tree_then_on_path(tmp_path, monkeypatch, layout, found):
    assert where_found(tmp_path, monkeypatch, layout) == found


def test_none_found_names_where_it_looked(tmp_path, monkeypatch):
    with pytest.raises(FileNotFoundError, match="veltra-sim not found: not in .*lib/veltra/veltra-sim"):
        where_found(tmp_path, monkeypatch, [])


FAILED = [
    # args, program, what the error says
    (["--bogus"], None, r"ended with status 2 before serving a terminal: veltra-sim: .*--bogus"),
    (["--version"], None, r"printed 'veltra-sim .*' instead of its terminal's path"),
    (["-c", "import time; time.sleep(60)"], sys.executable, r"named no terminal within 0.5 s"),
]


@pytest.mark.parametrize("args,program,message", FAILED)
def test_a_simulator_that_does_not_start_says_why_and_is_ended(args, program, message):
    sim = veltra.Simulator(*args, program=program, timeout=0.5 if program else WAIT)
    with pytest.raises(veltra.Error, match=message):
        sim.start()
    assert not sim.running and sim._process is None


def test_one_dropped_unstopped_is_stopped():
    sim = veltra.Simulator()
    sim.start()
    process = sim._process
    del sim
    gc.collect()
    assert process.wait(WAIT) == 0
