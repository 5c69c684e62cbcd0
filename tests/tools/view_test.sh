#!/usr/bin/env bash
# varn-probe view against the real service program with a view socket of its
# own: the program on its host (10.1.2.5), a beacon and a watchdog server on
# the peer (10.1.2.11, 10.1.2.1).
#
#   view_test.sh PROGRAM VARN-BEACON VARN-PROBE     (under run-in-netns.sh peers)
set -u
program=${1:?program}
beacon=${2:?varn-beacon}
probe=${3:?varn-probe}
peer_ns=${VARN_PEER_NETNS:?run under tests/netns/run-in-netns.sh peers}
on_peer() { ip netns exec "$peer_ns" "$@"; }

work=$(mktemp -d)
socket=$work/view
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -CONT "$p" 2>/dev/null; kill "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  exit 1
}

# Polls for a line matching `pattern` in `file`; gives up after `seconds` (20).
await_line() {
  local file=$1 pattern=$2 seconds=${3:-20}
  for _ in $(seq 1 $((seconds * 20))); do
    grep -q -- "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

start_program() {
  "$program" --view-socket "$socket" --status-rate 0 >>"$work/program.out" 2>>"$work/program.err" &
  program_pid=$!
  pids+=("$program_pid")
  await_line "$work/program.err" "All Started" || fail "the program did not start: $(cat "$work/program.err")"
  : >"$work/program.err"
}
waiting="The VarnWin32 service is not running; waiting for it"

# No service: --once gives up within its bound, with the waiting line.
"$probe" view --view-socket "$socket" --once >"$work/none" 2>"$work/none.err"
[ $? -eq 1 ] || fail "view --once without a service did not exit 1"
grep -qF "varn-probe: $waiting" "$work/none.err" || fail "view --once without a service said: $(cat "$work/none.err")"

start_program
on_peer "$beacon" announce --from 10.1.2.11 --name press-4 --location hall --ping-target 10.1.2.3 --rate 5 \
  --duration 120 --quiet >/dev/null 2>&1 &
pids+=($!)

# A snapshot shows the beacon (its ping target from its second
# announcement on), as text and as JSON.
beacon_line="^slot slot=1 state=current address=10.1.2.11 name=press-4 location=hall .* pingTarget=10.1.2.3 health=2 pingState=good$"
for _ in $(seq 1 40); do
  "$probe" view --view-socket "$socket" --once >"$work/once" 2>&1 || fail "view --once: $(cat "$work/once")"
  grep -q "$beacon_line" "$work/once" && break
  sleep 0.25
done
grep -q "$beacon_line" "$work/once" || fail "view --once: $(cat "$work/once")"
grep -q "^station cpu=[0-9]* host=" "$work/once" || fail "view --once: no station line: $(cat "$work/once")"
"$probe" view --view-socket "$socket" --json >"$work/json" 2>&1 || fail "view --json: $(cat "$work/json")"
python3 -c 'import json, sys
state = json.load(open(sys.argv[1]))
slot = state["slots"][0]
assert slot["address"] == "10.1.2.11" and slot["state"] == "current" and slot["pingState"] == "good", slot
assert state["slots"][2]["state"] == "none" and isinstance(state["events"], list)' "$work/json" ||
  fail "view --json: $(cat "$work/json")"

# A live view through a restart of the service: the waiting line, then the
# beacon again, by itself.
"$probe" view --view-socket "$socket" >"$work/live" 2>&1 &
live_pid=$!
pids+=("$live_pid")
await_line "$work/live" "address=10.1.2.11" || fail "the live view did not show the beacon: $(cat "$work/live")"
kill -TERM "$program_pid"
wait "$program_pid" || fail "the program exited $? after SIGTERM"
await_line "$work/live" "^$waiting$" 5 || fail "the live view did not say the service is away: $(cat "$work/live")"
start_program
for _ in $(seq 1 100); do
  sed -n "/^$waiting$/,\$p" "$work/live" | grep -q "address=10.1.2.11" && break
  sleep 0.05
done
sed -n "/^$waiting$/,\$p" "$work/live" | grep -q "^slot slot=1 state=current address=10.1.2.11 " ||
  fail "the live view did not come back: $(cat "$work/live")"

# A viewer that stops reading: the service goes on answering status requests
# and sending keep-alives, and closes that viewer once its queue is full.
# Cloud datagrams become event items, for every viewer.
on_peer "$probe" listen --port 5000 --duration 60 >"$work/listen" 2>&1 &
listen_pid=$!
pids+=("$listen_pid")
await_line "$work/listen" "^listening on=" || fail "varn-probe listen did not start: $(cat "$work/listen")"
on_peer "$beacon" configure --from 10.1.2.11 --server 10.1.2.1 --server-port 5000 --quiet >/dev/null 2>&1 ||
  fail "varn-beacon configure failed"
await_line "$work/listen" " report from=10.1.2.5:34543 " || fail "no report after the configuration: $(cat "$work/listen")"
kill -STOP "$live_pid"
stopped_at=$(date +%s)
on_peer "$probe" status 10.1.2.5 --duration 20 --rate 20 --quiet >"$work/status" 2>&1 &
status_pid=$!
on_peer python3 -c 'import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("10.1.2.1"))
for i in range(1500):
    s.sendto(b"<cloud>%05d " % i + b"x" * 1000 + b"</cloud>", ("224.0.2.224", 34543))
    time.sleep(0.01)' &
cloud_pid=$!
pids+=("$cloud_pid")
wait "$status_pid" || fail "status requests during the stop: $(cat "$work/status")"
grep -q "^summary .* lost=0 refused=0 " "$work/status" || fail "status requests during the stop: $(cat "$work/status")"
# A keep-alive heard while the viewer is stopped (they come every 30 s).
await_line "$work/listen" " keep-alive from=10.1.2.5:34543 " 20 || fail "no keep-alive during the stop: $(cat "$work/listen")"
[ $(($(date +%s) - stopped_at)) -le 60 ] || fail "the stop took too long"
grep -q "View channel: .* closed: it stopped reading" "$work/program.err" || fail "the stopped viewer was not closed: $(cat "$work/program.err")"
kill -CONT "$live_pid"
# Closed, it waits and comes back by itself.
await_line "$work/live" "^$waiting$" 5 || fail "the viewer did not see it was closed"
kill -TERM "$live_pid"
wait "$live_pid" || fail "the live view exited $? after SIGTERM"
kill -TERM "$program_pid"
wait "$program_pid" || fail "the program exited $? after SIGTERM"
echo "varn-probe view against the program: ok"
