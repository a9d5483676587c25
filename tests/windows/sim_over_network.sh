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
