#!/usr/bin/env bash
# The programs as an operator starts them: each runs until SIGTERM and then
# exits 0; a second instance cannot have the command port and says so; the
# dialog program without a display says why and exits non-zero.
#   program_test.sh SERVICE_PROGRAM DIALOG_PROGRAM
set -u
service=${1:?service program}
dialog=${2:?dialog program}
log=$(mktemp -d)
trap 'rm -rf "$log"' EXIT

fail() { echo "FAIL: $*"; exit 1; }

# start NAME PROGRAM: runs it in the background until its service is up.
start() {
  "$2" >"$log/$1.out" 2>"$log/$1.err" &
  pid=$!
  for _ in $(seq 1 1000); do
    grep -q 'All Started' "$log/$1.err" && return 0
    kill -0 $pid 2>/dev/null || break
    sleep 0.01
  done
  kill $pid 2>/dev/null
  fail "$1 did not start: $(tail -n 3 "$log/$1.err")"
}

# stop NAME: SIGTERM, then a clean exit with the service stopped.
stop() {
  kill -TERM $pid
  wait $pid
  status=$?
  [ $status -eq 0 ] || fail "$1 exited $status after SIGTERM"
  grep -q 'KivServer::run HAS EXITED CORRECTLY' "$log/$1.err" || fail "$1: no clean stop in the log"
}

start service "$service"
"$service" >"$log/second.out" 2>"$log/second.err"
second=$?
if [ $second -eq 0 ] || ! grep -q 'UDP port 45654 is already in use' "$log/second.err"; then
  kill $pid
  fail "second instance exited $second with: $(tail -n 2 "$log/second.err")"
fi
stop service

QT_QPA_PLATFORM=offscreen start dialog "$dialog"
stop dialog

env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$dialog" >"$log/nodisplay.out" 2>"$log/nodisplay.err"
status=$?
[ $status -ne 0 ] || fail "the dialog program without a display exited 0"
grep -q 'VarnWin32 cannot open its window' "$log/nodisplay.err" || fail "no reason given without a display"
! grep -q 'All Started' "$log/nodisplay.err" || fail "the service started although the window cannot open"

echo "start, stop on SIGTERM, refusal of a second instance, no display: ok"
