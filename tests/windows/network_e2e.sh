#!/usr/bin/env bash
# The Windows programs end to end under Wine, through a network port:
# veltra-sim (the Linux build's) on a pseudo-terminal, ser2net serving it as
# rfc2217:// on a loopback port. veltractl.exe must print what the Linux
# veltractl prints and put the same bytes on the line; veltra-utility.exe,
# under Xvfb, must get the Online answer that makes COM1 "Ready for Veltra"
# (a screenshot is saved).
#   network_e2e.sh WINE_RUN PREFIX WINDOWS_BIN LINUX_SIM LINUX_VELTRACTL OUT_DIR
# Exit 77 (skipped) where ser2net or Xvfb is missing.
set -uo pipefail
wine_run=$1 prefix=$2 winbin=$3 sim=$4 ctl=$5 out=$6

for exe in "$sim" "$ctl"; do
  [ -x "$exe" ] || { echo "$exe is missing: build the Linux programs first (make build)"; exit 1; }
done
PATH=$PATH:/usr/sbin:/sbin command -v ser2net >/dev/null || { echo "ser2net is not installed"; exit 77; }
command -v Xvfb >/dev/null || { echo "Xvfb is not installed"; exit 77; }

. "$(dirname "$0")/../../scripts/lib/checks.sh"
. "$(dirname "$0")/sim_over_network.sh"
wine() { "$wine_run" "$prefix" "$@"; }
desktop_with_sim "$out" "$prefix" "$sim" || exit 1

# What each veltractl prints, and the bytes each way without the times.
linux() { "$ctl" --device "$url" "$@"; }
windows() { wine "$winbin/veltractl.exe" --device "$url" "$@" | tr -d '\r'; }
same_output() {  # same_output ARGS...: both print the same and both succeed
  local l w
  l=$(linux "$@") || { echo "Linux veltractl failed: $l"; return 1; }
  w=$(windows "$@") || { echo "veltractl.exe failed: $w"; return 1; }
  diff <(echo "$l") <(echo "$w")
}
traced_bytes() {  # traced_bytes linux|windows ARGS...: the traced lines, times cut off
  local who=$1
  shift
  "$who" --trace "$@" 2>&1 >/dev/null | tr -d '\r' | cut -d' ' -f2-
}

check "veltractl.exe --version" test "$(wine "$winbin/veltractl.exe" --version | tr -d '\r')" = "$("$ctl" --version)"
check "veltractl.exe --help names COM ports, not /dev/ttyS" \
  bash -c "out=\$(\"$wine_run\" \"$prefix\" \"$winbin/veltractl.exe\" --help) && grep -q COM <<<\"\$out\" && ! grep -q /dev/ttyS <<<\"\$out\""
check "status --json: the same output" same_output status --json

# A rig file with settings other than the start-up ones, read back from the controller.
linux mode nd 12 >/dev/null && linux timer delay 00:00:01.250.0 >/dev/null && linux repeat 7 >/dev/null &&
  linux read-config rig.cfg >/dev/null || { echo "could not make rig.cfg"; exit 1; }
linux restore-defaults >/dev/null
traced_bytes linux apply rig.cfg --verify >linux.trace
l=$(linux status --json)
linux restore-defaults >/dev/null
traced_bytes windows apply rig.cfg --verify >windows.trace
check "apply rig.cfg --verify: the same bytes each way" diff linux.trace windows.trace
check "apply rig.cfg --verify: the controller as the Linux build left it" test "$(linux status --json)" = "$l"
check "apply rig.cfg --verify: the same output" same_output apply rig.cfg --verify

# The panel, COM1 on the network port.
"$wine_run" "$prefix" "$winbin/veltra-utility.exe" --port "1=$url" --traffic-log "$out/traffic.log" >utility.log 2>&1 &
utility=$!
pids+=($utility)
# "Ready for Veltra" follows the Online answer on COM1, which the traffic log shows.
online_answered() { grep -qE " RX COM1 [^ ]+( [0-9A-F]{2})* EE( |$)" traffic.log 2>/dev/null; }
check "veltra-utility.exe: the Online answer on COM1 (\"Ready for Veltra\")" wait_for 60 online_answered
# The panel's window once it is on the screen (Wine maps it after the ports
# have opened).
window_id() { xwininfo -name "Veltra Utility - COM v1.12" 2>/dev/null | sed -n 's/^xwininfo: Window id: \(0x[0-9a-f]*\).*/\1/p'; }
viewable() { xwininfo -name "Veltra Utility - COM v1.12" 2>/dev/null | grep -q "Map State: IsViewable"; }
if wait_for 60 viewable; then
  import -window "$(window_id)" panel.png
else
  echo "the windows on the screen:"; xwininfo -root -tree | grep '"'
fi
check "screenshot saved to $out/panel.png" test -s panel.png
kill "$utility" 2>/dev/null
[ "$failed" -eq 0 ]
