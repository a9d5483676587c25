"""Drive a Veltra shutter controller from Python.

The module wraps the same C++ client as veltractl: every call goes through the
panel's own actions, checks, decoder and download pacing, so a script sends the
bytes the panel sends for the same thing.

    import veltra
    with veltra.Controller("/dev/ttyUSB0") as c:
        c.open()
        print(c.status())
"""

from ._types import (Config, ConfigFileError, Difference, Error, Port, PortError, RefusedError, RunReport,
                     Status, Timeout, VerifyError, timer_text)
from ._veltra import Controller, ports

__all__ = ["Controller", "Status", "Config", "RunReport", "Difference", "Port", "ports", "timer_text", "Error",
           "Timeout", "PortError", "VerifyError", "ConfigFileError", "RefusedError"]
