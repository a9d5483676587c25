#!/usr/bin/env bash
# The C test of libveltra (tests/capi/capi_test.c), built with MinGW against
# veltra.dll, under Wine: each simulator it starts is the Linux build's
# veltra-sim behind ser2net (sim_service.sh, a Unix program the test starts
# through Wine's drive Z:).
#   capi_c.sh WINE_RUN PREFIX CAPI_TEST_EXE LINUX_SIM MODE
# Exit 77 (skipped) where ser2net is missing.
set -uo pipefail
wine_run=$1 prefix=$2 exe=$3 sim=$4 mode=$5
[ -x "$sim" ] || { echo "$sim is missing: build the Linux programs first (make build)"; exit 1; }
PATH=$PATH:/usr/sbin:/sbin command -v ser2net >/dev/null || { echo "ser2net is not installed"; exit 77; }
here=$(cd "$(dirname "$0")" && pwd)
export VELTRA_SIM_SERVICE="Z:$here/sim_service.sh" VELTRA_SIM=$sim
"$wine_run" "$prefix" "$exe" "$mode" | tr -d '\r'
