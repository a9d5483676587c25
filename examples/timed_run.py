#!/usr/bin/python3
"""A timed run followed cycle by cycle: the controller runs its programmed
cycle (delay, then the shutter open for the exposure) a number of times, and
the script prints each cycle as its closing report arrives. Every byte on the
line goes to a traffic log through the "veltra" logger.

    python3 timed_run.py /dev/serial/by-id/usb-FTDI_...-if00-port0
    python3 timed_run.py --simulate          # veltra-sim: no hardware needed
    python3 timed_run.py --simulate --cycles 5 --exposure-ms 100 --traffic run.log
"""

import argparse
import contextlib
import datetime
import logging
import os
import sys

import veltra


def main() -> int:
    parser = argparse.ArgumentParser(description="A timed run of a Veltra shutter controller, cycle by cycle.")
    parser.add_argument("device", nargs="?", default=os.environ.get("VELTRA_DEVICE"),
                        help="the controller's serial device (default: $VELTRA_DEVICE)")
    parser.add_argument("--simulate", action="store_true", help="run veltra-sim and drive it instead")
    parser.add_argument("--cycles", type=int, default=3, help="how many cycles (default 3)")
    parser.add_argument("--delay-ms", type=float, default=50.0, help="delay before each opening (default 50)")
    parser.add_argument("--exposure-ms", type=float, default=200.0, help="how long the shutter is open (default 200)")
    parser.add_argument("--traffic", metavar="FILE", help="log every byte sent and received to FILE")
    args = parser.parse_args()
    if not args.simulate and not args.device:
        parser.error("name the device (or set VELTRA_DEVICE), or give --simulate")

    if args.traffic:
        log = logging.getLogger("veltra")  # traffic lines are DEBUG records of this logger
        log.setLevel(logging.DEBUG)
        log.addHandler(logging.FileHandler(args.traffic))

    with contextlib.ExitStack() as stack:
        device = stack.enter_context(veltra.Simulator()) if args.simulate else args.device
        shutter = stack.enter_context(veltra.Controller(device, timeout=2.0))
        shutter.mode("fast")
        shutter.set_timer("delay", datetime.timedelta(milliseconds=args.delay_ms))
        shutter.set_timer("exposure", datetime.timedelta(milliseconds=args.exposure_ms))
        shutter.repeat(args.cycles, verify=True)  # every setting read back once, here
        cycle_time = shutter.status().cycle_time
        print(f"{args.cycles} cycles of {cycle_time.total_seconds() * 1000:.1f} ms on {device}")
        shutter.run("go")
        try:
            for report in shutter.wait_run():  # each cycle as its closing report arrives
                if report.opened and report.closed:
                    seen = f"open {(report.closed - report.opened).total_seconds() * 1000:.0f} ms"
                else:  # the wait began after the opening, or the run ended open
                    seen = f"opened {report.opened}, closed {report.closed}"
                print(f"cycle {report.cycle}: {seen}, {report.cycles_left} left")
        except KeyboardInterrupt:
            shutter.stop()  # Ctrl+C: the controller stops the run too
            print("stopped", file=sys.stderr)
            return 130
    return 0


if __name__ == "__main__":
    sys.exit(main())
