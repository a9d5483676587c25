# veltra-sim (the Linux build's) on a pseudo-terminal, served by ser2net as
# rfc2217:// on a free loopback port: the controller the Windows programs
# reach under Wine. Source it after scripts/lib/checks.sh (wait_for); the
# caller keeps `pids` and ends them.

# serve_sim DIR SIM [ARG...]: veltra-sim with ARGs on DIR/pty, ser2net in
# front of it. Sets url (rfc2217://127.0.0.1:PORT), sim_pid and ser2net_pid,
# and adds both to pids. Fails, saying why, when either does not start.
serve_sim() {
  local dir=$1 sim=$2 port ser2net
  shift 2
  ser2net=$(PATH=$PATH:/usr/sbin:/sbin command -v ser2net) || { echo "ser2net is not installed"; return 1; }
  "$sim" --link "$dir/pty" "$@" >"$dir/sim.log" 2>&1 &
  sim_pid=$!
  pids+=("$sim_pid")
  wait_for 10 test -e "$dir/pty" || { echo "veltra-sim did not start"; cat "$dir/sim.log"; return 1; }
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  printf 'connection: &veltra\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%s\n  connector: serialdev,%s,9600n81,local\n' \
    "$port" "$dir/pty" >"$dir/ser2net.yaml"
  "$ser2net" -n -c "$dir/ser2net.yaml" -P "$dir/ser2net.pid" >"$dir/ser2net.log" 2>&1 &
  ser2net_pid=$!
  pids+=("$ser2net_pid")
  _listening() { ss -Hltn "sport = :$1" | grep -q .; }
  wait_for 10 _listening "$port" || { echo "ser2net did not listen on 127.0.0.1:$port"; cat "$dir/ser2net.log"; return 1; }
  url=rfc2217://127.0.0.1:$port
}

# desktop_with_sim OUT PREFIX SIM: a fresh OUT as the working folder, an Xvfb
# display, this Wine prefix's server started with it (Wine takes its display
# when its server starts, so every program of the test gets this one), and
# SIM served as above. Sets pids and a trap that ends them on exit.
desktop_with_sim() {
  local out=$1 prefix=$2 sim=$3 display
  rm -rf "$out"
  mkdir -p "$out"
  cd "$out" || return 1
  pids=()
  trap '_end_pids' EXIT
  display=:$((150 + RANDOM % 100))
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >xvfb.log 2>&1 &
  pids+=($!)
  wait_for 10 test -S "/tmp/.X11-unix/X${display#:}" || { echo "Xvfb did not start"; return 1; }
  export DISPLAY=$display
  WINEPREFIX=$prefix wineserver -w
  serve_sim "$out" "$sim"
}

_end_pids() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
}
