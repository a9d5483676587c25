"""The values and errors of the veltra module: plain frozen dataclasses and
exception classes. The native part builds and raises them; nothing here talks
to a controller."""

from __future__ import annotations

import dataclasses
import datetime
from typing import NamedTuple, Optional, Tuple, Union


def timer_text(value: datetime.timedelta) -> str:
    """A duration as the controller's timer shows it: "HH:MM:SS.mmm.t"."""
    tenths = (value.days * 86_400_000_000 + value.seconds * 1_000_000 + value.microseconds) // 100
    ms_tenths = tenths % 10_000
    seconds = tenths // 10_000
    return "%02d:%02d:%02d.%03d.%d" % (seconds // 3600, seconds // 60 % 60, seconds % 60, ms_tenths // 10, ms_tenths % 10)


@dataclasses.dataclass(frozen=True)
class Status:
    """The controller's settings as its status reply gives them. The times are
    datetime.timedelta values, and its repr shows them so; timer_text(t) gives
    the controller's "HH:MM:SS.mmm.t"."""

    shutter: str            # "open" or "close"
    mode: str               # "fast", "soft", "nd" or "none"
    nd_steps: int           # steps of the neutral-density mode
    trigger: str            # "off", "high", "low", "rising", "falling"
    sync: str               # "off", "high", "low"
    delay: datetime.timedelta
    exposure: datetime.timedelta
    cycle_time: datetime.timedelta  # delay + exposure + the mode's opening and closing
    repeat: Union[int, str]         # a count, or "continuous"
    running_option: str     # "none", "power-up", "trigger", "go"


@dataclasses.dataclass
class Config:
    """The settings of a .cfg file, read and written by the panel's own codec.

    `Controller.apply(config)` downloads them as "Apply" does."""

    shutter: str = "close"
    mode: str = "fast"
    nd_steps: int = 0
    trigger: str = "off"
    sync: str = "off"
    delay: datetime.timedelta = datetime.timedelta(0)
    exposure: datetime.timedelta = datetime.timedelta(0)
    repeat: Union[int, str] = 1
    running_option: str = "none"
    selected_timer: Optional[str] = None  # "delay", "exposure" or None: the timer the panel edits

    @classmethod
    def load(cls, path: "str | object") -> "Config":
        """Reads a .cfg file; raises ConfigFileError when it cannot be read or is cut short."""
        from . import _veltra
        import os
        return cls(**_veltra._load_config(os.fspath(path)))  # type: ignore[arg-type]

    def save(self, path: "str | object") -> None:
        """Writes the settings as a .cfg file (beside the old one, then renamed over it)."""
        from . import _veltra
        import os
        _veltra._save_config(os.fspath(path), self)  # type: ignore[arg-type]

    @classmethod
    def from_status(cls, status: Status) -> "Config":
        """The settings a status reply gives, as a file would hold them."""
        return cls(status.shutter, status.mode, status.nd_steps, status.trigger, status.sync, status.delay,
                   status.exposure, status.repeat, status.running_option)


@dataclasses.dataclass(frozen=True)
class RunReport:
    """One cycle of a followed run: the shutter's opening and closing reports."""

    cycle: int                            # 1 for the first cycle seen by this wait
    opened: Optional[datetime.datetime]   # when the opening report arrived (None: joined after it)
    closed: Optional[datetime.datetime]   # when the closing report arrived (None: the run ended open)
    cycles_left: Union[int, str]          # cycles left: 0 at the last cycle, or "continuous"


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
    parity: str     # "none", "odd", "even", "mark", "space"
    stop_bits: str  # "1", "1.5", "2"


class Port(NamedTuple):
    """A serial port of this machine."""

    device: str
    description: str
    by_id: Tuple[str, ...]


class Error(Exception):
    """Every failure of the veltra module."""


class Timeout(Error, TimeoutError):
    """No answer within the timeout; `step` names what was waited for."""

    step: str = ""


class PortError(Error, OSError):
    """The device cannot be opened or went away. `reason` is "missing",
    "permission", "in use", "closed" or "other"."""

    reason: str = "other"


class VerifyError(Error):
    """A setting read back differs; `differences` lists each one."""

    differences: Tuple[Difference, ...] = ()


class ConfigFileError(Error):
    """A .cfg file that cannot be read or written."""


class ReplyError(Error):
    """A reply with a field the controller cannot hold (a line fault, or
    another device on the line); the message names the fields."""


class RefusedError(Error, ValueError):
    """A value the panel's own checks refuse; nothing was sent."""
