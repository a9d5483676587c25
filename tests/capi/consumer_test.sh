#!/usr/bin/env bash
# The installed library as a user's project finds it: the libveltra and
# libveltra-dev components installed into a temporary prefix, then a C
# program built through pkg-config and one through find_package(Veltra),
# each run against veltra-sim.
# Usage: consumer_test.sh BUILD_DIR SOURCE_DIR VELTRA_SIM
set -euo pipefail
build=$1 src=$2 sim_program=$3
tmp=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

for c in libveltra libveltra-dev; do
  cmake --install "$build" --prefix "$tmp/usr" --component "$c" >/dev/null
done

coproc SIM { exec "$sim_program" --exposure-ms 12.5; }
sim_pid=$SIM_PID
read -r -t 10 device <&"${SIM[0]}"
libdir=$(dirname "$(find "$tmp/usr" -name 'libveltra.so.1' | head -n1)")
pcdir=$libdir/pkgconfig

# pkg-config
export PKG_CONFIG_PATH=$pcdir
cc -std=c99 -Wall -Werror -o "$tmp/status-pc" "$src/consumer/status.c" $(pkg-config --cflags --libs veltra)
out=$(LD_LIBRARY_PATH=$libdir "$tmp/status-pc" "$device")
[ "$out" = "exposure 12.5 ms" ] || { echo "pkg-config build printed: $out"; exit 1; }

# find_package(Veltra)
cmake -S "$src/consumer" -B "$tmp/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$tmp/usr" >/dev/null
cmake --build "$tmp/cmake-build" >/dev/null
out=$("$tmp/cmake-build/status" "$device")  # the imported target's rpath finds the library
[ "$out" = "exposure 12.5 ms" ] || { echo "find_package build printed: $out"; exit 1; }
echo "both consumer builds read the simulator's status"
