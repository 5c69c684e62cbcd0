#!/usr/bin/env bash
# The programs as an operator starts them: each runs until SIGTERM and then
# exits 0; a second instance cannot have the command port and says so once
# (the dialog program's message box closes on SIGTERM, status 1); the dialog
# program without a display says why once, names the windowless program, and
# exits non-zero, and on an X display starts and refuses as elsewhere; a
# closed standard error ends neither program; a wrong command line ends
# either program with one line and status 2 before it opens anything, and
# --help lists the options; the dialog program as the view of a service with
# a view socket opens no port of its own, and SIGTERM ends the view only.
#   program_test.sh SERVICE_PROGRAM DIALOG_PROGRAM
set -u
service=${1:?service program}
dialog=${2:?dialog program}
log=$(mktemp -d)
trap 'rm -rf "$log"' EXIT

fail() { echo "FAIL: $*"; exit 1; }

# once TEXT FILE: the text is on exactly one line of the file.
once() { [ "$(grep -cF "$1" "$2")" -eq 1 ]; }

# ends PID SECONDS: waits for the process to end; its status, or 124 (and
# the process killed) when it is still running.
ends() {
  for _ in $(seq 1 $(($2 * 10))); do
    kill -0 "$1" 2>/dev/null || { wait "$1"; return $?; }
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null
  wait "$1"
  return 124
}

# A status request from this host; true when it is answered within 10 s.
answered() {
  python3 - <<'PY'
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(0.2)
for _ in range(50):
    s.sendto(b"STATUS_REQUEST ", ("127.0.0.1", 45654))
    try:
        if s.recv(2048).startswith(b"<status>"):
            raise SystemExit(0)
    except socket.timeout:
        pass
raise SystemExit(1)
PY
}

# start NAME PROGRAM [ARGS...]: runs it in the background until its service is up.
start() {
  local name=$1
  shift
  "$@" >"$log/$name.out" 2>"$log/$name.err" &
  pid=$!
  for _ in $(seq 1 1000); do
    grep -q 'All Started' "$log/$name.err" && return 0
    kill -0 $pid 2>/dev/null || break
    sleep 0.01
  done
  kill $pid 2>/dev/null
  fail "$name did not start: $(tail -n 3 "$log/$name.err")"
}

# stop NAME: SIGTERM, then a clean exit with the service stopped.
stop() {
  kill -TERM $pid
  wait $pid
  status=$?
  [ $status -eq 0 ] || fail "$1 exited $status after SIGTERM"
  grep -q 'KivServer::run HAS EXITED CORRECTLY' "$log/$1.err" || fail "$1: no clean stop in the log"
}

# refused PROGRAM ARGS...: status 2, one line on standard error that says
# what is wrong ($expected), nothing else.
refused() {
  local program=$1
  shift
  "$program" "$@" >"$log/refused.out" 2>"$log/refused.err"
  local status=$?
  [ $status -eq 2 ] || fail "$(basename "$program") $* exited $status, not 2: $(cat "$log/refused.err")"
  [ "$(wc -l <"$log/refused.err")" -eq 1 ] || fail "$(basename "$program") $* said: $(cat "$log/refused.err")"
  grep -qxF "VarnWin32: $expected" "$log/refused.err" || fail "$(basename "$program") $* said: $(cat "$log/refused.err")"
  [ ! -s "$log/refused.out" ] || fail "$(basename "$program") $* wrote to standard output"
}

# port_refusal FILE PID: waits up to 10 s for the refusal of the status port
# in FILE, or for the process to end.
port_refusal() {
  for _ in $(seq 1 1000); do
    grep -q 'UDP port 45654 is already in use' "$1" && return 0
    kill -0 "$2" 2>/dev/null || return 0
    sleep 0.01
  done
}

# logged FIXED-TEXT FILE: waits up to 5 s for a line holding the text.
logged() {
  for _ in $(seq 1 500); do
    grep -qF -- "$1" "$2" && return 0
    sleep 0.01
  done
  kill $pid 2>/dev/null
  fail "no line with '$1' in $(basename "$2")"
}

start service "$service" --allow-status-from 10.1.2.0/24,127.0.0.1 --status-rate 5 --log-level debug
# Standard error and output in files: at debug every log line and the console
# echo are written (only /dev/null drops them unformatted), byte for byte as
# before there were levels.
printf 'STATUS_REQUEST ' >/dev/udp/127.0.0.1/45654
logged 'remote_endpoint_=[127.0.0.1:' "$log/service.err"
logged 'CPU Total usage:' "$log/service.out"
requester=$(sed -n 's/^remote_endpoint_=\[\(127\.0\.0\.1:[0-9]*\)\]$/\1/p' "$log/service.err" | head -n 1)
printf '%s\n' '==>  UdpKivServer::handle_receive' "RX DATA FROM=[$requester]" \
  'SIP RX DATA  bytes_transferred=[15] data=[STATUS_REQUEST ]' 'UdpKivServer::parseKivMessage' \
  "RX DATA FROM=[$requester]" 'STATUS_REQUEST' 'UdpKivServer::decodeKivMessage' \
  'UdpKivServer::handle_STATUS_REQUEST' "remote_endpoint_=[$requester]" >"$log/expected"
grep -A8 -xF '==>  UdpKivServer::handle_receive' "$log/service.err" | head -n 9 | cmp -s - "$log/expected" ||
  { kill $pid; fail "the trace of a status request at debug: $(grep -A8 -F 'handle_receive' "$log/service.err")"; }
# While the first instance holds the command port, a wrong command line is
# still refused as such: it ends before any socket is opened.
for program in "$service" "$dialog"; do
  expected="--status-rate: 'fast' is not a whole number from 0 to 100000" refused "$program" --status-rate fast
  expected="--allow-config-from: '10.1.2.5/24' has host bits set; the network is 10.1.2.0/24" \
    refused "$program" --allow-config-from 10.1.2.5/24
  expected="unknown option '--allow-from' (--help lists the options)" refused "$program" --allow-from 10.1.2.1
  "$program" --help >"$log/help.out" 2>&1 || fail "$(basename "$program") --help did not exit 0"
  grep -q -- '--allow-config-from CIDR' "$log/help.out" || fail "$(basename "$program") --help: $(head -n 3 "$log/help.out")"
done
"$service" >"$log/second.out" 2>"$log/second.err"
second=$?
if [ $second -eq 0 ] || ! once 'UDP port 45654 is already in use' "$log/second.err"; then
  kill $pid
  fail "second instance exited $second with: $(cat "$log/second.err")"
fi

# The dialog program's refusal: the reason once, a message box, and SIGTERM
# closes the box (the box has been up a while, as when nobody is there).
QT_QPA_PLATFORM=offscreen "$dialog" >"$log/box.out" 2>"$log/box.err" &
box=$!
port_refusal "$log/box.err" $box
sleep 2
kill -TERM $box
ends $box 3
status=$?
if [ $status -ne 1 ] || ! once 'UDP port 45654 is already in use' "$log/box.err"; then
  kill $pid
  fail "second dialog program after SIGTERM: status $status (124: still running), with: $(cat "$log/box.err")"
fi
stop service

# At the default level (info) a status request writes nothing and nothing
# is echoed; with standard error as the journal (JOURNAL_STREAM names its
# device and inode) each line starts with its priority.
: >"$log/journal.err"
journal=$(stat -c '%d:%i' "$log/journal.err")
JOURNAL_STREAM=$journal "$service" >"$log/journal.out" 2>>"$log/journal.err" &
pid=$!
for _ in $(seq 1 1000); do grep -q 'All Started' "$log/journal.err" && break; sleep 0.01; done
answered || { kill $pid; fail "the service at the default level does not answer"; }
# A hangup stops it as cleanly as SIGTERM does.
kill -HUP $pid
wait $pid || fail "the service at the default level exited $? after SIGHUP"
head -n 1 "$log/journal.err" | grep -q "^<6>VarnWin32 [0-9.]* starting with --allow-config-from anyone .* --spread 0 --log-level info$" ||
  fail "the first line in the journal: $(head -n 1 "$log/journal.err")"
grep -qxF '<6>All Started' "$log/journal.err" || fail "no '<6>All Started' in the journal"
grep -qxF '<6>KivServer::run HAS EXITED CORRECTLY' "$log/journal.err" || fail "no clean stop in the journal"
! grep -q 'STATUS_REQUEST\|^[^<]' "$log/journal.err" || fail "the default level wrote: $(grep 'STATUS_REQUEST\|^[^<]' "$log/journal.err")"
[ ! -s "$log/journal.out" ] || fail "the console echo is written at the default level"
JOURNAL_STREAM=$journal "$service" --log-level verbose 2>"$log/journal.err"
[ $? -eq 2 ] && grep -qxF "<3>VarnWin32: --log-level: 'verbose' is not debug, info, warning or error" "$log/journal.err" ||
  fail "a wrong option into the journal: $(cat "$log/journal.err")"
for program in "$service" "$dialog"; do
  version=$("$program" --version) && [ "$version" = "$(basename "$program") $(sed -n 's/^VarnWin32 \([0-9.]*\) starting.*/\1/p' "$log/service.err")" ] ||
    fail "$(basename "$program") --version: $version"
done

QT_QPA_PLATFORM=offscreen start dialog "$dialog"
stop dialog

env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$dialog" >"$log/nodisplay.out" 2>"$log/nodisplay.err"
status=$?
[ $status -ne 0 ] || fail "the dialog program without a display exited 0"
once 'VarnWin32 cannot open its window' "$log/nodisplay.err" ||
  fail "the reason without a display is not given once: $(cat "$log/nodisplay.err")"
grep -q 'varnwin32-service' "$log/nodisplay.err" || fail "no hint at the windowless program"
! grep -q 'All Started' "$log/nodisplay.err" || fail "the service started although the window cannot open"

# Without a display, too, the command line is read first.
expected="--status-rate: '-1' is not a whole number from 0 to 100000" \
  env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb bash -c "$(declare -f refused fail); log=$log; refused $dialog --status-rate -1" ||
  exit 1

# On an X display that answers, the service starts before Qt has its
# display: the program still answers, its refusal still shows the box, and
# SIGTERM still ends either cleanly.
command -v Xvfb >/dev/null 2>&1 || fail "Xvfb not found (tools/setup/install-deps.sh installs it)"
for n in $(seq 90 190); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
done
# The program is the display's first client, and the server ends when its
# last client leaves (as a bare X server resets then, shutting out new
# clients): a start that let go of the display before Qt held it fails.
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -terminate >"$log/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 1 200); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
[ -e "/tmp/.X11-unix/X$n" ] || { kill $xvfb; fail "Xvfb did not start: $(cat "$log/xvfb.log")"; }
DISPLAY=":$n" QT_QPA_PLATFORM=xcb start x-dialog "$dialog"
answered || { kill $pid; kill $xvfb; fail "the dialog program on an X display does not answer"; }
service_pid=$pid
DISPLAY=":$n" QT_QPA_PLATFORM=xcb "$dialog" >"$log/x-box.out" 2>"$log/x-box.err" &
box=$!
port_refusal "$log/x-box.err" $box
kill -TERM $box
ends $box 3
status=$?
pid=$service_pid
if [ $status -ne 1 ] || ! once 'UDP port 45654 is already in use' "$log/x-box.err"; then
  kill $pid $xvfb
  fail "second dialog program on an X display after SIGTERM: status $status, with: $(cat "$log/x-box.err")"
fi
stop x-dialog
ends $xvfb 5 >/dev/null

# Standard error read by a reader that goes away after the first line: the
# program goes on answering and still stops cleanly.
closed_stderr() {
  local fifo="$log/$1.fifo"
  mkfifo "$fifo"
  head -n 1 <"$fifo" >/dev/null &
  local reader=$!
  "$2" >"$log/$1.out" 2>"$fifo" &
  pid=$!
  wait $reader
  answered || { kill -KILL $pid 2>/dev/null; wait $pid; fail "$1 with a closed standard error: no answer (status $?)"; }
  kill -TERM $pid
  ends $pid 10
  status=$?
  [ $status -eq 0 ] || fail "$1 with a closed standard error exited $status after SIGTERM"
}
# The dialog program as the view of the service: no port of its own (no
# refusal), and SIGTERM closes the view while the service answers on.
start view-service "$service" --view-socket "$log/view"
service_pid=$pid
QT_QPA_PLATFORM=offscreen "$dialog" --view-socket "$log/view" >"$log/view.out" 2>"$log/view.err" &
pid=$!
logged 'Showing the VarnWin32 service of this station' "$log/view.err"
kill -TERM $pid
ends $pid 5
status=$?
pid=$service_pid
[ $status -eq 0 ] || { kill $pid; fail "the view after SIGTERM: status $status, with: $(cat "$log/view.err")"; }
! grep -q 'already in use\|All Started' "$log/view.err" || { kill $pid; fail "the view opened ports: $(cat "$log/view.err")"; }
answered || { kill $pid; fail "the service does not answer after its view closed"; }
stop view-service

closed_stderr service-closed "$service"
QT_QPA_PLATFORM=offscreen closed_stderr dialog-closed "$dialog"

echo "start, stop on SIGTERM, refusal of a second instance, no display, an X display, the view of a service, closed standard error, wrong command lines: ok"
