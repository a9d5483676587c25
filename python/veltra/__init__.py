"""Drive a Veltra shutter controller from Python.

The module wraps the same C++ client as veltractl: every call goes through the
panel's own actions, checks, decoder and download pacing, so a script sends the
bytes the panel sends for the same thing.

    import veltra
    with veltra.Controller("/dev/ttyUSB0") as c:
        c.open_shutter()
        print(c.status())

Every port lives in the module's own Qt thread (started on first use, ended
at interpreter exit): a Controller may be made, used and dropped in any
thread; calls on one Controller take turns, Controllers on different devices
work in parallel.

The module logs on the "veltra" logger: every line of traffic at DEBUG (as
veltractl --trace prints it), the port opened, closed or lost at INFO,
refusals, timeouts and line settings an RFC 2217 server put otherwise than
asked at WARNING. Nothing is printed unless logging is
configured, e.g. logging.basicConfig(level=logging.DEBUG).

Simulator() runs veltra-sim, the simulated controller, so that a script and
its tests run without hardware:

    with veltra.Simulator() as device, veltra.Controller(device) as c:
        print(c.status())
"""

import atexit
import logging as _logging

from ._types import (Config, ConfigFileError, Difference, Error, LineSettings, Port, PortError, RefusedError,
                     ReplyError, RunReport, Status, Timeout, VerifyError, timer_text)
from ._sim import Simulator
from ._veltra import Controller, _shutdown, ports
from ._version import __version__

atexit.register(_shutdown)
_logging.getLogger(__name__).addHandler(_logging.NullHandler())

__all__ = ["__version__", "Controller", "Simulator", "Status", "Config", "RunReport", "Difference", "LineSettings", "Port",
           "ports",
           "timer_text", "Error", "Timeout", "PortError", "VerifyError", "ConfigFileError", "RefusedError", "ReplyError"]
