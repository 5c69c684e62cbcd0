#!/usr/bin/env bash
# The Windows service and its installer under Wine, in a Wine session of its
# own with a fresh prefix (private network namespace, Xvfb):
#
#   wine-session.sh service-test.sh VarnWin32-VERSION.msi UPGRADE.msi
#
# A silent install with MODE=service and ALLOW_STATUS_FROM puts in the
# service VarnWin32 (LocalService, automatic, its option in the registry
# and not on its command line, recovery, firewall rules, the Event Log
# source) and no dialog; the
# service runs and answers a status request from the allowed address and
# not from another; its start line reaches the Event Log; net stop stops it
# within 2 s with its stop lines; a start while the port is taken (by the
# program run from a console) stops with the service's exit code and its
# reason in the Event Log; Ctrl+C stops the console run cleanly; a second
# start works. A Group Policy value replaces the installer's at the next
# start (another address answered, the installer's not); a bad one stops
# the start with exit code 2 and the reason in the Event Log. MODE=dialog switches to the dialog, MODE=service back (a
# switch over a running dialog is both-test.sh's); other options over the
# installed service are refused; an upgrade keeps mode and option, the
# uninstall leaves no service, file or registry key of ours, and a bad
# ALLOW_STATUS_FROM fails the install with 1603 and the program's reason in
# the installer's log.
#
# What Wine does not carry out is shown as what was set: the recovery (sc
# failure runs; Wine's service manager does not keep failure actions) and
# the Event Log (Wine's ReportEventW writes its entries to the trace only;
# the rendering through the message table is win32_service_tests).
set -u
msi=${1:?installer}
upgrade_msi=${2:?upgrade installer}
here=$(cd "$(dirname "$0")" && pwd)
version=$(basename "$msi" .msi)
version=${version#VarnWin32-}

local_address=10.1.2.5   # the namespace's interface (tests/netns/run-in-netns.sh)
allowed=10.0.0.9
other=10.0.0.10
stop_limit_ms=2000
# Shortcuts are not turned into desktop entries outside the prefix.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-};winemenubuilder.exe=d"

work=$(mktemp -d /tmp/varn-service.XXXXXX)
console=""
failed=0
cleanup() {
  for pid in $console; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  if [ "$failed" -ne 0 ]; then
    echo "-- Wine's trace of the service manager and the service (last 40 lines):"
    tail -n 40 "$work/services.log" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

. "$here/test-lib.sh"

drive_c=$WINEPREFIX/drive_c
install_dir="$drive_c/Program Files/VarnWin32"
service_exe='C:\Program Files\VarnWin32\VarnWin32Service.exe'
service_key='HKLM\System\CurrentControlSet\Services\VarnWin32'
source_key='HKLM\System\CurrentControlSet\Services\EventLog\Application\VarnWin32'
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

service_state() { wine_out sc query VarnWin32 | awk '/STATE/ {print $4}'; }
service_running() { [ "$(service_state)" = RUNNING ]; }
service_stopped() { [ "$(service_state)" = STOPPED ]; }
service_value() { wine_out reg query "$service_key" /v "$1" | sed -n "s/^ *$1  *REG_[A-Z_]*  *//p"; }
# A value the installer kept for the service (HKLM\Software\VarnWin32).
setting() { wine_out reg query 'HKLM\Software\VarnWin32' /v "$1" | sed -n "s/^ *$1  *REG_[A-Z_]*  *//p"; }
policy_key='HKLM\Software\Policies\VarnWin32'
answers() { python3 "$here/peer.py" status "$1" "$local_address" "$2" >/dev/null 2>&1; }
entries() { wine_out reg query "$uninstall_key" /s | grep -c 'DisplayName.*REG_SZ.*VarnWin32$'; }
# What Wine's ReportEventW recorded: the entry's text, by its level (trace,
# warn or err of the eventlog channel).
event_logged() { grep -a ":$1:eventlog:ReportEventW L\"$2" "$work/services.log" >/dev/null; }
# A line of the service's debugger output.
debug_logged() { grep -aF "OutputDebugStringA \"$1" "$work/services.log" >/dev/null; }
# The Wine time stamp (seconds) of the first trace line holding $1.
stamp_of() { grep -aF "$1" "$work/services.log" | head -n 1 | cut -d: -f1; }

step "Wine's service manager restarted with its trace to a file"
# Services inherit the service manager's environment and standard error:
# their debugger output and their ReportEventW calls (with the entry's
# type and identifier) go to services.log, time-stamped.
wine_out cmd /c exit
wineboot -k
WINEDEBUG=-all,+timestamp,+debugstr,+eventlog,fixme+advapi,fixme+service wine cmd /c exit 2>"$work/services.log"

step "silent install with MODE=service ALLOW_STATUS_FROM=$allowed (and AUTOSTART=1, which the service ignores)"
msiexec /i "$msi" MODE=service ALLOW_STATUS_FROM="$allowed" AUTOSTART=1 || fail "the install failed"
[ -f "$install_dir/VarnWin32Service.exe" ] || fail "no VarnWin32Service.exe under Program Files"
[ -e "$install_dir/VarnWin32.exe" ] && fail "the dialog program is installed too"
wine_out reg query "$run_key" /v VarnWin32 >/dev/null && fail "a Run value in service mode"
[ "$(entries)" = "1" ] || fail "not exactly one uninstall entry ($(entries))"
poll 10 service_running || fail "the service is not RUNNING"
wine_out sc query VarnWin32 | sed 's/^/   /'

step "the service's configuration, Event Log source, firewall rules and recovery"
image=$(service_value ImagePath)
account=$(service_value ObjectName)
echo "   ImagePath: $image"
echo "   ObjectName: $account; Start: $(service_value Start); Type: $(service_value Type)"
[ "$image" = "$service_exe" ] || fail "ImagePath is $image, not the program alone"
echo "   AllowStatusFrom: $(setting AllowStatusFrom)"
[ "$(setting AllowStatusFrom)" = "$allowed" ] || fail "AllowStatusFrom is '$(setting AllowStatusFrom)'"
[ "$account" = 'NT AUTHORITY\LocalService' ] || fail "the service runs as $account"
[ "$(service_value Start)" = 0x2 ] || fail "the service does not start automatically"
[ "$(service_value Type)" = 0x10 ] || fail "the service is not SERVICE_WIN32_OWN_PROCESS"
wine_out reg query "$source_key" | grep -E 'EventMessageFile|TypesSupported' | sed 's/^ */   /'
wine_out reg query "$source_key" /v EventMessageFile | grep -qF "REG_EXPAND_SZ    $service_exe" ||
  fail "the Event Log source does not name the service's program as its message file"
wine_out reg query "$source_key" /v TypesSupported | grep -q '0x7$' || fail "TypesSupported is not 7"
custom_action_runs netsh.exe | grep -F 'add rule' | sed 's/^/   netsh /'
[ "$(custom_action_runs netsh.exe | grep -F 'add rule' | grep -cF "program=\"$service_exe\"")" = 2 ] ||
  fail "the firewall rules are not for the service's program"
[ "$(custom_action_runs netsh.exe | grep -F 'add rule' | grep -cF ' service=VarnWin32 ')" = 2 ] ||
  fail "the firewall rules do not name the service"
custom_action_runs netsh.exe | grep -F 'localport=45654' | grep -qF " remoteip=$allowed/32 " ||
  fail "the status rule is not only from $allowed/32"
custom_action_runs sc.exe | sed 's/^/   sc /'
custom_action_runs sc.exe | grep -qxF 'failure VarnWin32 reset= 86400 actions= restart/5000/restart/5000/restart/5000' ||
  fail "no recovery set with sc failure"
custom_action_runs sc.exe | grep -qxF 'failureflag VarnWin32 1' || fail "no sc failureflag"
# Wine's service manager does not keep failure actions (and its sc has no
# failureflag or qfailure): what it says of them.
grep -a 'SERVICE_CONFIG_FAILURE_ACTIONS' "$work/services.log" | sed 's/^[^:]*:[^:]*:/   Wine: /'

step "a status request from $allowed is answered, one from $other is not"
answers "$allowed" 20 || fail "no status reply to the allowed address $allowed"
answers "$other" 3 && fail "a status reply to $other, which is not allowed"

step "the start entry is in the Event Log"
start_line="VarnWin32 $version starting with --allow-config-from anyone --allow-status-from $allowed/32"
poll 10 event_logged trace "$start_line" || fail "no information entry \"$start_line ...\""
grep -a -B1 "eventlog:ReportEventW L\"VarnWin32 $version starting" "$work/services.log" | head -n 2 |
  cut -d: -f2- | sed 's/^/   /'
grep -aq 'ReportEventW (00000000CAFE4242,0x0004,0x0000,0x40000001,' "$work/services.log" ||
  fail "no ReportEventW call of type information (0x0004) with event 0x40000001"

step "net stop VarnWin32: STOPPED within 2 s, with the service's stop lines"
started=$(date +%s%N)
wine_out net stop VarnWin32 | sed 's/^/   /'
echo "   net stop took $(( ($(date +%s%N) - started) / 1000000 )) ms (Wine's net.exe included)"
query=$(wine_out sc query VarnWin32)
echo "$query" | grep -E 'STATE|EXIT_CODE' | sed 's/^/   /'
echo "$query" | grep -q 'STATE *: 1 *STOPPED' || fail "the service is not STOPPED after net stop"
echo "$query" | grep -q ' WIN32_EXIT_CODE *: 0 ' || fail "the stop's exit code is not 0"
for line in "VarnWin32 service: stop from the service manager" "KivServer::stop" "KivServer::run HAS EXITED CORRECTLY" \
  "VarnWin32 service stopped"; do
  event_logged trace "$line" || fail "no stop entry \"$line\""
done
asked=$(stamp_of 'L"VarnWin32 service: stop from the service manager"')
stopped=$(stamp_of 'L"VarnWin32 service stopped"')
if [ -n "$asked" ] && [ -n "$stopped" ]; then
  stop_ms=$(awk -v a="$asked" -v b="$stopped" 'BEGIN {printf "%d", (b - a) * 1000}')
  echo "   the service stopped $stop_ms ms after the stop request"
  [ "$stop_ms" -lt "$stop_limit_ms" ] || fail "the service took $stop_ms ms to stop"
fi

# A stopped service's exit codes: ERROR_SERVICE_SPECIFIC_ERROR and its own.
stopped_with() {
  local query
  query=$(wine_out sc query VarnWin32)
  echo "$query" | grep -E 'STATE|EXIT_CODE' | sed 's/^/   /'
  echo "$query" | grep -q ' WIN32_EXIT_CODE *: 1066 ' || fail "$2 is not ERROR_SERVICE_SPECIFIC_ERROR"
  echo "$query" | grep -q "SERVICE_EXIT_CODE *: $1 " || fail "the service's own exit code is not $1"
}

step "the program from a console holds port 45654; a service start then fails with its reason"
WINEDEBUG=-all wine "$service_exe" >"$work/console.out" 2>"$work/console.err" &
console=$!
poll 30 answers "$other" 1 || fail "the program from a console does not answer"
wine_out sc start VarnWin32 >/dev/null
poll 10 service_stopped || fail "the service is $(service_state), not STOPPED, with the port taken"
stopped_with 1 "the failed start"
reason="VarnWin32 cannot start: UDP port 45654 is already in use"
poll 10 event_logged err "$reason" || fail "no error entry \"$reason\""
grep -a "eventlog:ReportEventW L\"$reason" "$work/services.log" | head -n 1 | cut -d: -f2- | sed 's/^/   /'

step "Ctrl+C stops the console run cleanly"
# Wine turns SIGINT into the console's CTRL_C_EVENT. (Ctrl+Break cannot be
# sent under Wine 8: tests/wine/console-break.sh.)
kill -INT "$console"
wait_exit "$console" 10
status=$?
console=""
[ "$status" -eq 0 ] || fail "the console run ended with status $status after Ctrl+C"
tr -d '\r' <"$work/console.err" | grep -E 'starting with|All Started|KivServer::stop|HAS EXITED' | sed 's/^/   /'
grep -q 'KivServer::run HAS EXITED CORRECTLY' "$work/console.err" ||
  fail "the console run did not stop its worker cleanly (its standard error: $(tail -n 3 "$work/console.err"))"

step "a second start works"
wine_out net start VarnWin32 | sed 's/^/   /'
poll 10 service_running || fail "the service is $(service_state) after net start"
answers "$allowed" 20 || fail "no status reply after the second start"

step "a policy value over the installer's takes effect at the next start"
wine_out reg add "$policy_key" /v AllowStatusFrom /d "$other" /f >/dev/null || fail "reg add failed"
wine_out net stop VarnWin32 >/dev/null
wine_out net start VarnWin32 >/dev/null
poll 10 service_running || fail "the service is $(service_state) with the policy value"
answers "$other" 20 || fail "no status reply to $other, which the policy allows"
answers "$allowed" 3 && fail "a status reply to $allowed, which the policy replaced"
start_line="VarnWin32 $version starting with --allow-config-from anyone --allow-status-from $other/32"
poll 10 event_logged trace "$start_line" || fail "no information entry \"$start_line ...\""

step "a bad policy value stops the start with exit code 2 and its reason in the Event Log"
wine_out reg add "$policy_key" /v StatusRate /t REG_DWORD /d 100001 /f >/dev/null || fail "reg add failed"
wine_out net stop VarnWin32 >/dev/null
wine_out sc start VarnWin32 >/dev/null
poll 10 service_stopped || fail "the service is $(service_state), not STOPPED, with StatusRate 100001"
stopped_with 2 "the refused start"
refusal() { grep -a ':err:eventlog:ReportEventW L"VarnWin32: .*status-rate.*100001' "$work/services.log"; }
poll 10 refusal >/dev/null || fail "no error entry with the refusal of StatusRate 100001"
grep -a ':err:eventlog:ReportEventW L"VarnWin32.*100001' "$work/services.log" | cut -d: -f2- | sed 's/^/   /'
grep -aq ':err:eventlog:ReportEventW L"VarnWin32 service: options from the registry: .*StatusRate=100001' \
  "$work/services.log" || fail "the refusal does not say the value came from the registry"
wine_out reg delete "$policy_key" /f >/dev/null
wine_out net start VarnWin32 >/dev/null
poll 10 service_running || fail "the service is $(service_state) once the policy is gone"
answers "$allowed" 20 || fail "no status reply to $allowed once the policy is gone"

step "MODE=dialog over the service switches to the dialog"
msiexec /i "$msi" MODE=dialog || fail "the switch to the dialog failed"
service_state | grep -q . && fail "the service is still there ($(service_state))"
[ -f "$install_dir/VarnWin32.exe" ] || fail "no VarnWin32.exe after the switch"
[ -e "$install_dir/VarnWin32Service.exe" ] && fail "VarnWin32Service.exe is still there"
custom_action_runs netsh.exe | grep -F 'add rule' | grep -qvF 'VarnWin32.exe"' && fail "a rule is not for the dialog"
[ "$(entries)" = "1" ] || fail "not exactly one uninstall entry after the switch ($(entries))"

step "MODE=service over the dialog switches back"
msiexec /i "$msi" MODE=service ALLOW_STATUS_FROM="$allowed" || fail "the switch to the service failed"
[ -e "$install_dir/VarnWin32.exe" ] && fail "VarnWin32.exe is still there"
poll 10 service_running || fail "the service is $(service_state) after the switch"
[ "$(setting AllowStatusFrom)" = "$allowed" ] || fail "the option is not kept: '$(setting AllowStatusFrom)'"
answers "$allowed" 20 || fail "no status reply after the switch"
answers "$other" 3 && fail "a status reply to $other after the switch"

step "other options over the installed service are refused, the service left as it was"
MSIEXEC_QUIET=1 msiexec /i "$msi" ALLOW_STATUS_FROM=10.0.0.0/24
status=$?
[ "$status" -eq $((1603 % 256)) ] || fail "msiexec ended with $status, not 1603"
grep -aF 'VarnWin32 is installed as a service with other options, which an installation of the same version does not change.' "$work/last.log" | head -n 1 | sed 's/^/   log: /'
grep -aqF 'VarnWin32 is installed as a service with other options, which an installation of the same version does not change.' "$work/last.log" ||
  fail "the installer's log does not say why"
[ "$(setting AllowStatusFrom)" = "$allowed" ] || fail "the service's option changed: '$(setting AllowStatusFrom)'"
poll 10 service_running || fail "the service is $(service_state) after the refusal"

step "an upgrade keeps the mode and the option"
msiexec /i "$upgrade_msi" || fail "the upgrade failed"
[ "$(entries)" = "1" ] || fail "not exactly one uninstall entry after the upgrade ($(entries))"
wine_out reg query "$uninstall_key" /s | grep -E 'DisplayVersion' | sed 's/^ */   /'
poll 10 service_running || fail "the service is $(service_state) after the upgrade"
[ "$(setting AllowStatusFrom)" = "$allowed" ] || fail "the upgrade did not keep the option: '$(setting AllowStatusFrom)'"
[ "$(service_value ImagePath)" = "$service_exe" ] || fail "ImagePath is $(service_value ImagePath) after the upgrade"
answers "$allowed" 20 || fail "no status reply after the upgrade"

# Nothing of ours in the prefix: service, files, registry, cached package.
check_clean() {
  service_state | grep -q . && fail "the service is still there ($(service_state))"
  [ ! -e "$install_dir" ] || fail "$install_dir is still there: $(ls "$install_dir")"
  expect_no_registry_or_cache
}

step "the uninstall leaves no service, file or registry key of ours"
msiexec /x "$upgrade_msi" || fail "the uninstall failed"
check_clean
custom_action_runs netsh.exe | sed 's/^/   netsh /'

step "a bad ALLOW_STATUS_FROM fails the install with 1603 and the reason in the log"
MSIEXEC_QUIET=1 msiexec /i "$msi" MODE=service ALLOW_STATUS_FROM=10.1.2.0/33
status=$?
# 1603 (ERROR_INSTALL_FAILURE) reaches Linux as its low 8 bits.
[ "$status" -eq $((1603 % 256)) ] || fail "msiexec ended with $status, not 1603 ($((1603 % 256)) here)"
reason="VarnWin32: --allow-status-from: '10.1.2.0/33' is not an address (a.b.c.d) or a network (a.b.c.d/n)"
grep -aF "$reason" "$work/last.log" | sed 's/^/   log: /'
grep -aqF "$reason" "$work/last.log" || fail "the installer's log does not give the reason"
check_clean

step "SPREAD becomes the service's --spread and is checked like the others"
MSIEXEC_QUIET=1 msiexec /i "$msi" MODE=service SPREAD=601
status=$?
[ "$status" -eq $((1603 % 256)) ] || fail "msiexec ended with $status, not 1603 ($((1603 % 256)) here)"
reason="VarnWin32: --spread: '601' is not a whole number from 0 to 600"
grep -aqF "$reason" "$work/last.log" || fail "the installer's log does not give the reason for SPREAD=601"
check_clean

if [ "$failed" -ne 0 ]; then
  echo "service test FAILED"
  exit 1
fi
echo "service test passed"
