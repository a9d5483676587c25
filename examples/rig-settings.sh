#!/bin/sh
# A rig's settings from the shell with veltractl: set them one by one, each
# read back; keep them in a .cfg file; restore the factory settings and send
# the file again with every field checked; then run three cycles and follow
# them to the end. The first failure stops the script with veltractl's exit
# code (2 a refused value, 3 no device, 4 no answer, 5 a setting read back
# otherwise: see "man veltractl").
#
#   VELTRA_DEVICE=/dev/serial/by-id/usb-FTDI_...-if00-port0 sh rig-settings.sh [FILE.cfg]
#
# To try it without a controller: veltra-sim prints its terminal's path; give
# that as VELTRA_DEVICE.
set -eu
: "${VELTRA_DEVICE:?set VELTRA_DEVICE to the controller's serial device}"
export VELTRA_DEVICE
config=${1:-rig.cfg}

veltractl --verify mode soft
veltractl --verify timer delay 00:00:00.100.0
veltractl --verify timer exposure --ms 250        # the fields instead of the text
veltractl --verify repeat 3
veltractl read-config "$config"                   # the controller's settings as a .cfg file
veltractl restore-defaults
veltractl apply "$config" --verify                # all of them back, each field compared

# One field of the status, from its JSON line.
cycle=$(veltractl status --json | sed -n 's/.*"cycle_time":"\([^"]*\)".*/\1/p')
echo "cycle time $cycle"

veltractl run go --wait                           # one line per shutter report until the run ends
