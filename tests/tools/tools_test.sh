#!/usr/bin/env bash
# The commissioning tools as an engineer runs them: the program on its host
# (10.1.2.5 and 192.168.7.20), the tools on another (the peer namespace:
# watchdog servers 10.1.2.1 and 192.168.7.1, beacon 10.1.2.11).
#
#   tools_test.sh PROGRAM VARN-BEACON VARN-PROBE     (under run-in-netns.sh peers)
set -u
program=${1:?program}
beacon=${2:?varn-beacon}
probe=${3:?varn-probe}
peer_ns=${VARN_PEER_NETNS:?run under tests/netns/run-in-netns.sh peers}
on_peer() { ip netns exec "$peer_ns" "$@"; }

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  exit 1
}

# Polls for a line matching `pattern` in `file`; gives up after 20 s.
await_line() {
  local file=$1 pattern=$2
  for _ in $(seq 1 400); do
    grep -q -- "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

expect_line() {
  local file=$1 pattern=$2
  grep -q -- "$pattern" "$file" || fail "no line matching '$pattern' in $(basename "$file"):
$(cat "$file")"
}

# --- A wrong command line: status 2, nothing on standard output, one line on
# standard error that names the problem. Nothing is sent, but these run on
# the peer side as well, in case one were accepted by mistake.
check_refused() {
  local tool=$1 expected=$2
  shift 2
  on_peer "$tool" "$@" >"$work/out" 2>"$work/err"
  local status=$?
  local lines
  lines=$(wc -l <"$work/err")
  [ $status -eq 2 ] || fail "$(basename "$tool") $* exited $status, not 2"
  [ ! -s "$work/out" ] || fail "$(basename "$tool") $* wrote to standard output: $(cat "$work/out")"
  [ "$lines" -eq 1 ] || fail "$(basename "$tool") $* wrote $lines lines to standard error: $(cat "$work/err")"
  grep -qF -- "$expected" "$work/err" || fail "$(basename "$tool") $* said: $(cat "$work/err")"
}

check_refused "$beacon" "varn-beacon: --from: '10.1.2' is not an IPv4 address (a.b.c.d)" \
  announce --from 10.1.2
check_refused "$beacon" "varn-beacon: --server-port: '70000' is not a whole number from 1 to 65535" \
  configure --server 10.1.2.1 --server-port 70000
check_refused "$beacon" "varn-beacon: --count needs a value" announce --count
check_refused "$beacon" "varn-beacon: no command given" 
check_refused "$beacon" "varn-beacon: listen takes no option '--server' (--help lists the options)" listen --server 10.1.2.1
check_refused "$probe" "varn-probe: status needs the workstation's address" status
check_refused "$probe" "varn-probe: --port: '0' is not a whole number from 1 to 65535" status 10.1.2.5 --port 0
check_refused "$probe" "varn-probe: --in-flight: 'many' is not a whole number from 1 to 1024" status 10.1.2.5 --in-flight many
check_refused "$probe" "varn-probe: listen needs --port" listen

for tool in "$beacon" "$probe"; do
  "$tool" --help >"$work/help" 2>&1 || fail "$(basename "$tool") --help exited non-zero"
  expect_line "$work/help" "^Examples:"
done

# --- The program, started as the operator does; without the status reply
# bound, since the load step below asks for 200 replies as fast as they come,
# and with every log line, since the steps below read its trace.
"$program" --status-rate 0 --log-level debug >"$work/program.out" 2>"$work/program.err" &
program_pid=$!
pids+=("$program_pid")
await_line "$work/program.err" "All Started" || fail "the program did not start"

# Status: one request, one reply with the workstation's own address and port.
on_peer "$probe" status 10.1.2.5 >"$work/status" 2>&1 || fail "varn-probe status: $(cat "$work/status")"
expect_line "$work/status" "^reply seq=1 from=10.1.2.5:45654 rtt_us=[0-9]* bytes=[0-9]* ipAddr=10.1.2.5 ipPort=45654 cpuPercent=[0-9]* os="
expect_line "$work/status" "^summary target=10.1.2.5:45654 sent=1 replies=1 lost=0 refused=0 "

# Several in flight: every request answered and counted once.
on_peer "$probe" status 10.1.2.5 --count 200 --in-flight 4 --quiet >"$work/load" 2>&1 ||
  fail "varn-probe status --count 200: $(cat "$work/load")"
expect_line "$work/load" "^summary target=10.1.2.5:45654 sent=200 replies=200 lost=0 refused=0 "
[ "$(wc -l <"$work/load")" -eq 1 ] || fail "--quiet printed more than the summary: $(cat "$work/load")"

# A port nothing listens on is refused by the host, and said so.
on_peer "$probe" status 10.1.2.5 --port 45655 >"$work/refused" 2>"$work/refused.err"
[ $? -eq 1 ] || fail "a refused status request did not exit 1"
expect_line "$work/refused" "^refused seq=1 to=10.1.2.5:45655 "
expect_line "$work/refused.err" "no reply from 10.1.2.5:45655"

# The configuration from a beacon pairs each interface with the server on its
# network; the program reports to both at its next tick, from each pair's
# own address.
on_peer "$probe" listen --port 5000 --count 2 --duration 30 >"$work/listen" 2>&1 &
listen_pid=$!
pids+=("$listen_pid")
await_line "$work/listen" "^listening on=0.0.0.0:5000" || fail "varn-probe listen did not start: $(cat "$work/listen")"
on_peer "$beacon" configure --from 10.1.2.11 --server 10.1.2.1 --server 192.168.7.1 --server-port 5000 \
  >"$work/configure" 2>&1 || fail "varn-beacon configure: $(cat "$work/configure")"
expect_line "$work/configure" "^sent configuration seq=1 from=10.1.2.11:[0-9]* to=224.2.2.224:34543 bytes=[0-9]* servers=10.1.2.1,192.168.7.1 port=5000$"
wait "$listen_pid" || fail "varn-probe listen did not hear two reports: $(cat "$work/listen")"
for local in 10.1.2.5 192.168.7.20; do
  expect_line "$work/listen" " report from=$local:34543 bytes=[0-9]* ipAddr=$local interfaces=10.1.2.5,192.168.7.20 cpu=[0-9]* host=[^ ]* since_last=-$"
done
expect_line "$work/listen" "^summary keep_alives=0 reports=2 alarms=0 other=0 "

# The ping-target command, sent from the workstation's host as the dialog
# sends it: the beacon's side hears three copies, and the program takes its
# own for a command.
on_peer "$beacon" listen --count 3 --duration 20 >"$work/beacon-listen" 2>&1 &
beacon_listen_pid=$!
pids+=("$beacon_listen_pid")
await_line "$work/beacon-listen" "^listening group=224.2.2.224:34543" || fail "varn-beacon listen did not start"
"$beacon" ping-target 10.1.2.3 --quiet >"$work/command" 2>&1 || fail "varn-beacon ping-target: $(cat "$work/command")"
wait "$beacon_listen_pid" || fail "varn-beacon listen did not hear three commands: $(cat "$work/beacon-listen")"
[ "$(grep -c " command from=10.1.2.5:[0-9]* bytes=39 pingTarget=10.1.2.3 " "$work/beacon-listen")" -eq 3 ] ||
  fail "the commands heard: $(cat "$work/beacon-listen")"
await_line "$work/program.err" "cmd=\[23\]" || fail "the program did not take the command for one"

kill -TERM "$program_pid"
wait "$program_pid" || fail "the program exited $? after SIGTERM"
echo "commissioning tools against the program: ok"
