"""Each method, and each name a script passes, reaches the simulator as its own
action, read back from its status (the panel's tests pin the bytes)."""

import datetime

import veltra

td = datetime.timedelta

# One row per method: the call, then the status fields it sets.
SET = [
    (lambda c: c.open_shutter(), {"shutter": "open"}),
    (lambda c: c.close_shutter(), {"shutter": "close"}),
    (lambda c: c.mode("nd", steps=18), {"mode": "nd", "nd_steps": 18}),
    (lambda c: c.trigger("falling"), {"trigger": "falling"}),
    (lambda c: c.sync("low"), {"sync": "low"}),
    (lambda c: c.set_timer("delay", "01:00:07.070.3"), {"delay": td(hours=1, seconds=7, microseconds=70_300)}),
    (lambda c: c.set_timer("exposure", td(microseconds=12_300)), {"exposure": td(microseconds=12_300)}),
    (lambda c: c.repeat("continuous"), {"repeat": "continuous"}),
    (lambda c: c.run("power-up"), {"running_option": "power-up"}),
    (lambda c: (c.run("trigger"), c.stop()), {"running_option": "trigger"}),
]


def test_each_method_sets_its_own_field(sim):
    with veltra.Controller(sim) as c:
        for call, fields in SET:
            call(c)
            status = c.status()
            assert {f: getattr(status, f) for f in fields} == fields


def test_save_reset_restore_power_and_online_each_do_their_own(sim):
    with veltra.Controller(sim) as c:
        assert c.online() is True
        c.repeat(7)
        c.save_to_controller()
        c.repeat(9)
        c.reset()  # back to the saved settings
        assert c.status().repeat == 7
        c.restore_defaults()
        assert c.status().repeat == 1
        c.traffic()
        c.power(True), c.power(False)
        assert [b for d, b in c.traffic() if d == "tx"] == [b"\xce", b"\xcf"]
