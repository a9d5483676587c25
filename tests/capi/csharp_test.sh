#!/usr/bin/env bash
# The C# P/Invoke program built with Mono's mcs and run against veltra-sim.
# Usage: csharp_test.sh SOURCE_DIR LIBVELTRA VELTRA_SIM
set -euo pipefail
src=$1 lib=$2 sim_program=$3
tmp=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
mcs -nologo -out:"$tmp/VeltraTest.exe" "$src/csharp/VeltraTest.cs"
coproc SIM { exec "$sim_program" --delay-ms 2 --exposure-ms 3; }
sim_pid=$SIM_PID
read -r -t 10 device <&"${SIM[0]}"
# Mono looks for libveltra.so for "veltra".
ln -s "$lib" "$tmp/libveltra.so"
LD_LIBRARY_PATH=$tmp mono "$tmp/VeltraTest.exe" "$device"
