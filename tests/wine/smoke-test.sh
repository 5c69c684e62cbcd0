#!/usr/bin/env bash
# Smoke test of VarnWin32.exe under Wine, run inside a Wine session of its own
# (private network namespace, Xvfb, fresh or given prefix):
#
#   wine-session.sh smoke-test.sh VarnWin32.exe varn-dialog-probe.exe [SCREENSHOT.png]
#
# The program starts, its dialog appears with its caption, it answers a
# STATUS_REQUEST with the OS description of the version queries, a beacon
# announcement binds slot 0 (text and indicator colours), a configuration
# message pairs the local interface with a watchdog server that then gets the
# status report from port 34543 of that interface, an interface that comes
# while it runs is paired and reports too, the operator's ping target
# reaches the bound beacon (from the button, and from Enter in the address
# entry, which leaves the program running), a second instance refuses to
# start, a wrong command line ends the program with status 2 and one line,
# "Clear" empties the event list, and the close box ends the program with
# status 0.
# Every wait polls its condition against a generous deadline.
set -u
exe=${1:?VarnWin32.exe}
probe_exe=${2:?varn-dialog-probe.exe}
screenshot=${3:-}
here=$(cd "$(dirname "$0")" && pwd)

local_address=10.1.2.5   # the namespace's interface (tests/netns/run-in-netns.sh)
requester=10.0.0.9
beacon_address=10.0.0.10
config_address=10.0.0.11
watchdog_address=10.1.2.2  # same /24 as the interface, in a namespace of its own
watchdog_port=45999
deadline_ms=30000

work=$(mktemp -d /tmp/varn-smoke.XXXXXX)
program=""
second=""
beacon=""
watchdog=""
watchdog2=""
watchdog_ns=""
failed=0
cleanup() {
  touch "$work/stop"
  for pid in $beacon $watchdog $watchdog2 $watchdog_ns $second $program; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  if [ "$failed" -ne 0 ]; then
    echo "-- program's debug output (last 40 lines):"
    tail -n 40 "$work/debug.log" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

. "$here/test-lib.sh"



# Polls a command until it succeeds or $1 seconds have passed.
poll() {
  local tenths=$(($1 * 10))
  shift
  for _ in $(seq 1 "$tenths"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# Window frames drawn by Wine itself: there is no window manager on the X
# server.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
cat >"$work/settings.reg" <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Decorated"="N"
EOF
WINEDEBUG=-all wine regedit /S "$(windows_path "$work/settings.reg")" || fail "regedit"

# The watchdog server is another machine: the far end of the namespace's veth
# link goes into a network namespace of its own, held by a sleeping process.
# (A server on an address of this namespace would not do: Wine ties a socket
# bound to an interface address to that interface.)
unshare -n -- sleep 600 &
watchdog_ns=$!
in_watchdog_ns() { nsenter -t "$watchdog_ns" -n "$@"; }
watchdog_ns_up() { [ "$(readlink "/proc/$watchdog_ns/ns/net")" != "$(readlink /proc/self/ns/net)" ]; }
poll 10 watchdog_ns_up &&
  ip link set varn-ap netns "$watchdog_ns" &&
  in_watchdog_ns ip link set lo up &&
  in_watchdog_ns ip addr add "$watchdog_address/24" dev varn-ap &&
  in_watchdog_ns ip link set varn-ap up || fail "cannot make the watchdog server's namespace"
: >"$work/watchdog"
in_watchdog_ns python3 "$here/peer.py" server "$watchdog_address" "$watchdog_port" 240 \
  "$work/watchdog" "$work/stop" &
watchdog=$!

step "start VarnWin32.exe"
started=$(date +%s)
WINEDEBUG=-all,+debugstr wine "$exe" >"$work/program.out" 2>"$work/debug.log" &
program=$!

step "the dialog appears with its caption"
x_window() { xwininfo -root -tree 2>/dev/null | grep -q '"Varn Win32"'; }
poll 60 x_window || fail "no X window named \"Varn Win32\""
probe wait-window "Varn Win32" "$deadline_ms" || fail "no dialog \"Varn Win32\""
echo "   up after $(( $(date +%s) - started )) s"

step "STATUS_REQUEST gets the <status> reply"
reply=$(python3 "$here/peer.py" status "$requester" "$local_address" 20) || fail "no status reply"
echo "$reply" | sed 's/^/   /'
os=$(printf '%s' "$reply" | sed -n 's:^<os>\(.*\)</os>$:\1:p')
case "$reply" in "<status>"*"</status>") ;; *) fail "the reply is not a <status> text" ;; esac
printf '%s' "$reply" | grep -qF "<ipAddr>$local_address</ipAddr>" ||
  fail "the reply does not name the host's address $local_address"
[[ "$os" =~ ^Microsoft\ .*,\ 64-bit$ ]] || fail "OS description \"$os\" is not that of 64-bit Windows"
probe wait-text 1002 "$os" "$deadline_ms" || fail "the dialog does not show the OS description"

step "a beacon announcement binds slot 0"
: >"$work/received"
python3 "$here/peer.py" beacon "$beacon_address" "pump 3" "hall B" 10.1.2.77 2 240 \
  "$work/received" "$work/stop" &
beacon=$!
probe wait-text 40041 "$beacon_address : pump 3 : hall B : " "$deadline_ms" || fail "slot 0 text"
probe wait-text 40045 "10.1.2.77  :  2" "$deadline_ms" || fail "slot 0 ping-target text"
probe wait-colour 40038 0 255 0 "$deadline_ms" || fail "beacon indicator 0 is not green"
probe wait-colour 40044 0 255 0 "$deadline_ms" || fail "ping indicator 0 is not green"
probe wait-colour 40040 255 0 0 "$deadline_ms" || fail "the free slot 2 is not red"

step "a configuration message pairs the interface with a watchdog server"
python3 "$here/peer.py" send "$config_address" \
  "<beaconCfgAlarm><srvIpAddr>$watchdog_address</srvIpAddr><srvIpAddr>10.1.3.2</srvIpAddr><srvIpPort>$watchdog_port</srvIpPort><cpuPercent>101</cpuPercent><alarmSeconds>10</alarmSeconds></beaconCfgAlarm>" ||
  fail "cannot send the configuration"
probe wait-text 40006 "$local_address" "$deadline_ms" || fail "no local address in common"
probe wait-text 40008 "$(hostname)" "$deadline_ms" || fail "host name"
report_seen() { grep -q "^$local_address:34543 b'<wdStatus>" "$work/watchdog"; }
poll 30 report_seen || fail "the watchdog server got no status report from $local_address:34543"
grep -qF "<localIpInterfaces><ipAddr>$local_address</ipAddr>" "$work/watchdog" ||
  fail "the report does not list the local interface"

step "an interface that comes while the program runs pairs and reports"
# A second link with its own network and its own watchdog server, named in
# the configuration above. Wine's IP Helper takes the change notification
# but never calls it (tests/wine/address-notify.sh), and lists one address
# per interface, so here the program finds the link at its 30 s check; on
# Windows the notification brings it within a second.
second_server=10.1.3.2
: >"$work/watchdog2"
ip link add varn-c type veth peer name varn-cp netns "$watchdog_ns" &&
  in_watchdog_ns ip addr add "$second_server/24" dev varn-cp &&
  in_watchdog_ns ip link set varn-cp up || fail "cannot make the second link"
in_watchdog_ns python3 "$here/peer.py" server "$second_server" "$watchdog_port" 240 \
  "$work/watchdog2" "$work/stop" &
watchdog2=$!
added=$(date +%s)
ip addr add 10.1.3.6/24 dev varn-c && ip link set varn-c up || fail "cannot bring up 10.1.3.6"
report_from_added() { grep -q "^10.1.3.6:34543 b'<wdStatus>" "$work/watchdog2"; }
poll 45 report_from_added || fail "the second watchdog server got no status report from 10.1.3.6"
echo "   report from 10.1.3.6 after $(( $(date +%s) - added )) s"

step "the ping target goes to the group and to the bound beacon"
probe set-address 10.1.2.3 || fail "set-address"
probe command 40025 || fail "Set Ping Target IP"
probe wait-text 40033 "10.1.2.3" "$deadline_ms" || fail "current ping target text"
command_seen() { grep -qF "b'<setPingTarget>10.1.2.3</setPingTarget>'" "$work/received"; }
poll 20 command_seen || fail "the beacon got no <setPingTarget> command"

step "Enter in the address entry sets the ping target and the program goes on"
probe set-address 10.1.2.4 || fail "set-address"
probe enter-in-address || fail "Enter in the address entry"
probe wait-text 40033 "10.1.2.4" "$deadline_ms" || fail "current ping target text after Enter"
entered_seen() { grep -qF "b'<setPingTarget>10.1.2.4</setPingTarget>'" "$work/received"; }
poll 20 entered_seen || fail "the beacon got no <setPingTarget> command after Enter"
running "$program" || fail "Enter in the address entry ended the program"

if [ -n "$screenshot" ]; then
  step "screenshot to $screenshot"
  window=$(xwininfo -name "Varn Win32" | awk '/Window id:/ {print $4}')
  import -window "$window" "$screenshot" || fail "screenshot"
fi

step "a second instance refuses to start, naming the port"
WINEDEBUG=-all wine "$exe" >/dev/null 2>&1 &
second=$!
if probe wait-window VarnWin32 "$deadline_ms"; then
  probe texts VarnWin32 | grep -q "UDP port 45654 is already in use" ||
    fail "the message does not name the command port"
  probe command-to VarnWin32 1 || fail "could not press OK"
else
  fail "no message box from the second instance"
fi
wait_exit "$second" 30
status=$?
second=""
[ "$status" -eq 1 ] || fail "the second instance ended with status $status, not 1"

step "a wrong command line ends with status 2 before any socket, saying why"
# The first instance holds the port: a refusal other than the option's own
# would mean a socket was tried. Standard error is redirected, so the line
# goes there and no message box waits.
WINEDEBUG=-all wine "$exe" --allow-status-from 10.1.2.0/33 >"$work/options.out" 2>"$work/options.err" &
second=$!
wait_exit "$second" 30
status=$?
second=""
[ "$status" -eq 2 ] || fail "a wrong option ended the program with status $status, not 2"
grep -qxF "VarnWin32: --allow-status-from: '10.1.2.0/33' is not an address (a.b.c.d) or a network (a.b.c.d/n)" \
  <(tr -d '\r' <"$work/options.err") || fail "the refusal said: $(cat "$work/options.err")"

step "Clear empties the event list"
# Every datagram on port 34543 is an event here (the listeners are not told
# apart under Wine), so the beacon stops first and Clear is pressed until a
# refresh finds nothing new.
touch "$work/stop"
wait_exit "$beacon" 10 >/dev/null
beacon=""
entries=$(probe list-count 40002)
[ "${entries:-0}" -gt 0 ] || fail "the event list is empty before Clear ($entries)"
cleared() { probe command 1003 && poll 2 list_empty; }
list_empty() { [ "$(probe list-count 40002)" = "0" ]; }
poll 20 cleared || fail "the event list is not empty after Clear"

step "the close box ends the program with status 0"
touch "$work/stop"
probe close || fail "no dialog to close"
closed=$(date +%s)
wait_exit "$program" 30
status=$?
program=""
echo "   ended after $(( $(date +%s) - closed )) s with status $status"
[ "$status" -eq 0 ] || fail "VarnWin32.exe ended with status $status"
grep -q 'KivServer::run HAS EXITED CORRECTLY' "$work/debug.log" ||
  fail "the worker did not leave its loop cleanly"
grep -qF "Address [$local_address]" "$work/debug.log" ||
  fail "the service did not find the local address $local_address"

if [ "$failed" -ne 0 ]; then
  echo "smoke test FAILED"
  exit 1
fi
echo "smoke test passed"
