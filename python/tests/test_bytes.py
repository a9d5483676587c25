"""Each method puts the panel's bytes for the same action on the line."""

import datetime

import pytest

import veltra

H = bytes.fromhex

# Methods that wait for no answer: read straight from the line.
SENT = [
    ("open shutter", lambda c: c.open_shutter(), "AA"),
    ("close shutter", lambda c: c.close_shutter(), "AC"),
    ("fast", lambda c: c.mode("fast"), "DC"),
    ("soft", lambda c: c.mode("soft"), "DD"),
    ("nd 18", lambda c: c.mode("nd", steps=18), "DE 12"),
    ("trigger off", lambda c: c.trigger("off"), "FA A0"),
    ("trigger low", lambda c: c.trigger("low"), "FA A2"),
    ("trigger falling", lambda c: c.trigger("falling"), "FA A4"),
    ("sync high", lambda c: c.sync("high"), "FA B1"),
    ("sync off", lambda c: c.sync("off"), "FA B0"),
    ("delay text", lambda c: c.set_timer("delay", "01:00:07.070.3"), "FA 11 00 07 07 03"),
    ("exposure timedelta", lambda c: c.set_timer("exposure", datetime.timedelta(seconds=1, milliseconds=500)),
     "FA 20 00 01 50 00"),
    ("exposure tenths", lambda c: c.set_timer("exposure", datetime.timedelta(microseconds=12_300)), "FA 20 00 00 01 23"),
    ("repeat 256", lambda c: c.repeat(256), "FA F0 01 00"),
    ("repeat continuous", lambda c: c.repeat("continuous"), "FA F0 FF FF"),
    ("run power-up", lambda c: c.run("power-up"), "FA F1"),
    ("stop", lambda c: c.stop(), "BF"),
    ("power on", lambda c: c.power(True), "CE"),
    ("power off", lambda c: c.power(False), "CF"),
    ("save to controller", lambda c: c.save_to_controller(), "FA C1"),
]


@pytest.mark.parametrize("name,call,hex_bytes", SENT, ids=[r[0] for r in SENT])
def test_method_sends_the_panels_bytes(line, name, call, hex_bytes):
    with veltra.Controller(line.path) as c:
        call(c)
        want = H(hex_bytes)
        assert line.read(len(want)) == want
        assert c.traffic() == [("tx", want)]


# Methods that wait for an answer: against the simulator, from the traffic seen.
ANSWERED = [
    ("online", lambda c: c.online(), ["EE"]),
    ("status", lambda c: c.status(), ["CC"]),
    ("info", lambda c: c.info(), ["FD"]),
    ("reset asks status when back", lambda c: c.reset(), ["FB", "CC"]),
    ("restore defaults then status", lambda c: c.restore_defaults(), ["FA C0", "CC"]),
    ("run go learns the repeat first", lambda c: c.run("go"), ["CC", "FA F3"]),
    ("run trigger", lambda c: c.run("trigger"), ["CC", "FA F2"]),
]


@pytest.mark.parametrize("name,call,sent", ANSWERED, ids=[r[0] for r in ANSWERED])
def test_answered_method_sends_the_panels_bytes(sim, name, call, sent):
    with veltra.Controller(sim) as c:
        call(c)
        assert [b for d, b in c.traffic() if d == "tx"] == [H(s) for s in sent]


def test_apply_sends_the_download_in_the_panels_order(sim, tmp_path):
    cfg = veltra.Config(shutter="close", mode="nd", nd_steps=18, trigger="low", sync="high",
                        delay=datetime.timedelta(hours=1, seconds=7, microseconds=70_300),
                        exposure=datetime.timedelta(milliseconds=5), repeat=256, running_option="power-up")
    with veltra.Controller(sim) as c:
        c.apply(cfg)
        sent = [b for d, b in c.traffic() if d == "tx"]
    assert sent == [H(s) for s in ["AC", "DE 12", "FA A2", "FA B1", "FA 11 00 07 07 03", "FA 20 00 00 00 50",
                                   "FA F0 01 00", "FA F1"]]
