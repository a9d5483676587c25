#!/bin/bash
# sim_service.sh CONTROL_PORT SIM [ARG...]: a simulated controller for a
# Windows test program under Wine, which starts this Unix program itself.
# Connects to the program's control port (127.0.0.1:CONTROL_PORT), serves
# veltra-sim with ARGs over rfc2217:// (sim_over_network.sh) and sends its
# URL as one line, or "error: WHY". Then "kill" (the device vanishes: both
# killed at once) or "term" on the control connection, or its end, stops
# veltra-sim and ser2net; "stopped" answers once both have ended.
# Wine hands over its own PATH: the system's is set here.
export PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/lib/checks.sh"
. "$here/sim_over_network.sh"
control=$1
shift
exec 3<>"/dev/tcp/127.0.0.1/$control" || exit 1
dir=$(mktemp -d -t veltra-sim-service.XXXXXX)
pids=()
stop() {  # bash's notes on the killed jobs are not the test's output
  exec 2>/dev/null
  kill "-$1" "${pids[@]}"
  wait
  pids=()
}
trap 'stop KILL; rm -rf "$dir"' EXIT
if ! serve_sim "$dir" "$@" >"$dir/why" 2>&1; then
  echo "error: $(tr '\n' ' ' <"$dir/why")" >&3
  exit 1
fi
echo "$url" >&3
read -r how <&3 || how=term
[ "$how" = kill ] && stop KILL || stop TERM
echo stopped >&3
