"""veltra-tango: a Veltra shutter controller as a device of a Tango control
system. One VeltraShutter device per controller; a server may hold several.

The device keeps a link thread per controller: it connects (state INIT),
retries every second while the controller cannot be reached (state FAULT, the
reason in the status text), watches the port while it is open, and follows the
shutter reports the controller sends during a run (state RUNNING), pushing
change events for State, shutter and cycles_left as they arrive.

Every call on the Controller goes through one lock, so that the commands of
Tango clients and the link thread take turns; the reports of a run are read
between calls from the Controller's traffic, so that Stop is sent at once
rather than after the next report.
"""

import datetime
import sys
import threading

import tango
from tango import AttrWriteType, DevState
from tango.server import Device, attribute, command, device_property

import veltra

MODES = ("fast", "soft", "nd", "none")
MODE_LABELS = ["Fast", "Soft", "Neutral Density", "None"]
TRIGGERS = ("off", "high", "low", "rising", "falling")
TRIGGER_LABELS = ["Off", "High", "Low", "Rising", "Falling"]
SYNCS = ("off", "high", "low")
SYNC_LABELS = ["Off", "High", "Low"]
OPTIONS = ("none", "power-up", "trigger", "go")
OPTION_LABELS = ["None", "Power-up", "Trigger", "Go"]
SHUTTER_LABELS = ["Close", "Open"]

TIMER_MAX_S = 5 * 3600.0  # the controller's timers run up to 5 hours
ND_STEPS_MAX = 144
REPEAT_MAX = 65000
RETRY_S = 1.0      # a controller that cannot be reached is tried again after this
WATCH_S = 0.05     # how often the link thread looks at the line

REPORT_OPEN, REPORT_CLOSE = 0xAA, 0xAC

# The kinds of failure, as veltractl's exit codes and the module's exceptions name them.
REASONS = ((veltra.RefusedError, "Veltra_Refused"), (veltra.Timeout, "Veltra_Timeout"),
           (veltra.PortError, "Veltra_PortError"), (veltra.VerifyError, "Veltra_VerifyError"),
           (veltra.ConfigFileError, "Veltra_ConfigFileError"), (veltra.ReplyError, "Veltra_ReplyError"),
           (veltra.Error, "Veltra_Error"))


def failed(reason, description, origin):
    """Raises a DevFailed (ERR severity)."""
    tango.Except.throw_exception(reason, description, origin)


def reason_of(error):
    for kind, reason in REASONS:
        if isinstance(error, kind):
            return reason
    return "Veltra_Error"


def seconds(value):
    return value.total_seconds()


def timer(value_s, name):
    """Seconds as a timer value of whole tenths of a millisecond; refuses what the controller cannot hold."""
    if not 0.0 <= value_s <= TIMER_MAX_S:
        failed("Veltra_Refused", "%s %.4f s is outside the range 0 to %g s (0.1 ms steps)" % (name, value_s, TIMER_MAX_S),
               "VeltraShutter.write_%s" % name)
    return datetime.timedelta(microseconds=round(value_s * 10_000) * 100)


class VeltraShutter(Device):
    """A Veltra shutter controller on a serial line (a path, COMn, socket:// or rfc2217://)."""

    Device = device_property(dtype=str, mandatory=True,
                             doc="The controller's device: a path, COMn, socket://HOST:PORT or rfc2217://HOST:PORT")
    Timeout = device_property(dtype=float, default_value=2.0, doc="Seconds each answer of the controller is waited for")

    # -- life cycle ---------------------------------------------------------

    def init_device(self):
        super().init_device()
        self._io = threading.RLock()        # one Controller call at a time
        self._ctl = None
        self._stop = threading.Event()
        self._lost = threading.Event()      # a command saw the port go away
        self._status = None                 # the last veltra.Status
        self._panel = veltra.Config()       # the written values, downloaded by Apply
        self._info = ""
        self._shutter = 0
        self._left = 0
        self._running = False
        self._fault = ""
        self._follower = None
        self._reports = threading.RLock()   # reports are pushed in order
        self._opens = self._closes = 0      # reports of this run seen between calls
        for name in ("State", "shutter", "cycles_left"):
            self.set_change_event(name, True, False)
        self._set(DevState.INIT, "Connecting to %s" % self.Device)
        self._thread = threading.Thread(target=self._link, name="veltra-tango link %s" % self.Device, daemon=True)
        self._thread.start()

    def delete_device(self):
        self._stop.set()
        if self._thread.is_alive() and self._thread is not threading.current_thread():
            self._thread.join(self.Timeout + 5)
        with self._io:
            if self._ctl is not None:
                self._ctl.close()
                self._ctl = None

    # -- state --------------------------------------------------------------

    def _set(self, state, text):
        changed = state != self.get_state()
        self.set_state(state)
        self.set_status(text)
        if changed:
            self.push_change_event("State", state)

    def _update_state(self):
        if self._ctl is None:
            return
        if self._running:
            left = "continuous" if self._left == -1 else "%d left" % self._left
            self._set(DevState.RUNNING, "Running on %s: shutter %s, %s" % (self.Device, SHUTTER_LABELS[self._shutter].lower(), left))
        elif self._shutter:
            self._set(DevState.OPEN, "Shutter open on %s" % self.Device)
        else:
            self._set(DevState.CLOSE, "Shutter closed on %s" % self.Device)

    def _shutter_is(self, position):
        if position != self._shutter:
            self._shutter = position
            self.push_change_event("shutter", position)

    def _left_is(self, left):
        if left != self._left:
            self._left = left
            self.push_change_event("cycles_left", left)

    def _took(self, status):
        """A status reply: the attributes and the panel follow it."""
        self._status = status
        self._panel = veltra.Config.from_status(status)
        if self._panel.mode == "none":
            self._panel.mode = "fast"
        self._shutter_is(1 if status.shutter == "open" else 0)

    def _lose(self, message):
        """The controller went away: FAULT until the link thread has it back."""
        with self._io:
            if self._ctl is not None:
                try:
                    self._ctl.close()
                except veltra.Error:
                    pass
                self._ctl = None
        self._running = False
        self._fault = message
        self._set(DevState.FAULT, "Cannot reach the controller on %s: %s (retrying)" % (self.Device, message))

    # -- the link thread ----------------------------------------------------

    def _link(self):
        with tango.EnsureOmniThread():
            while not self._stop.is_set():
                if self._ctl is None:
                    if not self._connect():
                        self._stop.wait(RETRY_S)
                    continue
                if self._lost.is_set() or not self._ctl.port_open:
                    self._lost.clear()
                    self._lose("the device went away")
                    continue
                self._watch()
                self._stop.wait(WATCH_S)

    def _connect(self):
        try:
            with self._io:
                ctl = veltra.Controller(self.Device, timeout=self.Timeout)
                try:
                    status = ctl.status()
                    info = ctl.info()
                    ctl.traffic()
                except BaseException:
                    ctl.close()
                    raise
                self._ctl = ctl
                self._info = "%s %s" % info
                self._took(status)
                self._running = False
            self._update_state()
            return True
        except veltra.Error as e:
            self._running = False
            self._fault = str(e)
            self._set(DevState.FAULT, "Cannot reach the controller on %s: %s (retrying)" % (self.Device, e))
            return False

    def _watch(self):
        """Reads the reports the controller sent since the last look."""
        with self._io:
            if self._ctl is None:
                return
            traffic = self._ctl.traffic()
        for direction, data in traffic:
            if direction != "rx":
                continue
            for byte in data:
                self._report(byte)

    def _report(self, byte):
        """A byte the controller sent between calls: its shutter reports move
        the shutter at once; the follower counts the cycles."""
        if byte not in (REPORT_OPEN, REPORT_CLOSE):
            return
        with self._reports:
            if not self._running:
                self._begin_run()
            if byte == REPORT_OPEN:
                self._opens += 1
            else:
                self._closes += 1
            self._shutter_is(1 if byte == REPORT_OPEN else 0)
            self._update_state()

    def _begin_run(self):
        self._running = True
        self._opens = self._closes = 0
        repeat = self._status.repeat if self._status is not None else 1
        self._left_is(-1 if repeat == "continuous" else repeat)
        if self._follower is None or not self._follower.is_alive():
            self._follower = threading.Thread(target=self._follow, name="veltra-tango run %s" % self.Device, daemon=True)
            self._follower.start()

    def _follow(self):
        """Follows a run through the client's run reports, one per cycle, until
        it ends. A run on trigger pulses has no time limit: its reports are
        only read between calls."""
        with tango.EnsureOmniThread():
            ctl = self._ctl
            try:
                if ctl is not None and (self._status is None or self._status.running_option != "trigger"):
                    for report in ctl.wait_run():
                        # Reports read between calls were pushed already; the
                        # others (taken by a call) are pushed now, in order.
                        with self._reports:
                            if report.opened is not None and self._opens < report.cycle:
                                self._opens = report.cycle
                                self._shutter_is(1)
                            if report.closed is not None and self._closes < report.cycle:
                                self._closes = report.cycle
                                self._shutter_is(0)
                            self._left_is(-1 if report.cycles_left == "continuous" else report.cycles_left)
                            self._update_state()
                        if self._stop.is_set():
                            return
                    self._left_is(0)
            except veltra.PortError:
                self._lost.set()
            except veltra.Error:
                pass  # a stopped run, or one that ended before it was followed
            if self._status is None or self._status.running_option != "trigger":
                with self._io:  # the run's last reports, not yet read between calls
                    traffic = self._ctl.traffic() if self._ctl is not None else []
                    with self._reports:
                        for direction, data in traffic:
                            for byte in data if direction == "rx" else b"":
                                if byte in (REPORT_OPEN, REPORT_CLOSE):
                                    self._shutter_is(1 if byte == REPORT_OPEN else 0)
                        self._running = False
                self._update_state()

    # -- calls on the controller --------------------------------------------

    def _call(self, what, fn, *args, starts_run=False, **kwargs):
        """Runs one Controller call in its turn; failures become DevFailed.
        After a command that starts a run (starts_run), what the controller
        sent after the echo of its last command is the run's first reports."""
        with self._io:
            ctl = self._ctl
            if ctl is None:
                failed("Veltra_PortError", "The controller on %s cannot be reached: %s" % (self.Device, self._fault or "connecting"),
                       "VeltraShutter.%s" % what)
            # Reports that arrived before this call are the run's.
            for direction, data in ctl.traffic():
                if direction == "rx":
                    for byte in data:
                        self._report(byte)
            try:
                result = fn(ctl, *args, **kwargs)
            except veltra.Error as e:
                if isinstance(e, veltra.PortError) and e.reason == "closed":
                    self._lost.set()
                failed(reason_of(e), str(e), "VeltraShutter.%s" % what)
            finally:
                if self._ctl is not None:
                    traffic = ctl.traffic()  # this call's echo and answer are no reports
                    if starts_run:
                        self._after_echo(traffic)
            return result

    def _after_echo(self, traffic):
        last = max((i for i, (t, _) in enumerate(traffic) if t == "tx"), default=None)
        if last is None:
            return
        rx = b"".join(d for t, d in traffic[last:] if t == "rx")[len(traffic[last][1]):]
        if rx[:1] == b"\r":
            rx = rx[1:]
        self._early = rx

    def _refresh(self, what="Status"):
        status = self._call(what, lambda c: c.status())
        self._took(status)
        self._update_state()
        return status

    # -- attributes ---------------------------------------------------------

    def _get(self, field):
        if self._status is None:
            failed("Veltra_PortError", "No status from the controller on %s yet: %s" % (self.Device, self._fault or "connecting"),
                   "VeltraShutter.read_%s" % field)
        return getattr(self._status, field)

    shutter = attribute(dtype=tango.DevEnum, enum_labels=SHUTTER_LABELS, access=AttrWriteType.READ,
                        label="Shutter", doc="The shutter's position (Open and Close commands change it)")

    def read_shutter(self):
        return self._shutter

    mode = attribute(dtype=tango.DevEnum, enum_labels=MODE_LABELS, access=AttrWriteType.READ_WRITE,
                     label="Shutter mode", doc="Fast, Soft or Neutral Density (with nd_steps)")

    def read_mode(self):
        return MODES.index(self._get("mode"))

    def write_mode(self, value):
        if not 0 <= value <= 2:
            failed("Veltra_Refused", "mode %d is not one of 0 (Fast), 1 (Soft), 2 (Neutral Density)" % value,
                   "VeltraShutter.write_mode")
        name = MODES[value]
        steps = self._panel.nd_steps if name == "nd" else None
        self._call("write_mode", lambda c: c.mode(name, steps))
        self._panel.mode = name
        self._status = self._status and _replace(self._status, mode=name, nd_steps=steps or 0)

    # The ranges are checked here, not by Tango's min_value and max_value: Tango
    # refuses a value outside those before the write method runs, with a
    # description that does not say the range. The range is in the description
    # (which generic clients show beside the value) and in the refusal. DevLong,
    # so that a negative or too large number reaches the check rather than
    # failing in the client's conversion.
    nd_steps = attribute(dtype=tango.DevLong, access=AttrWriteType.READ_WRITE, label="ND steps", unit="steps",
                         format="%d", doc="Steps of the neutral-density mode, 0 to 144 (sent at once in that mode)")

    def read_nd_steps(self):
        return self._panel.nd_steps

    def write_nd_steps(self, value):
        if not 0 <= value <= ND_STEPS_MAX:
            failed("Veltra_Refused", "nd_steps %d is outside the range 0 to %d" % (value, ND_STEPS_MAX),
                   "VeltraShutter.write_nd_steps")
        if self._status is not None and self._status.mode == "nd":
            self._call("write_nd_steps", lambda c: c.mode("nd", value))
            self._status = _replace(self._status, nd_steps=value)
        self._panel.nd_steps = value

    trigger = attribute(dtype=tango.DevEnum, enum_labels=TRIGGER_LABELS, access=AttrWriteType.READ_WRITE,
                        label="Trigger input")

    def read_trigger(self):
        return TRIGGERS.index(self._get("trigger"))

    def write_trigger(self, value):
        name = _choice(TRIGGERS, TRIGGER_LABELS, value, "trigger")
        self._call("write_trigger", lambda c: c.trigger(name))
        self._panel.trigger = name
        self._status = _replace(self._status, trigger=name)

    sync = attribute(dtype=tango.DevEnum, enum_labels=SYNC_LABELS, access=AttrWriteType.READ_WRITE, label="Sync output")

    def read_sync(self):
        return SYNCS.index(self._get("sync"))

    def write_sync(self, value):
        name = _choice(SYNCS, SYNC_LABELS, value, "sync")
        self._call("write_sync", lambda c: c.sync(name))
        self._panel.sync = name
        self._status = _replace(self._status, sync=name)

    delay = attribute(dtype=float, access=AttrWriteType.READ_WRITE, unit="s", standard_unit=1.0, display_unit=1.0,
                      format="%.4f", label="Delay", doc="Delay before the shutter opens, 0 to 18000 s in 0.1 ms steps")

    def read_delay(self):
        return seconds(self._get("delay"))

    def write_delay(self, value):
        t = timer(value, "delay")
        self._call("write_delay", lambda c: c.set_timer("delay", t))
        self._panel.delay = t
        self._status = _replace(self._status, delay=t)

    exposure = attribute(dtype=float, access=AttrWriteType.READ_WRITE, unit="s", standard_unit=1.0, display_unit=1.0,
                         format="%.4f", label="Exposure", doc="Time the shutter stays open, 0 to 18000 s in 0.1 ms steps")

    def read_exposure(self):
        return seconds(self._get("exposure"))

    def write_exposure(self, value):
        t = timer(value, "exposure")
        self._call("write_exposure", lambda c: c.set_timer("exposure", t))
        self._panel.exposure = t
        self._status = _replace(self._status, exposure=t)

    cycle_time = attribute(dtype=float, access=AttrWriteType.READ, unit="s", standard_unit=1.0, display_unit=1.0,
                           format="%.4f", label="Cycle time", doc="Delay, exposure and the mode's opening and closing")

    def read_cycle_time(self):
        return seconds(self._get("cycle_time"))

    repeat = attribute(dtype=tango.DevLong, access=AttrWriteType.READ_WRITE, label="Repeat", unit="cycles",
                       format="%d", doc="Cycles of a run, 0 to 65000 (see continuous)")

    def read_repeat(self):
        r = self._get("repeat")
        return self._panel_count() if r == "continuous" else r

    def _panel_count(self):
        return self._panel.repeat if isinstance(self._panel.repeat, int) else getattr(self, "_count", 1)

    def write_repeat(self, value):
        if not 0 <= value <= REPEAT_MAX:
            failed("Veltra_Refused", "repeat %d is outside the range 0 to %d" % (value, REPEAT_MAX),
                   "VeltraShutter.write_repeat")
        self._call("write_repeat", lambda c: c.repeat(value))
        self._count = value
        self._panel.repeat = value
        self._status = _replace(self._status, repeat=value)

    continuous = attribute(dtype=bool, access=AttrWriteType.READ_WRITE, label="Continuous",
                           doc="Runs cycles until Stop (true), or repeat cycles (false)")

    def read_continuous(self):
        return self._get("repeat") == "continuous"

    def write_continuous(self, value):
        count = "continuous" if value else self._panel_count()
        self._call("write_continuous", lambda c: c.repeat(count))
        if isinstance(self._panel.repeat, int):
            self._count = self._panel.repeat
        self._panel.repeat = count
        self._status = _replace(self._status, repeat=count)

    running_option = attribute(dtype=tango.DevEnum, enum_labels=OPTION_LABELS, access=AttrWriteType.READ_WRITE,
                               label="Running option", doc="Power-up, Trigger, or Go (starts the run at once)")

    def read_running_option(self):
        return OPTIONS.index(self._get("running_option"))

    def write_running_option(self, value):
        if not 1 <= value <= 3:
            failed("Veltra_Refused", "running_option %d is not one of 1 (Power-up), 2 (Trigger), 3 (Go)" % value,
                   "VeltraShutter.write_running_option")
        name = OPTIONS[value]
        self._call("write_running_option", lambda c: c.run(name))
        self._panel.running_option = name
        self._status = _replace(self._status, running_option=name)

    cycles_left = attribute(dtype=tango.DevLong, access=AttrWriteType.READ, label="Cycles left",
                            doc="Cycles left of the run under way (0 at the last; -1 when continuous)")

    def read_cycles_left(self):
        return self._left

    controller_info = attribute(dtype=str, access=AttrWriteType.READ, label="Controller information")

    def read_controller_info(self):
        if not self._info:
            self._get("info")
        return self._info

    device_name = attribute(dtype=str, access=AttrWriteType.READ, label="Device", doc="The Device property")

    def read_device_name(self):
        return self.Device

    # -- commands -----------------------------------------------------------

    def dev_status(self):
        """The Status command reads everything back from the controller (when it can be reached)."""
        if self._ctl is not None and not self._running:
            try:
                self._refresh()
            except tango.DevFailed:
                pass
        return self.get_status()

    @command
    def Open(self):
        self._call("Open", lambda c: c.open_shutter())
        self._shutter_is(1)
        self._update_state()

    @command
    def Close(self):
        self._call("Close", lambda c: c.close_shutter())
        self._shutter_is(0)
        self._update_state()

    @command(doc_in="Starts the run as configured")
    def Go(self):
        self._early = b""
        self._call("Go", lambda c: c.run("go"), starts_run=True)
        self._status = _replace(self._status, running_option="go")
        if not self._running:
            self._begin_run()
            self._update_state()
        for byte in self._early:
            self._report(byte)

    @command
    def Stop(self):
        self._call("Stop", lambda c: c.stop())
        self._running = False
        self._refresh("Stop")

    @command(doc_in="Downloads every written attribute at once and verifies them")
    def Apply(self):
        panel = veltra.Config(**{k: getattr(self._panel, k) for k in (
            "shutter", "mode", "nd_steps", "trigger", "sync", "delay", "exposure", "repeat", "running_option")})
        panel.shutter = "open" if self._shutter else "close"
        self._call("Apply", lambda c: c.apply(panel, verify=True))
        self._refresh("Apply")

    @command
    def Reset(self):
        self._call("Reset", lambda c: c.reset())
        self._running = False
        self._refresh("Reset")

    @command
    def RestoreDefault(self):
        self._call("RestoreDefault", lambda c: c.restore_defaults())
        self._refresh("RestoreDefault")

    @command
    def SaveToController(self):
        self._call("SaveToController", lambda c: c.save_to_controller())

    @command
    def PowerOn(self):
        self._call("PowerOn", lambda c: c.power(True))

    @command
    def PowerOff(self):
        self._call("PowerOff", lambda c: c.power(False))

    @command(dtype_in=str, doc_in="A .cfg file on the server's machine: downloaded as Apply does")
    def LoadConfig(self, path):
        self._call("LoadConfig", lambda c: c.apply(path, verify=True))
        self._refresh("LoadConfig")

    @command(dtype_in=str, doc_in="A .cfg file on the server's machine: the controller's settings are saved in it")
    def SaveConfig(self, path):
        status = self._call("SaveConfig", lambda c: c.read_config(path))
        self._took(status)
        self._update_state()


def _replace(status, **changes):
    import dataclasses
    return None if status is None else dataclasses.replace(status, **changes)


def _choice(names, labels, value, what):
    if not 0 <= value < len(names):
        failed("Veltra_Refused", "%s %d is not one of %s" % (
            what, value, ", ".join("%d (%s)" % (i, l) for i, l in enumerate(labels))), "VeltraShutter.write_%s" % what)
    return names[value]


def main(args=None):
    """Runs the server: veltra-tango INSTANCE [Tango server options]."""
    from tango.server import run
    run((VeltraShutter,), args=["veltra-tango", *(sys.argv[1:] if args is None else args)])
    return 0


if __name__ == "__main__":
    sys.exit(main())
