"""VeltraShutter against veltra-sim through DeviceTestContext (no database)."""

import os
import signal
import subprocess
import sys

import pytest
import tango

from conftest import TANGO_NOTICES, WAIT, Events, free_port, lock_files, serve, wait_for

S = tango.DevState


def test_state_and_read_only_attributes_follow_the_controller(device, sim):
    assert device.state() == S.CLOSE
    assert device.shutter == 0
    assert device.exposure == pytest.approx(0.020)
    assert device.delay == pytest.approx(0.010)
    assert device.cycle_time > device.exposure + device.delay
    assert device.repeat == 1 and not device.continuous
    assert device.controller_info.strip()
    assert device.device_name == sim.path
    config = device.get_attribute_config("exposure")
    assert config.unit == "s" and config.format == "%.4f"
    assert list(device.get_attribute_config("mode").enum_labels) == ["Fast", "Soft", "Neutral Density", "None"]
    # generic clients show the range with the value (the description), the unit beside it
    for name, unit, text in (("nd_steps", "steps", "0 to 144"), ("repeat", "cycles", "0 to 65000"),
                             ("delay", "s", "0 to 18000 s"), ("exposure", "s", "0 to 18000 s")):
        config = device.get_attribute_config(name)
        assert (config.unit, text in config.description) == (unit, True), name


WRITES = [  # attribute, value written, value read back after Status re-read everything
    ("exposure", 0.1234, 0.1234),
    ("delay", 2.5, 2.5),
    ("delay", 0.00012, 0.0001),  # the controller's 0.1 ms resolution
    ("mode", 1, 1),
    ("trigger", 3, 3),
    ("sync", 2, 2),
    ("repeat", 7, 7),
    ("continuous", True, True),
    ("running_option", 2, 2),
]


def test_written_attributes_reach_the_controller(device):
    for name, value, expected in WRITES:
        device.write_attribute(name, value)
    device.command_inout("Status")  # reads everything back from the controller
    for name, expected in {name: expected for name, _, expected in WRITES}.items():
        read = device.read_attribute(name).value
        assert read == pytest.approx(expected), name


REFUSED = [  # attribute, value, text the description must hold
    ("exposure", 18000.5, "0 to 18000 s"),
    ("delay", -0.001, "0 to 18000 s"),
    ("nd_steps", 145, "0 to 144"),
    ("nd_steps", -1, "0 to 144"),
    ("repeat", 65001, "0 to 65000"),
    ("repeat", -1, "0 to 65000"),
    ("repeat", 2**31 - 1, "0 to 65000"),
    ("mode", 3, "0 (Fast), 1 (Soft), 2 (Neutral Density)"),
    ("running_option", 0, "1 (Power-up), 2 (Trigger), 3 (Go)"),
]


@pytest.mark.parametrize("name,value,text", REFUSED)
def test_a_value_outside_the_range_is_refused_naming_it_and_nothing_is_sent(device, sim, name, value, text):
    device.write_attribute("mode", 2)  # neutral density: a valid nd_steps would be sent at once
    wait_for(lambda: [c[:2] for c in sim.received()[-1:]] == ["DE"], what="the mode command")
    before = device.read_attribute(name).value
    sent = len(sim.received())
    with pytest.raises(tango.DevFailed) as e:
        device.write_attribute(name, value)
    assert e.value.args[0].reason == "Veltra_Refused"
    assert text in e.value.args[0].desc
    device.command_inout("Status")
    # the controller takes commands in order: once Status has arrived, nothing came before it
    assert wait_for(lambda: sim.received()[sent:] if len(sim.received()) > sent else None,
                    what="the Status command") == ["CC"]
    assert device.read_attribute(name).value == before


def test_failures_of_the_client_name_their_kind(device, tmp_path):
    with pytest.raises(tango.DevFailed) as e:
        device.LoadConfig(str(tmp_path / "missing.cfg"))
    assert e.value.args[0].reason == "Veltra_ConfigFileError"
    assert "missing.cfg" in e.value.args[0].desc
    device.SaveConfig(str(tmp_path / "saved.cfg"))
    device.exposure = 0.5
    device.LoadConfig(str(tmp_path / "saved.cfg"))
    assert device.exposure == pytest.approx(0.020)


def test_open_close_and_a_run_push_change_events(device):
    states, shutter, left = Events(device, "State"), Events(device, "shutter"), Events(device, "cycles_left")
    # each subscription first gives the value as it is
    assert (states.until(S.CLOSE), shutter.until(0), left.until(0)) == ([S.CLOSE], [0], [0])
    # A subscription reaches the server's publisher a moment after it returns:
    # the first change may go before it; open and close until one arrives.
    for _ in range(20):
        device.Open()
        assert device.state() == S.OPEN
        device.Close()
        assert device.state() == S.CLOSE
        try:
            shutter.until(1, timeout=0.5)
            break
        except AssertionError:
            continue
    assert shutter.until(0) == [0]
    states.until(S.CLOSE)
    device.Open()
    assert (shutter.until(1), states.until(S.OPEN)) == ([1], [S.OPEN])
    device.Close()
    assert (shutter.until(0), states.until(S.CLOSE)) == ([0], [S.CLOSE])
    device.repeat = 2
    device.Go()
    assert left.until(0) == [2, 1, 0]
    assert shutter.until(0) == [1, 0]
    assert shutter.until(0) == [1, 0]
    assert states.until(S.CLOSE) == [S.RUNNING, S.CLOSE]
    for e in (states, shutter, left):
        e.close()


def test_unplugged_controller_faults_and_comes_back_by_itself(device, sim):
    states = Events(device, "State")
    sim.stop()
    states.until(S.FAULT)
    assert "retrying" in device.status()
    with pytest.raises(tango.DevFailed) as e:
        device.Open()
    assert e.value.args[0].reason == "Veltra_PortError"
    sim.start()
    states.until(S.CLOSE)
    device.Open()
    assert device.state() == S.OPEN
    states.close()


def test_sigterm_mid_run_releases_the_port(sim, tmp_path, capfd):
    db = tmp_path / "devices.db"
    db.write_text("veltra-tango/t/DEVICE/VeltraShutter: test/veltra/1\n"
                  "test/veltra/1->Device: %s\n" % sim.path)
    port = free_port()
    server = subprocess.Popen([sys.executable, "-m", "veltra.tango_server", "t", "-ORBendPoint",
                               "giop:tcp:127.0.0.1:%d" % port, "-file=%s" % db])
    try:
        proxy = tango.DeviceProxy("tango://127.0.0.1:%d/test/veltra/1#dbase=no" % port)
        wait_for(lambda: _state(proxy) == S.CLOSE, what="the server to connect")
        proxy.exposure = 1.0
        proxy.continuous = True
        proxy.Go()
        wait_for(lambda: proxy.state() == S.RUNNING, what="the run")
        server.send_signal(signal.SIGTERM)
        server.wait(WAIT)
    finally:
        if server.poll() is None:
            server.kill(), server.wait()
    assert server.returncode == 0
    assert set(capfd.readouterr().err.splitlines()) <= TANGO_NOTICES
    assert lock_files(sim.path) == []
    out = subprocess.run([os.environ.get("VELTRACTL", "veltractl"), "--device", sim.path, "stop"],
                         capture_output=True, text=True, timeout=WAIT)
    assert out.returncode == 0, out.stderr  # the port is free again


def test_a_server_started_after_a_subscription_ends_with_its_kill(sim, capfd):
    # this process becomes a client with an event consumer before the server starts
    with serve(sim) as first:
        events = Events(first, "State")
        events.until(S.CLOSE)
        events.close()
    context = serve(sim)
    with context as proxy:
        wait_for(lambda: proxy.state() == S.CLOSE, what="the device to connect")
        proxy.Open()
    # stop() sent Kill and waited for the process; it ended rather than the wait
    assert context.thread.exitcode == 0
    assert set(capfd.readouterr().err.splitlines()) <= TANGO_NOTICES


def _state(proxy):
    try:
        return proxy.state()
    except tango.DevFailed:
        return None


LINE = [  # what a client does, the bytes the panel sends for it
    (lambda d: d.Open(), ["AA"]),
    (lambda d: d.Close(), ["AC"]),
    (lambda d: d.write_attribute("mode", 1), ["DD"]),
    (lambda d: d.write_attribute("mode", 0), ["DC"]),
    (lambda d: d.write_attribute("repeat", 3), ["FA F0 00 03"]),
    (lambda d: d.PowerOff(), ["CF"]),
    (lambda d: d.PowerOn(), ["CE"]),
    (lambda d: d.SaveToController(), ["FA C1"]),
    (lambda d: d.command_inout("Status"), ["CC"]),
]


def test_each_command_sends_the_panels_bytes(device, sim):
    for act, sent in LINE:
        before = len(sim.received())
        act(device)
        assert wait_for(lambda: sim.received()[before:] == sent or None, what="bytes %s" % sent)
