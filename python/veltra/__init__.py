"""Drive a Veltra shutter controller from Python.

The module wraps the same C++ client as veltractl: every call goes through the
panel's own actions, checks, decoder and download pacing, so a script sends the
bytes the panel sends for the same thing.

    import veltra
    with veltra.Controller("/dev/ttyUSB0") as c:
        c.open()
        print(c.status())

The module logs on the "veltra" logger: every line of traffic at DEBUG (as
veltractl --trace prints it), the port opened, closed or lost at INFO,
refusals and timeouts at WARNING. Nothing is printed unless logging is
configured, e.g. logging.basicConfig(level=logging.DEBUG).
"""

import logging as _logging

from ._types import (Config, ConfigFileError, Difference, Error, Port, PortError, RefusedError, RunReport,
                     Status, Timeout, VerifyError, timer_text)
from ._veltra import Controller, ports
from ._version import __version__

_logging.getLogger(__name__).addHandler(_logging.NullHandler())

__all__ = ["__version__", "Controller", "Status", "Config", "RunReport", "Difference", "Port", "ports", "timer_text", "Error",
           "Timeout", "PortError", "VerifyError", "ConfigFileError", "RefusedError"]
