#!/usr/bin/env bash
# Shows whether Wine delivers IP Helper's address-change notification, with a
# program that has none of VarnWin32's code in it:
#
#   tests/wine/wine-session.sh tests/wine/address-notify.sh build-win/tests/wine/varn-address-notify.exe
#
# It starts the probe, adds 10.1.2.8/24 to the namespace's link and a new
# link with 10.1.3.8/24 once the probe has registered, and prints what the
# probe saw. Wine 8 (Debian 12) registers the callback but never calls it:
# "registered result=0", then "notifications=0". VarnWin32.exe therefore
# finds a new address at its 30 s check under Wine.
set -u
probe=${1:?varn-address-notify.exe}
out=$(mktemp)
trap 'rm -f "$out"' EXIT
WINEDEBUG=-all wine "$probe" 10 >"$out" 2>/dev/null &
pid=$!
for _ in $(seq 1 300); do
  grep -q registered "$out" && break
  sleep 0.1
done
ip addr add 10.1.2.8/24 dev varn-a
ip link add varn-c type veth peer name varn-cp
ip addr add 10.1.3.8/24 dev varn-c
ip link set varn-c up
ip link set varn-cp up
wait "$pid"
tr -d '\r' <"$out"
