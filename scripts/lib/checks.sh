# Shared by the shell checks (check-package, check-wheel, the Windows tests,
# demo): one line per check, counted, and a wait with a deadline. Source it.

passed=0 failed=0 skipped=0
check() {  # check NAME COMMAND...: one check, quiet unless it fails
  local name=$1 out
  shift
  if out=$("$@" 2>&1); then
    passed=$((passed + 1)); echo "ok    $name"
  else
    failed=$((failed + 1)); echo "FAIL  $name"; [ -n "$out" ] && sed 's/^/      /' <<<"$out"
  fi
}
# With CI set in the environment a skip fails unless .ci/allowed-skips lists
# the check's name with a reason (VELTRA_ALLOWED_SKIPS names another list).
allowed_skips=${VELTRA_ALLOWED_SKIPS:-$(dirname "${BASH_SOURCE[0]}")/../../.ci/allowed-skips}
skip_listed() {  # skip_listed NAME: the list gives NAME a reason ("NAME  reason")
  [ -f "$allowed_skips" ] && awk -v name="$1" '
    /^#/ { next }
    match($0, /(\t|  )[ \t]*/) && substr($0, 1, RSTART - 1) == name && RSTART + RLENGTH <= length($0) { found = 1 }
    END { exit !found }' "$allowed_skips"
}
skip() {  # skip NAME REASON
  if [ -n "${CI:-}" ] && ! skip_listed "$1"; then
    failed=$((failed + 1)); echo "FAIL  $1 (skipped: $2; CI is set and $allowed_skips does not list it)"
  else
    skipped=$((skipped + 1)); echo "skip  $1 ($2)"
  fi
}
finish() {  # finish NAME: the closing count; exits 0 when nothing failed
  echo "$1: $passed passed, $failed failed, $skipped skipped"
  [ "$failed" -eq 0 ]
  exit
}
wait_for() {  # wait_for SECONDS COMMAND...: polls a condition with a deadline
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}
