#!/usr/bin/env bash
# VarnWin32.exe under Wine after floods, run inside a Wine session of its own
# (tests/wine/wine-session.sh):
#
#   wine-session.sh flood-test.sh VarnWin32.exe varn-dialog-probe.exe
#
# A burst of 500 datagrams of 3,000 bytes (longer than any receive of the
# program cuts them) to the command port, then 3 s of datagrams of 0 to 1,501
# bytes to the command port, the beacon and cloud groups and port 34543 of
# the interface. After each the command port still answers STATUS_REQUEST,
# and after both a beacon still takes a slot and the close box still ends
# the program with status 0.
set -u
exe=${1:?VarnWin32.exe}
probe_exe=${2:?varn-dialog-probe.exe}
here=$(cd "$(dirname "$0")" && pwd)

local_address=10.1.2.5   # the namespace's interface (tests/netns/run-in-netns.sh)
requester=10.0.0.9
flooder=10.0.0.11
beacon_address=10.0.0.10
deadline_ms=30000

work=$(mktemp -d /tmp/varn-flood.XXXXXX)
program=""
beacon=""
failed=0
cleanup() {
  touch "$work/stop"
  for pid in $beacon $program; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  if [ "$failed" -ne 0 ]; then
    echo "-- program's debug output (last 20 lines):"
    tail -n 20 "$work/debug.log" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

. "$here/test-lib.sh"
answers() { python3 "$here/peer.py" status "$requester" "$local_address" "$1" >/dev/null; }

step "start VarnWin32.exe"
WINEDEBUG=-all,+debugstr wine "$exe" >"$work/program.out" 2>"$work/debug.log" &
program=$!
probe wait-window "Varn Win32" 60000 || fail "no dialog \"Varn Win32\""
answers 30 || fail "no status reply before the floods"

step "500 datagrams of 3,000 bytes to the command port"
python3 "$here/peer.py" flood "$flooder" 500 10 3000 3000 "$local_address:45654" | sed 's/^/   /'
answers 10 || fail "no status reply after the long datagrams"

step "3 s of datagrams of 0 to 1,501 bytes to both ports"
python3 "$here/peer.py" flood "$flooder" 1000000 3 0 1501 "$local_address:45654" \
  224.2.2.224:34543 224.0.2.224:34543 "$local_address:34543" | sed 's/^/   /'
answers 10 || fail "no status reply after the mixed flood"

step "a beacon still takes a slot"
# The flooder's group datagrams took slot 0: the beacon gets slot 1.
python3 "$here/peer.py" beacon "$beacon_address" "pump 3" "hall B" 10.1.2.77 2 60 \
  "$work/received" "$work/stop" &
beacon=$!
probe wait-text 40042 "$beacon_address : pump 3 : hall B : " "$deadline_ms" ||
  fail "the beacon took no slot after the floods"
touch "$work/stop"
wait_exit "$beacon" 10 >/dev/null
beacon=""

step "the close box ends the program with status 0"
probe close || fail "no dialog to close"
wait_exit "$program" 30
status=$?
program=""
[ "$status" -eq 0 ] || fail "VarnWin32.exe ended with status $status"

if [ "$failed" -ne 0 ]; then
  echo "flood test FAILED"
  exit 1
fi
echo "flood test passed"
