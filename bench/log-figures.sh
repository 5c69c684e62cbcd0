#!/usr/bin/env bash
# Log lines of the service at the default level per 1,000 datagrams of
# traffic that hits the same fault again and again:
#
#   config-malformed  four malformed configurations (junk port, no port, a
#                     port out of range, unusable addresses) from one beacon,
#                     interleaved
#   config-too-many   one valid configuration naming 8 reachable servers
#                     (more pairs than are kept), repeated
#   status-no-route   status requests from sources the replies have no route
#                     back to
#   status-refused    status requests whose replies the route refuses
#
#   sudo bench/log-figures.sh [BUILD_DIR]     (default build-bench)
#
# Prints one line per traffic: "logfig traffic=NAME sent=N lines=L per_k=X".
# Runs in a private network namespace of its own (or in the one run-bench.sh
# made); every service started here is stopped by its own pid.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/build-bench}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
if [ "${VARN_LOGFIG_IN_NETNS:-}" != 1 ]; then
  export VARN_LOGFIG_IN_NETNS=1
  exec "$root/tests/netns/run-in-netns.sh" private "$0" "$build"
fi

RATE=${VARN_LOGFIG_RATE:-2000}        # datagrams per second of each traffic
SECONDS_EACH=${VARN_LOGFIG_SECONDS:-5}
service=$build/shell/varnwin32-service
bin=$build/bench
for f in "$service" "$bin/udp_blast" "$bin/udp_rr"; do
  [ -x "$f" ] || { echo "log-figures: $f is not built" >&2; exit 1; }
done
work=$(mktemp -d /tmp/varn-logfig.XXXXXX)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  ip rule del pref 10 2>/dev/null || true
  ip rule add pref 0 lookup local 2>/dev/null && ip rule del pref 100 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

sources=()
for i in $(seq 1 20); do
  ip addr add "10.0.1.$i/32" dev lo 2>/dev/null || true
  sources+=(--from "10.0.1.$i")
done

config() { echo "<beaconCfgAlarm>$1<cpuPercent>90</cpuPercent><alarmSeconds>10</alarmSeconds></beaconCfgAlarm>"; }
servers() { local s=""; for a in "$@"; do s+="<srvIpAddr>$a</srvIpAddr>"; done; echo "$s"; }

# TRAFFIC TEXT...: the service started afresh, then each text at RATE/count
# per second, all at once, counted from the service's first quiet moment.
measure() {
  local name=$1 n=$# sent=0 l0 l1 out
  shift
  "$service" >"$work/$name.err" 2>&1 &
  pid=$!
  for _ in $(seq 1 100); do
    "$bin/udp_rr" --to 127.0.0.1:45654 --text 'STATUS_REQUEST ' --once --timeout-ms 100 >/dev/null 2>&1 && break
  done
  sleep 1
  l0=$(wc -l <"$work/$name.err")
  local jobs=()
  for text in "$@"; do
    if [ "${name#status}" != "$name" ]; then
      "$bin/udp_blast" --to 10.1.2.5:45654 "${sources[@]}" --text "$text" --rate "$RATE" \
        --seconds "$SECONDS_EACH" >"$work/$name.$((${#jobs[@]})).out" &
    else
      "$bin/udp_blast" --to 224.2.2.224:34543 --from 10.0.0.9 --text "$text" \
        --rate $((RATE / (n - 1))) --seconds "$SECONDS_EACH" >"$work/$name.$((${#jobs[@]})).out" &
    fi
    jobs+=($!)
  done
  for j in "${jobs[@]}"; do wait "$j"; done
  sleep 0.5
  l1=$(wc -l <"$work/$name.err")
  for out in "$work/$name".*.out; do sent=$((sent + $(sed -n 's/.* sent=\([0-9]*\).*/\1/p' "$out"))); done
  kill -TERM "$pid"
  wait "$pid" 2>/dev/null || true
  pid=
  awk -v n="$name" -v s="$sent" -v l="$((l1 - l0))" \
    'BEGIN { printf "logfig traffic=%s sent=%d lines=%d per_k=%.2f\n", n, s, l, s ? l * 1000 / s : 0 }'
}

measure config-malformed \
  "$(config "$(servers 10.1.2.1)<srvIpPort>50x0</srvIpPort>")" \
  "$(config "$(servers 10.1.2.1)")" \
  "$(config "$(servers 10.1.2.1)<srvIpPort>70000</srvIpPort>")" \
  "$(config "$(servers wd-one 0.0.0.0 10.1.2.255)<srvIpPort>5000</srvIpPort>")"
measure config-too-many "$(config "$(servers 10.1.2.1 10.1.2.2 10.1.2.3 10.1.2.4 10.1.2.6 10.1.2.7 10.1.2.8 10.1.2.9)<srvIpPort>5000</srvIpPort>")"
# The replies (from port 45654 to the sources) have no route, or one that
# refuses them, ahead of the local table; the requests still come in.
ip rule add pref 100 lookup local
ip rule del pref 0
ip rule add pref 10 to 10.0.1.0/24 ipproto udp sport 45654 unreachable
measure status-no-route 'STATUS_REQUEST '
ip rule del pref 10
ip rule add pref 10 to 10.0.1.0/24 ipproto udp sport 45654 prohibit
measure status-refused 'STATUS_REQUEST '
ip rule del pref 10
