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
skip() { skipped=$((skipped + 1)); echo "skip  $1 ($2)"; }
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
