#!/usr/bin/env bash
# MODE=both under Wine, in a Wine session of its own with a fresh prefix
# (private network namespace, Xvfb):
#
#   wine-session.sh both-test.sh VarnWin32-VERSION.msi varn-dialog-probe.exe
#
# A silent install with MODE=both puts in the service (RUNNING, answering,
# the firewall rules for its program) and VarnWin32.exe with the Run value;
# the program the Run value starts is the view of the service: it shows a
# beacon's text, its ping target goes out through the service, and Exit
# leaves the service RUNNING and answering. The uninstall leaves nothing.
# Then the switch of a station where a user's dialog runs: MODE=dialog, the
# dialog started, MODE=both over it: the dialog is not ended and becomes the
# view, the installer waits for it to let go of the port and the service
# starts; MODE=service takes the dialog's program and Run value and leaves
# the service and the running view alone.
set -u
msi=${1:?installer}
probe_exe=${2:?varn-dialog-probe.exe}
here=$(cd "$(dirname "$0")" && pwd)

local_address=10.1.2.5   # the namespace's interface (tests/netns/run-in-netns.sh)
requester=10.0.0.9
beacon_address=10.0.0.10
deadline_ms=30000
view_caption="VarnWin32 (service)"
# Shortcuts are not turned into desktop entries outside the prefix.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-};winemenubuilder.exe=d"

work=$(mktemp -d /tmp/varn-both.XXXXXX)
dialog=""
beacon=""
failed=0
cleanup() {
  touch "$work/stop"
  for pid in $beacon $dialog; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

. "$here/test-lib.sh"

install_dir="$WINEPREFIX/drive_c/Program Files/VarnWin32"
service_exe='C:\Program Files\VarnWin32\VarnWin32Service.exe'
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
service_state() { wine_out sc query VarnWin32 | awk '/STATE/ {print $4}'; }
service_running() { [ "$(service_state)" = RUNNING ]; }
answers() { python3 "$here/peer.py" status "$requester" "$local_address" "$1" >/dev/null 2>&1; }
run_command() { wine_out reg query "$run_key" /v VarnWin32 | sed -n 's/^ *VarnWin32  *REG_SZ  *//p'; }
# The dialog as the Run value starts it at logon.
start_dialog() {
  local exe
  exe=$(run_command)
  (cd "$install_dir" && WINEDEBUG=-all wine "${exe//\"/}" >/dev/null 2>&1) &
  dialog=$!
}
# A program file in use when it is removed stays: Windows deletes it at the
# next restart (msiexec ends with 3010), Wine's msi only leaves it. Named,
# then removed here.
check_clean() {
  if [ -e "$install_dir" ]; then
    echo "   in use when removed, left for the restart: $(ls "$install_dir")"
    rm -rf "$install_dir"
  fi
  service_state | grep -q . && fail "the service is still there ($(service_state))"
  [ ! -e "$install_dir" ] || fail "$install_dir is still there: $(ls "$install_dir")"
  [ -z "$(run_command)" ] || fail "the Run value is still there"
  expect_no_registry_or_cache
}

step "silent install with MODE=both in a fresh prefix"
msiexec /i "$msi" MODE=both || fail "the install failed"
ls "$install_dir" | sed 's/^/   /'
[ -f "$install_dir/VarnWin32.exe" ] && [ -f "$install_dir/VarnWin32Service.exe" ] || fail "not both programs installed"
echo "   Run value: $(run_command)"
[ "$(run_command)" = '"C:\Program Files\VarnWin32\VarnWin32.exe"' ] || fail "no Run value starting VarnWin32.exe"
[ "$(custom_action_runs netsh.exe | grep -F 'add rule' | grep -cF "program=\"$service_exe\"")" = 2 ] ||
  fail "the firewall rules are not for the service's program"
poll 10 service_running || fail "the service is $(service_state), not RUNNING"
wine_out sc query VarnWin32 | grep STATE | sed 's/^/   /'
answers 20 || fail "the service does not answer a status request"

step "the dialog the Run value starts is the view of the service"
start_dialog
probe wait-window "$view_caption" "$deadline_ms" || fail "no dialog \"$view_caption\""
: >"$work/received"
python3 "$here/peer.py" beacon "$beacon_address" "pump 3" "hall B" 10.1.2.77 2 240 "$work/received" "$work/stop" &
beacon=$!
VARN_PROBE_CAPTION=$view_caption probe wait-text 40041 "$beacon_address : pump 3 : hall B : " "$deadline_ms" ||
  fail "the view shows no beacon text"
echo "   slot 0: $(VARN_PROBE_CAPTION=$view_caption probe text 40041)"

step "the view's ping target goes out through the service"
export VARN_PROBE_CAPTION=$view_caption
probe set-address 10.1.2.3 && probe command 40025 || fail "Set Ping Target IP"
command_seen() { grep -qF "b'<setPingTarget>10.1.2.3</setPingTarget>'" "$work/received"; }
poll 20 command_seen || fail "the beacon got no <setPingTarget> command"
probe wait-text 40033 "10.1.2.3" "$deadline_ms" || fail "the view does not show the ping target"

step "Exit closes the view only: the service RUNNING and answering"
probe command 1 || fail "no Exit"
wait_exit "$dialog" 30
status=$?
dialog=""
[ "$status" -eq 0 ] || fail "the view ended with status $status"
service_running || fail "the service is $(service_state) after the view's Exit"
answers 5 || fail "the service does not answer after the view's Exit"
unset VARN_PROBE_CAPTION

step "the uninstall leaves no service, file, Run value or registry key"
msiexec /x "$msi" || fail "the uninstall failed"
check_clean

step "MODE=both over a running dialog: the dialog goes on as the view, the service starts"
msiexec /i "$msi" MODE=dialog || fail "the install of the dialog failed"
[ -z "$(run_command)" ] || fail "a Run value with MODE=dialog"
(cd "$install_dir" && WINEDEBUG=-all wine 'C:\Program Files\VarnWin32\VarnWin32.exe' >/dev/null 2>&1) &
dialog=$!
poll 3 answers 1 || fail "the dialog does not answer"
probe wait-window "Varn Win32" "$deadline_ms" || fail "no dialog \"Varn Win32\""
msiexec /i "$msi" MODE=both || fail "the switch to both failed"
grep -a 'VarnWin32: UDP port' "$work/last.log" | sed 's/^.*VarnWin32: /   log: /'
running "$dialog" || fail "the switch ended the running dialog"
[ -n "$(run_command)" ] || fail "no Run value after the switch to both"
probe wait-window "$view_caption" "$deadline_ms" || fail "the running dialog did not become the view"
poll 10 service_running || fail "the service is $(service_state) after the switch"

step "MODE=service over both: the dialog's program and Run value go, the service runs on"
msiexec /i "$msi" MODE=service || fail "the switch to the service failed"
[ -z "$(run_command)" ] || fail "the Run value is still there"
service_running || fail "the service is $(service_state) after the switch"
answers 5 || fail "the service does not answer after the switch"
running "$dialog" || fail "the switch ended the running view"
[ -e "$install_dir/VarnWin32.exe" ] && echo "   VarnWin32.exe stays while the view runs from it"
VARN_PROBE_CAPTION=$view_caption probe command 1 || fail "no Exit"
wait_exit "$dialog" 30 >/dev/null
dialog=""
msiexec /x "$msi" || fail "the uninstall failed"
check_clean

if [ "$failed" -ne 0 ]; then
  echo "both-roles test FAILED"
  exit 1
fi
echo "both-roles test passed"
