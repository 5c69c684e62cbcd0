#!/usr/bin/env bash
# The Windows installer under Wine, in a Wine session of its own (private
# network namespace, Xvfb, fresh prefix):
#
#   wine-session.sh installer-test.sh VarnWin32-VERSION.msi UPGRADE.msi varn-dialog-probe.exe OLDER.msi
#
# A silent install with AUTOSTART=1 puts the program under Program Files with
# a Start-menu shortcut, an uninstall entry, the Run value and the firewall
# commands; the installed program starts from there and answers a status
# request; the silent uninstall leaves no file, shortcut or registry value of
# ours. Without AUTOSTART=1 there is no Run value; an older version (OLDER,
# the third version field down) is refused and leaves the installed one in
# place; a later version (UPGRADE, the third field up) replaces the installed
# one with a single uninstall entry, and its uninstall again leaves nothing.
set -u
msi=${1:?installer}
upgrade_msi=${2:?upgrade installer}
probe_exe=${3:?varn-dialog-probe.exe}
older_msi=${4:?older installer}
here=$(cd "$(dirname "$0")" && pwd)

local_address=10.1.2.5   # the namespace's interface (tests/netns/run-in-netns.sh)
requester=10.0.0.9
deadline_ms=30000
# Shortcuts are not turned into desktop entries outside the prefix.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-};winemenubuilder.exe=d"

work=$(mktemp -d /tmp/varn-installer.XXXXXX)
program=""
failed=0
cleanup() {
  [ -n "$program" ] && kill "$program" 2>/dev/null && wait "$program" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

. "$here/test-lib.sh"

drive_c=$WINEPREFIX/drive_c
install_dir="$drive_c/Program Files/VarnWin32"
exe_windows='C:\Program Files\VarnWin32\VarnWin32.exe'
# The all-users Start menu on Windows; Wine's msi puts the per-machine
# shortcut in the user's Start menu.
shortcuts=("$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/VarnWin32.lnk"
  "$drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/VarnWin32.lnk")
shortcut_present() { [ -f "${shortcuts[0]}" ] || [ -f "${shortcuts[1]}" ]; }
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

run_value() { wine_out reg query "$run_key" /v VarnWin32; }
# The uninstall entries naming VarnWin32, one DisplayName line each.
entries() { wine_out reg query "$uninstall_key" /s | grep -c 'DisplayName.*REG_SZ.*VarnWin32$'; }

# Nothing of ours in the prefix: files, the shortcut, registry values.
check_clean() {
  [ ! -e "$install_dir" ] || fail "$install_dir is still there: $(ls "$install_dir")"
  shortcut_present && fail "the Start-menu shortcut is still there"
  run_value >/dev/null && fail "the Run value is still there"
  [ "$(entries)" = "0" ] || fail "an uninstall entry is still there"
  expect_no_registry_or_cache
}

step "silent install with AUTOSTART=1 in a fresh prefix"
msiexec /i "$msi" AUTOSTART=1 || fail "the install failed"
[ -f "$install_dir/VarnWin32.exe" ] || fail "no VarnWin32.exe under Program Files"
msiextract -C "$work/packaged" "$msi" >/dev/null
packaged=$(find "$work/packaged" -iname VarnWin32.exe | head -n1)
cmp -s "$install_dir/VarnWin32.exe" "$packaged" || fail "the installed program is not the packaged one"
shortcut_present || fail "no Start-menu shortcut"
[ "$(entries)" = "1" ] || fail "not exactly one uninstall entry ($(entries))"
run=$(run_value) || fail "no Run value with AUTOSTART=1"
echo "$run" | grep -F 'VarnWin32' | sed 's/^ */   /'
echo "$run" | grep -qF "\"$exe_windows\"" || fail "the Run value does not start $exe_windows"

step "the firewall commands were issued"
# Wine's netsh does not keep firewall rules; what the installer ran is in
# msi's trace.
netsh_runs() { custom_action_runs netsh.exe; }
check_rules() {
  local verb=$1 rule
  for rule in "VarnWin32 status requests (UDP 45654)" "VarnWin32 beacons and group (UDP 34543)"; do
    netsh_runs | grep -qF "advfirewall firewall $verb rule name=\"$rule\"" || fail "no netsh command: $verb rule \"$rule\""
  done
}
netsh_runs | sed 's/^/   netsh /'
check_rules add
netsh_runs | grep -F 'add rule' | grep -qvF "program=\"$exe_windows\"" && fail "a rule is not for $exe_windows"
netsh_runs | grep -F 'localport=45654' | grep -qF ' service=any remoteip=any ' ||
  fail "the dialog's status rule is not from anyone"
# A failed installation deletes the rules again: each rollback is deferred
# to the rollback script before the rules are added.
for rule in 45654 34543; do
  grep -a -A300 "Handling custom action L\"FirewallRollback$rule\"" "$work/trace" | grep -a -m1 'defer_custom_action' |
    grep -q 'deferring rollback action' || fail "no rollback of the rule for UDP $rule scheduled"
done

step "the installed program starts and answers a status request"
(cd "$install_dir" && WINEDEBUG=-all wine "$exe_windows" >/dev/null 2>"$work/program.err") &
program=$!
reply=$(python3 "$here/peer.py" status "$requester" "$local_address" 60) || fail "no status reply"
case "$reply" in "<status>"*"</status>") echo "   $(printf '%s' "$reply" | tr -d '\n' | cut -c1-110)..." ;; *) fail "the reply is not a <status> text" ;; esac
WINEDEBUG=-all wine "$probe_exe" wait-window "Varn Win32" "$deadline_ms" >/dev/null || fail "no dialog"
WINEDEBUG=-all wine "$probe_exe" close >/dev/null || fail "could not close the dialog"
wait "$program"
status=$?
program=""
[ "$status" -eq 0 ] || fail "the program ended with status $status"

step "silent uninstall removes the rules and leaves nothing of ours"
msiexec /x "$msi" || fail "the uninstall failed"
netsh_runs | sed 's/^/   netsh /'
check_rules delete
check_clean

step "without AUTOSTART=1 there is no Run value"
msiexec /i "$msi" || fail "the install failed"
[ -f "$install_dir/VarnWin32.exe" ] || fail "no VarnWin32.exe under Program Files"
run_value >/dev/null && fail "a Run value without AUTOSTART=1"

step "an older version is refused, the installed one stays"
installed_version() { wine_out reg query "$uninstall_key" /s | grep -oP 'DisplayVersion\s+REG_SZ\s+\K\S+'; }
before=$(installed_version)
MSIEXEC_QUIET=1 msiexec /i "$older_msi" && fail "the older version was installed over $before"
# Wine shows a launch condition's message to no one under /qn: the one that
# failed, and the message it carries.
grep -aqF 'MSI_EvaluateConditionW 0 <- L"NOT NEWERVERSIONFOUND"' "$work/trace" || fail "not refused for the newer version"
msiinfo export "$older_msi" LaunchCondition | grep -aF 'NOT NEWERVERSIONFOUND' | cut -f2 | sed 's/^/   /'
[ "$(installed_version)" = "$before" ] || fail "installed: $(installed_version), not $before"
[ -f "$install_dir/VarnWin32.exe" ] || fail "no VarnWin32.exe after the refused downgrade"

step "a later version replaces the installed one"
msiexec /i "$upgrade_msi" || fail "the upgrade failed"
[ "$(entries)" = "1" ] || fail "not exactly one uninstall entry after the upgrade ($(entries))"
wine_out reg query "$uninstall_key" /s | grep -E 'DisplayVersion' | sed 's/^ */   /'
[ -f "$install_dir/VarnWin32.exe" ] || fail "no VarnWin32.exe after the upgrade"

step "its silent uninstall leaves nothing of ours"
msiexec /x "$upgrade_msi" || fail "the uninstall failed"
check_clean

if [ "$failed" -ne 0 ]; then
  echo "installer test FAILED"
  exit 1
fi
echo "installer test passed"
