#!/usr/bin/python3
"""An acquisition loop: open the shutter, expose, close, a few times, then
print the controller's settings. The device is VELTRA_DEVICE (veltra-sim's
terminal to try it out), else /dev/ttyUSB0.

    VELTRA_DEVICE=/dev/serial/by-id/usb-FTDI_...-if00-port0 python3 acquire.py
"""

import datetime
import os
import time

import veltra

device = os.environ.get("VELTRA_DEVICE", "/dev/ttyUSB0")
exposure = datetime.timedelta(milliseconds=20)
frames = 5

with veltra.Controller(device, timeout=2.0) as shutter:
    shutter.mode("fast")
    shutter.set_timer("exposure", exposure, verify=True)  # read back from the controller
    for frame in range(1, frames + 1):
        shutter.open_shutter()
        time.sleep(exposure.total_seconds())  # the camera integrates here
        shutter.close_shutter()
        print(f"frame {frame}: exposed for {exposure.total_seconds() * 1000:.1f} ms")
    print(shutter.status())
