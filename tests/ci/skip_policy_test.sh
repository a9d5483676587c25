#!/usr/bin/env bash
# With CI set, a skip fails unless the list names it with a reason; without
# CI a skip is a skip. Each kind of test: a GoogleTest case (the listener of
# tests/support), a pytest test (its plugin), a shell check (scripts/lib),
# and a CTest test that exits 77 (.ci/summary, the closing line of .ci/run).
#   skip_policy_test.sh SKIP_PROBE PYTHON
set -uo pipefail
probe=$1 python=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$root/scripts/lib/checks.sh"
export VELTRA_ALLOWED_SKIPS=$here/allowed-skips
unset CI

runs() {  # runs STATUS PATTERN COMMAND...: exits with STATUS and prints PATTERN
  local want=$1 pattern=$2 out status
  shift 2
  out=$("$@" 2>&1); status=$?
  [ "$status" -eq "$want" ] || { echo "exit $status, expected $want:"; echo "$out"; return 1; }
  grep -qE -- "$pattern" <<<"$out" || { echo "no /$pattern/ in:"; echo "$out"; return 1; }
}
lacks() {  # lacks PATTERN COMMAND...: the output has no PATTERN
  local pattern=$1 out
  shift
  out=$("$@" 2>&1)
  ! grep -qE -- "$pattern" <<<"$out" || { echo "/$pattern/ in:"; echo "$out"; return 1; }
}
gtest() { "$probe" --gtest_filter="Probe.$1"; }
ci() { CI=true "$@"; }

# GoogleTest: CTest reports a case as skipped by the "[  SKIPPED ]" line.
check "gtest, no CI: an unlisted skip is a skip" runs 0 '^\[  SKIPPED \] Probe.UnlistedSkip' gtest UnlistedSkip
check "gtest, CI: an unlisted skip fails, naming the case and the list" \
  runs 1 "skip_probe.Probe.UnlistedSkip skipped \(no pseudo-terminal here\) with CI set, and .*allowed-skips does not list it" \
  ci gtest UnlistedSkip
check "gtest, CI: the failed case is not reported as skipped" lacks 'SKIPPED' ci gtest UnlistedSkip
check "gtest, CI: a listed skip is a skip" runs 0 '^\[  SKIPPED \] Probe.ListedSkip' ci gtest ListedSkip
check "gtest, CI: a name listed without a reason allows nothing" runs 1 'does not list it' ci gtest ListedWithoutReason
check "gtest, CI: the other cases still pass" runs 0 '^\[  PASSED  \] 1 test' ci gtest Passes

# pytest, node ids from the repository's root.
pytest() { "$python" -m pytest -q -rA -p no:cacheprovider -p pytest_skip_policy --rootdir "$root" "$here/probe_skips.py"; }
export PYTHONPATH=$root/tests/support${PYTHONPATH:+:$PYTHONPATH} PYTHONDONTWRITEBYTECODE=1
check "pytest, no CI: skips are skips" runs 0 '2 skipped' pytest
check "pytest, CI: the unlisted skip fails, the listed one skips" \
  runs 1 '1 failed, 1 passed, 1 skipped, 1 xfailed' ci pytest
check "pytest, CI: the failure names the test and the list" \
  runs 1 '^tests/ci/probe_skips.py::test_unlisted skipped \(no pseudo-terminal here\) with CI set, and .*allowed-skips does not list it' ci pytest

# The shell checks of scripts/lib.
shell_skip() { (. "$root/scripts/lib/checks.sh"; skip "$1" "a reason"; finish probe); }
check "shell, no CI: an unlisted skip is a skip" runs 0 'probe: 0 passed, 0 failed, 1 skipped' shell_skip "unlisted shell check"
check "shell, CI: an unlisted skip fails" runs 1 'probe: 0 passed, 1 failed, 0 skipped' ci shell_skip "unlisted shell check"
check "shell, CI: a listed skip is a skip" runs 0 'probe: 0 passed, 0 failed, 1 skipped' ci shell_skip "listed shell check"

# CTest's tests that exit 77, in the log .ci/run reads: the closing line.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
ctest_log() {  # ctest_log SKIPPED-NAME...: 5 tests, 1 failed, the named ones skipped
  printf '%s\n' "60% tests passed, 1 tests failed out of 5" "" "The following tests did not run:"
  local i=2
  for name; do printf '\t%3d - %s (Skipped)\n' $((i++)) "$name"; done
  printf '%s\n' "" "The following tests FAILED:" $'\t  1 - broken (Failed)'
}
summary() { "$root/.ci/summary" "$log" "$1"; }
ctest_log listed_ctest_test >"$log"
check "ci, no CI: a skip is neither passed nor failed" runs 1 '^ci: 3 passed, 1 failed$' summary 1
ctest_log listed_ctest_test unlisted_ctest_test >"$log"
check "ci, no CI: an unlisted skip does not fail the run" runs 0 '^ci: 2 passed, 1 failed$' summary 0
check "ci, CI: an unlisted skip fails the run and is counted" runs 1 '^ci: 2 passed, 2 failed$' ci summary 0
check "ci, CI: the run names it" runs 1 '^skipped, unlisted: unlisted_ctest_test$' ci summary 0
ctest_log listed_ctest_test >"$log"
check "ci, CI: a listed skip passes the run" runs 0 '^ci: 3 passed, 1 failed$' ci summary 0
finish skip-policy
