# Type stubs of the veltra package (the native Controller, the dataclasses and
# the Simulator), with the module's docstrings so that an editor shows them.
# tests/test_stub.py keeps them in step with the module's own.
import datetime
import os
from typing import Iterator, List, Literal, NamedTuple, Optional, Tuple, Union

__version__: str
"""The version of Veltra Utility the module was built from."""

_Path = Union[str, "os.PathLike[str]"]
_Timer = Union[datetime.timedelta, str]
_Repeat = Union[int, Literal["continuous"]]

def timer_text(value: datetime.timedelta) -> str:
    """A duration as the controller's timer shows it: "HH:MM:SS.mmm.t"."""

class Status:
    """The controller's settings as its status reply gives them. The times are
    datetime.timedelta values, and its repr shows them so; timer_text(t) gives
    the controller's "HH:MM:SS.mmm.t"."""

    shutter: Literal["open", "close"]
    mode: Literal["fast", "soft", "nd", "none"]
    nd_steps: int
    """Steps of the neutral-density mode (0 unless mode is "nd")."""
    trigger: Literal["off", "high", "low", "rising", "falling"]
    sync: Literal["off", "high", "low"]
    delay: datetime.timedelta
    exposure: datetime.timedelta
    cycle_time: datetime.timedelta
    """delay + exposure + the mode's opening and closing time."""
    repeat: Union[int, Literal["continuous"]]
    """The repeat count, or "continuous"."""
    running_option: Literal["none", "power-up", "trigger", "go"]
    def __init__(self, shutter: str, mode: str, nd_steps: int, trigger: str, sync: str, delay: datetime.timedelta,
                 exposure: datetime.timedelta, cycle_time: datetime.timedelta, repeat: Union[int, str],
                 running_option: str) -> None: ...

class Config:
    """The settings of a .cfg file, read and written by the panel's own codec.

    `Controller.apply(config)` downloads them as "Apply" does."""

    shutter: str
    mode: str
    nd_steps: int
    trigger: str
    sync: str
    delay: datetime.timedelta
    exposure: datetime.timedelta
    repeat: Union[int, str]
    running_option: str
    selected_timer: Optional[str]
    """"delay", "exposure" or None: the timer the panel edits."""
    def __init__(self, shutter: str = ..., mode: str = ..., nd_steps: int = ..., trigger: str = ..., sync: str = ...,
                 delay: datetime.timedelta = ..., exposure: datetime.timedelta = ..., repeat: Union[int, str] = ...,
                 running_option: str = ..., selected_timer: Optional[str] = ...) -> None: ...
    @classmethod
    def load(cls, path: _Path) -> "Config":
        """Reads a .cfg file; raises ConfigFileError when it cannot be read or is cut short."""
    def save(self, path: _Path) -> None:
        """Writes the settings as a .cfg file (beside the old one, then renamed over it)."""
    @classmethod
    def from_status(cls, status: Status) -> "Config":
        """The settings a status reply gives, as a file would hold them."""

class RunReport:
    """One cycle of a followed run: the shutter's opening and closing reports."""

    cycle: int
    """1 for the first cycle seen by this wait."""
    opened: Optional[datetime.datetime]
    """When the opening report arrived (None: the wait joined after it)."""
    closed: Optional[datetime.datetime]
    """When the closing report arrived (None: the run ended open)."""
    cycles_left: Union[int, Literal["continuous"]]
    """Cycles left: 0 at the last cycle, or "continuous"."""

class Difference(NamedTuple):
    """One setting as wanted and as the controller read it back."""

    field: str
    wanted: str
    read: str

class LineSettings(NamedTuple):
    """A line's settings as the device has them. A value an RFC 2217 server
    answers that has no name is "unknown (N)", N its code."""
    baud: int
    data_bits: int
    parity: str
    stop_bits: str

class Port(NamedTuple):
    """A serial port of this machine."""

    device: str
    description: str
    by_id: Tuple[str, ...]

class Error(Exception):
    """Every failure of the veltra module."""

class Timeout(Error, TimeoutError):
    """No answer within the timeout; `step` names what was waited for."""

    step: str

class PortError(Error, OSError):
    """The device cannot be opened or went away. `reason` is "missing",
    "permission", "in use", "closed" or "other"."""

    reason: Literal["missing", "permission", "in use", "closed", "other"]

class VerifyError(Error):
    """A setting read back differs; `differences` lists each one."""

    differences: Tuple[Difference, ...]

class ConfigFileError(Error):
    """A .cfg file that cannot be read or written."""

class RefusedError(Error, ValueError):
    """A value the panel's own checks refuse; nothing was sent."""

class ReplyError(Error):
    """A reply with a field the controller cannot hold (a line fault, or
    another device on the line); the message names the fields."""

class Controller:
    """One Veltra controller on one serial device.

    Controller(device, baud=9600, timeout=2.0, verify=False) opens the device (8N1)
    at once; a relative path is taken from the working folder. Use it as a context
    manager, or call close(): the port is also closed when the object is garbage
    collected, in whichever thread that happens. `timeout` is the seconds each
    answer is waited for (None waits for ever; Ctrl+C still interrupts). `verify`
    reads the status back after each setting; each setter's own verify= overrides it.

    Calls block; the GIL is released while they wait. Every port lives in the
    module's own Qt thread (started on first use, ended at interpreter exit), so a
    Controller may be made, used and dropped in any thread: calls on one
    Controller take turns in the order they arrive, Controllers on different
    devices work in parallel. Ctrl+C interrupts the call under way (within 100 ms)
    and ends what it had under way as a closing port would; the Controller stays
    open and usable."""

    def __init__(self, device: str, baud: int = 9600, timeout: Optional[float] = 2.0, verify: bool = False) -> None: ...
    def __enter__(self) -> "Controller":
        """The Controller itself."""
    def __exit__(self, *args: object) -> None:
        """Closes the port."""
    def close(self) -> None:
        """Releases the port (the shutter stays as it is: see close_shutter()); later calls raise PortError
        ("closed")."""
    @property
    def port_open(self) -> bool:
        """True while the port is open."""
    @property
    def device(self) -> str:
        """The device path."""
    @property
    def line_settings(self) -> Optional[LineSettings]:
        """The line as the device has it (an RFC 2217 server's answers, a local port's settings) as a LineSettings;
        None for socket:// (the server's own) or a closed port."""
    def online(self) -> bool:
        """Sends Online (EE); True when the controller echoes it within the timeout, else False."""
    def status(self) -> Status:
        """Sends Status (CC) and returns the decoded reply as a veltra.Status; a reply with a field the controller
        cannot hold raises veltra.ReplyError."""
    def info(self) -> Tuple[str, str]:
        """Sends Get Controller Info (FD); returns its two lines (8 and 4 characters)."""
    def open_shutter(self, verify: Optional[bool] = None) -> None:
        """Opens the shutter (AA)."""
    def close_shutter(self, verify: Optional[bool] = None) -> None:
        """Closes the shutter (AC). The port stays open: close() releases it."""
    def mode(self, mode: Literal["fast", "soft", "nd"], steps: Optional[int] = None,
             verify: Optional[bool] = None) -> None:
        """Shutter mode: "fast" (DC), "soft" (DD) or "nd" with steps, an int 0..144 (DE nn)."""
    def trigger(self, setting: Literal["off", "high", "low", "rising", "falling"],
                verify: Optional[bool] = None) -> None:
        """Trigger input: "off", "high", "low", "rising" or "falling" (FA Ax)."""
    def sync(self, setting: Literal["off", "high", "low"], verify: Optional[bool] = None) -> None:
        """Sync output: "off", "high" or "low" (FA Bx)."""
    def set_timer(self, timer: Literal["delay", "exposure"], value: _Timer, verify: Optional[bool] = None) -> None:
        """Programs the delay or exposure timer: a datetime.timedelta (whole tenths of a millisecond, up to 5 hours)
        or "HH:MM:SS.mmm.t"."""
    def repeat(self, count: _Repeat, verify: Optional[bool] = None) -> None:
        """Repeat number: an int 0..65000 or "continuous" (FA F0 hi lo)."""
    def run(self, option: Literal["power-up", "trigger", "go"], verify: Optional[bool] = None) -> None:
        """Running option: "power-up" (FA F1), "trigger" (FA F2) or "go" (FA F3, starts the cycle now)."""
    def stop(self) -> None:
        """Stops a run (BF)."""
    def power(self, on: bool) -> None:
        """Shutter power on (CE) or off (CF)."""
    def reset(self) -> None:
        """Resets the controller (FB) and waits until it is back."""
    def restore_defaults(self) -> None:
        """Restores the factory settings (FA C0) and waits for the status that follows."""
    def save_to_controller(self) -> None:
        """Makes the current settings the power-up settings (FA C1)."""
    def apply(self, config: Union[Config, _Path], verify: Optional[bool] = None) -> None:
        """Downloads a whole configuration as "Apply" does: a veltra.Config or the path of a .cfg file. A device
        that goes away during it raises PortError ("closed")."""
    def read_config(self, path: _Path) -> Status:
        """Reads the status and saves it as a .cfg file; returns the status. A reply the controller cannot have
        writes no file."""
    def wait_run(self) -> Iterator[RunReport]:
        """Follows the run under way (or just started) and returns an iterator over its veltra.RunReport items,
        one per cycle, each handed out as its closing report arrives, with the times its opening and closing
        reports arrived and the cycles left (0 at the last cycle). It ends with the run. With timeout=None it
        waits for each report without a time limit.

        It has no timeout of its own: timeout=None is the Controller's. With a timeout, each report is due
        within one cycle time (as the controller's status gave it) plus that timeout, and the carriage return
        that ends the run within the timeout, else veltra.Timeout; a run on trigger pulses ("trigger") waits
        for its pulses without a limit."""
    def traffic(self) -> List[Tuple[Literal["tx", "rx"], bytes]]:
        """The bytes on the line since the last call, as ("tx" | "rx", bytes) pairs (the newest 16 MiB kept)."""

def ports() -> List[Port]:
    """The serial ports of this machine with their descriptions and /dev/serial/by-id names."""

class Simulator:
    """veltra-sim, a simulated Veltra controller on a pseudo-terminal, as a
    context manager: entering starts it and returns the terminal's path (also
    `device`), to hand to Controller; leaving stops it. A script or its tests
    then run without hardware:

        with veltra.Simulator("--exposure-ms", "20") as device, veltra.Controller(device) as c:
            print(c.status())

    `args` are veltra-sim's options (see veltra-sim --help): the saved settings
    it powers up with ("--delay-ms", "--exposure-ms", "--repeat",
    "--power-up-option"), "--time-scale", "--pace-baud", "--link PATH".
    `program` is the veltra-sim to run; by default $VELTRA_SIM, else the one
    beside the package (the wheel carries one), else the build folder's when
    the package is imported from a build folder, else veltra-sim on PATH.
    `timeout` is the seconds it may take to start and to stop. What it writes
    on standard error goes to the "veltra" logger (--verbose: at DEBUG)."""

    args: List[str]
    program: Optional[str]
    timeout: float
    device: Optional[str]
    """The path of the simulator's terminal once started (None before)."""
    def __init__(self, *args: str, program: Optional[str] = None, timeout: float = 10.0) -> None: ...
    def start(self) -> str:
        """Starts veltra-sim and returns the path of its terminal, once it
        serves it. Raises FileNotFoundError when there is no veltra-sim, and
        veltra.Error when it ends or stays silent instead."""
    def stop(self) -> None:
        """Stops veltra-sim (its terminal goes with it). Stopping a stopped
        simulator does nothing."""
    def trigger(self) -> None:
        """One pulse on the simulated trigger input: it runs a cycle while the
        running option "trigger" waits for one."""
    @property
    def running(self) -> bool:
        """True from start() until stop() (or until veltra-sim ends by itself)."""
    def __enter__(self) -> str: ...
    def __exit__(self, *args: object) -> None: ...
