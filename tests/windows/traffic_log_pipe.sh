#!/usr/bin/env bash
# veltra-utility.exe under Wine with --traffic-log on a named pipe whose
# reader (pipe_helper.exe) never reads: the panel must keep answering while
# its lines wait, and must end when it is closed, without waiting for the
# reader. COM1 is the Linux build's veltra-sim behind ser2net, so there is
# traffic to log.
#   traffic_log_pipe.sh WINE_RUN PREFIX WINDOWS_BIN PIPE_HELPER LINUX_SIM OUT_DIR
# Exit 77 (skipped) where ser2net or Xvfb is missing.
set -uo pipefail
wine_run=$1 prefix=$2 winbin=$3 helper=$4 sim=$5 out=$6

[ -x "$sim" ] || { echo "$sim is missing: build the Linux programs first (make build)"; exit 1; }
PATH=$PATH:/usr/sbin:/sbin command -v ser2net >/dev/null || { echo "ser2net is not installed"; exit 77; }
command -v Xvfb >/dev/null || { echo "Xvfb is not installed"; exit 77; }

. "$(dirname "$0")/../../scripts/lib/checks.sh"
. "$(dirname "$0")/sim_over_network.sh"
wine() { "$wine_run" "$prefix" "$@"; }
# Programs in the background are started without a shell function between:
# their ids are the Windows programs' own, so cleanup ends them.
desktop_with_sim "$out" "$prefix" "$sim" || exit 1

pipe=veltra-test-$$
: >reader.log
"$wine_run" "$prefix" "$helper" hold "$pipe" >reader.log 2>&1 &
pids+=($!)
said() { tr -d '\r' <reader.log | grep -q "$1"; }
wait_for 30 said listening || { echo "the reader did not make its pipe:"; cat reader.log; exit 1; }

title="Veltra Utility - COM v1.12"
"$wine_run" "$prefix" "$winbin/veltra-utility.exe" --port "1=$url" --traffic-log "\\\\.\\pipe\\$pipe" >utility.log 2>&1 &
utility=$!
pids+=($utility)

check "the panel opens the pipe" wait_for 60 said connected
check "the reader takes nothing: lines wait in the pipe" wait_for 60 said full
viewable() { xwininfo -name "$title" 2>/dev/null | grep -q "Map State: IsViewable"; }
check "the panel's window is on the screen" wait_for 60 viewable
# The panel polls COM1 all the while: more lines for the full pipe.
check "the panel answers while its log waits" wine "$helper" ping "$title"
check "the panel still answers" wine "$helper" ping "$title"
check "the panel takes the close" wine "$helper" close "$title"
ended() { ! kill -0 "$utility" 2>/dev/null; }
if wait_for 30 ended; then
  wait "$utility"
  status=$?
  check "the panel ends as the close button ends it (status 255), not waiting for the reader" test "$status" = 255
else
  check "the panel ends within 30 s of the close, not waiting for the reader" false
fi
if grep -q "Traffic log stopped" utility.log; then
  check "the log does not stop for a reader that only waits" false
fi
sed 's/^/      utility: /' utility.log | tr -d '\r'
finish "traffic_log_pipe"
