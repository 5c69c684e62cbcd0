#!/usr/bin/env bash
# VarnWin32.exe as the view of a running VarnWin32Service.exe under Wine, in
# a Wine session of its own:
#
#   wine-session.sh view-test.sh VarnWin32Service.exe VarnWin32.exe varn-dialog-probe.exe
#
# The service runs from a console on a pipe of the test's own; the dialog
# started with the same --view-socket is its view: a beacon's text and
# indicator come through the pipe, "Set Ping Target IP" reaches the beacon
# sent by the service, the service stopped shows the waiting line while the
# dialog leaves the ports alone, the service back brings the view back, and
# "Exit" ends the dialog while the service goes on answering. A dialog
# started before its service waits for it and leaves the ports to it.
set -u
service_exe=${1:?VarnWin32Service.exe}
exe=${2:?VarnWin32.exe}
probe_exe=${3:?varn-dialog-probe.exe}
here=$(cd "$(dirname "$0")" && pwd)

local_address=10.1.2.5
requester=10.0.0.9
beacon_address=10.0.0.10
pipe='\\.\pipe\VarnWin32Test\view'
deadline_ms=30000
export VARN_PROBE_CAPTION="VarnWin32 (service)"

work=$(mktemp -d /tmp/varn-view.XXXXXX)
service=""
dialog=""
beacon=""
failed=0
cleanup() {
  touch "$work/stop"
  for pid in $beacon $dialog $service; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  if [ "$failed" -ne 0 ]; then
    echo "-- the service's standard error (last 30 lines):"
    tr -d '\r' <"$work/service.err" 2>/dev/null | tail -n 30
    echo "-- the dialog's debug output (last 20 lines):"
    tail -n 20 "$work/dialog.log" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

. "$here/test-lib.sh"

start_service() {
  WINEDEBUG=-all wine "$service_exe" --view-socket "$pipe" >"$work/service.out" 2>>"$work/service.err" &
  service=$!
}
listening() { tr -d '\r' <"$work/service.err" | grep -qF "View channel: listening on $pipe"; }
answers() { python3 "$here/peer.py" status "$requester" "$local_address" "$1" >/dev/null 2>&1; }

step "VarnWin32Service.exe from a console serves the pipe"
start_service
poll 60 listening || fail "the service does not say it listens on $pipe"
answers 20 || fail "the service does not answer a status request"

: >"$work/received"
python3 "$here/peer.py" beacon "$beacon_address" "pump 3" "hall B" 10.1.2.77 2 240 \
  "$work/received" "$work/stop" &
beacon=$!

# The dialog's debug output, and Wine's own errors of its process.
start_dialog() {
  WINEDEBUG=-all,+debugstr,err+all wine "$exe" --view-socket "$pipe" >"$work/dialog.out" 2>"$work/dialog.log" &
  dialog=$!
}
# A dialog that never shows ends the test at once, with its status.
expect_window() {
  probe wait-window "VarnWin32 (service)" "$deadline_ms" && return 0
  fail "no dialog \"VarnWin32 (service)\""
  running "$dialog" || { wait "$dialog"; fail "the dialog ended at its start with status $?"; }
  dialog=""
  exit 1
}

step "VarnWin32.exe --view-socket is the service's view"
start_dialog
expect_window
probe wait-text 40041 "$beacon_address : pump 3 : hall B : " "$deadline_ms" || fail "slot 0 text"
probe wait-colour 40038 0 255 0 "$deadline_ms" || fail "beacon indicator 0 is not green"
echo "   slot 0: $(probe text 40041)"
tr -d '\r' <"$work/service.err" | grep -E 'viewer' | sed 's/^/   /'

step "Set Ping Target IP goes through the service to the beacon"
probe set-address 10.1.2.3 || fail "set-address"
probe command 40025 || fail "Set Ping Target IP"
command_seen() { grep -qF "b'<setPingTarget>10.1.2.3</setPingTarget>'" "$work/received"; }
poll 20 command_seen || fail "the beacon got no <setPingTarget> command"
probe wait-text 40033 "10.1.2.3" "$deadline_ms" || fail "current ping target text"

step "the service stopped: the waiting line, and the dialog leaves the ports alone"
kill -INT "$service"
wait_exit "$service" 15 >/dev/null
service=""
probe wait-text 40041 "The VarnWin32 service is not running; waiting for it" "$deadline_ms" ||
  fail "no waiting line"
probe wait-colour 40038 205 205 205 "$deadline_ms" || fail "beacon indicator 0 is not grey"
answers 3 && fail "a status request was answered with the service stopped"

step "the service back: the view back by itself"
start_service
poll 60 listening || fail "the restarted service does not listen"
back=$(date +%s%N)
probe wait-text 40041 "$beacon_address : pump 3 : hall B : " "$deadline_ms" || fail "slot 0 text after the restart"
echo "   view back $(( ($(date +%s%N) - back) / 1000000 )) ms after the pipe was made"

step "Exit ends the dialog only; the service goes on answering"
probe command 1 || fail "Exit"
wait_exit "$dialog" 30
status=$?
dialog=""
[ "$status" -eq 0 ] || fail "the dialog ended with status $status"
running "$service" || fail "the service ended with the dialog"
answers 20 || fail "the service does not answer after the dialog's Exit"
poll 20 eval 'tr -d "\r" <"$work/service.err" | grep -q "View channel: .* left"' ||
  echo "   (no line for the viewer leaving)"

step "started before its service, the dialog waits for it and leaves the ports alone"
kill -INT "$service"
wait_exit "$service" 15 >/dev/null
service=""
start_dialog
expect_window
start_service
poll 60 listening && answers 20 || fail "the service started after the dialog does not answer"
probe wait-text 40041 "$beacon_address : pump 3 : hall B : " "$deadline_ms" || fail "slot 0 text, service after dialog"

if [ "$failed" -ne 0 ]; then
  echo "view test FAILED"
  exit 1
fi
echo "view test passed"
