#!/usr/bin/env bash
# Measures VarnWin32 side by side with what users run instead, in one run on
# one machine, and prints the table (also written to bench/results/DATE.md):
#
#   - idle cost (CPU time and resident memory) of the service alone and of the
#     program with its dialog animating, against monit and zabbix_agentd;
#   - status replies per second and round trips at 1 and 32 requests in
#     flight, against a bare recvfrom/sendto server and against snmpd;
#   - announcements handled per second without loss, against a bare
#     multicast receive loop;
#   - the reply bytes a forged-source flood of status requests draws back
#     per request byte, with the default reply bound and without it;
#   - start-up (exec to first answered request) and shut-down (SIGTERM to
#     process end) of both programs, with snmpd's for reference;
#   - log lines written at the default level, idle and under the status and
#     announcement floods, against the same at --log-level debug (every
#     line, as before there were levels), and under traffic that hits the
#     same fault again and again (bench/log-figures.sh).
#
#   sudo bench/run-bench.sh
#
# Needs root (all traffic stays inside a private network namespace made here),
# cmake and a compiler, Xvfb, and the Debian packages monit, zabbix-agent and
# snmpd. Builds what it needs in build-bench/ (Release). Every daemon is
# started here with its own configuration, pid and log files under a
# temporary folder and stopped afterwards by its own pid.
#
# Settings (environment), defaults for the full run:
#   VARN_BENCH_IDLE_SECONDS=60      idle window
#   VARN_BENCH_RR_SECONDS=5         one request/reply measurement
#   VARN_BENCH_RR_RUNS=5            runs per case (the median is reported)
#   VARN_BENCH_MCAST_SECONDS=2      one step of the announcement rate
#   VARN_BENCH_MCAST_RATES="5000 10000 20000 50000 100000 200000 300000 400000"
#   VARN_BENCH_FLOOD_RATE=20000     forged-source status flood: requests per second
#   VARN_BENCH_FLOOD_SECONDS=5      its duration
#   VARN_BENCH_FLOOD_SOURCES=20     its source addresses
#   VARN_BENCH_STARTSTOP_RUNS=7     start/stop runs per program
#   VARN_BENCH_BUILD_DIR=build-bench
#   VARN_BENCH_RESULTS=bench/results/DATE.md
#   VARN_BENCH_KEEP=1               keep the temporary folder (logs, raw lines)
#   VARN_BENCH_COMPARE=1            also this build beside an older revision
#                                   (bench/compare-build.sh; the revision in
#                                   VARN_BENCH_COMPARE_REVISION, default the
#                                   build before the log levels)
# A quick trial of the whole pipeline:
#   VARN_BENCH_IDLE_SECONDS=10 VARN_BENCH_RR_SECONDS=1 VARN_BENCH_RR_RUNS=1 \
#   VARN_BENCH_STARTSTOP_RUNS=3 VARN_BENCH_RESULTS=/tmp/bench-trial.md sudo -E bench/run-bench.sh
#
# It reports; it does not judge. It exits non-zero only when a measurement
# could not be made.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)

IDLE_SECONDS=${VARN_BENCH_IDLE_SECONDS:-60}
IDLE_WARMUP=${VARN_BENCH_IDLE_WARMUP:-5}
RR_SECONDS=${VARN_BENCH_RR_SECONDS:-5}
RR_RUNS=${VARN_BENCH_RR_RUNS:-5}
MCAST_SECONDS=${VARN_BENCH_MCAST_SECONDS:-2}
MCAST_RATES=${VARN_BENCH_MCAST_RATES:-5000 10000 20000 50000 100000 200000 300000 400000}
FLOOD_RATE=${VARN_BENCH_FLOOD_RATE:-20000}
FLOOD_SECONDS=${VARN_BENCH_FLOOD_SECONDS:-5}
FLOOD_SOURCES=${VARN_BENCH_FLOOD_SOURCES:-20}
STARTSTOP_RUNS=${VARN_BENCH_STARTSTOP_RUNS:-7}
SNMPD_WAIT=${VARN_BENCH_SNMPD_WAIT:-180}
build=${VARN_BENCH_BUILD_DIR:-$root/build-bench}
case "$build" in /*) ;; *) build=$root/$build ;; esac

die() {
  echo "run-bench: $*" >&2
  exit 1
}

# ---------------------------------------------------------------------------
# Outside the namespace: check, build, then run the rest inside one.
if [ "${VARN_BENCH_IN_NETNS:-}" != 1 ]; then
  [ "$(id -u)" -eq 0 ] || die "needs root (it makes a private network namespace): sudo $0"
  "$root/tools/setup/install-deps.sh" --bench
  missing=()
  for c in cmake ip unshare taskset Xvfb monit zabbix_agentd snmpd; do
    command -v "$c" >/dev/null 2>&1 || missing+=("$c")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "run-bench: missing: ${missing[*]}" >&2
    echo "run-bench: apt-get install cmake iproute2 util-linux xvfb monit zabbix-agent snmpd" >&2
    exit 2
  fi
  [ "$(nproc)" -ge 2 ] || echo "run-bench: one CPU only: the split-placement rows are left out" >&2

  echo "== build ($build, Release)" >&2
  buildlog=$(mktemp /tmp/varn-bench-build.XXXXXX)
  configure=(-DCMAKE_BUILD_TYPE=Release -DVARN_BUILD_BENCH=ON)
  if [ ! -f "$build/CMakeCache.txt" ]; then
    configure+=(-DVARN_BUILD_TESTS=OFF)
    command -v ninja >/dev/null 2>&1 && configure+=(-G Ninja)
  fi
  if ! { cmake -S "$root" -B "$build" "${configure[@]}" &&
    cmake --build "$build" -j"${VARN_BENCH_JOBS:-2}" --target varnwin32-service varnwin32 varn-bench-programs
  } >"$buildlog" 2>&1; then
    tail -40 "$buildlog" >&2
    die "build failed (whole log: $buildlog)"
  fi
  rm -f "$buildlog"

  # The packages' own daemons should not be running: they add their load to
  # every figure. They are the system's, so they are only pointed out here.
  for d in monit zabbix_agentd snmpd; do
    command -v pidof >/dev/null 2>&1 || break
    if pids=$(pidof "$d" 2>/dev/null); then
      echo "run-bench: note: $d is already running system-wide (pid $pids); it is not stopped here" >&2
    fi
  done

  # This build beside an older one (bench/compare-build.sh), before the rest.
  if [ "${VARN_BENCH_COMPARE:-}" = 1 ]; then
    VARN_BENCH_COMPARE_TABLE=$(mktemp /tmp/varn-bench-compare.XXXXXX)
    export VARN_BENCH_COMPARE_TABLE
    echo "== this build beside ${VARN_BENCH_COMPARE_REVISION:-the build before the log levels}" >&2
    VARN_BENCH_BUILD_DIR="$build" "$here/compare-build.sh" ${VARN_BENCH_COMPARE_REVISION:+"$VARN_BENCH_COMPARE_REVISION"} \
      >"$VARN_BENCH_COMPARE_TABLE" || die "the comparison with the older build failed"
  fi

  export VARN_BENCH_IN_NETNS=1 VARN_BENCH_BUILD_DIR="$build"
  exec "$root/tests/netns/run-in-netns.sh" private "$0" "$@"
fi

# ---------------------------------------------------------------------------
# Inside the private namespace.
bin=$build/bench
service=$build/shell/varnwin32-service
dialog=$build/shell/qt/varnwin32
for f in "$service" "$dialog" "$bin/udp_rr" "$bin/udp_blast" "$bin/start_stop" \
  "$bin/minimal_udp_server" "$bin/minimal_mcast_recv" "$bin/minimal_tick"; do
  [ -x "$f" ] || die "$f is not built"
done

stamp=$(date +%Y-%m-%d)
results=${VARN_BENCH_RESULTS:-$root/bench/results/$stamp.md}
work=$(mktemp -d /tmp/varn-bench.XXXXXX)
chmod 755 "$work"
raw=$work/raw.txt
: >"$raw"

STATUS_PORT=45654
MINIMAL_PORT=45655
SNMPD_PORT=16161
COMMUNITY=bench
CPU_OID=1.3.6.1.4.1.2021.11.11.0    # ssCpuIdle.0
UPTIME_OID=1.3.6.1.2.1.1.3.0        # sysUpTime.0
REQUEST='STATUS_REQUEST '
ANNOUNCEMENT='<beacon><name>bench beacon</name><location>hall 1, line 2, cabinet 7</location><pingTarget>10.1.2.1</pingTarget><pingTargetHealth>2</pingTargetHealth></beacon>'
BEACONS=(10.0.0.9 10.0.0.10 10.0.0.11)
SPLIT=1
[ "$(nproc)" -ge 2 ] || SPLIT=0

started=()       # pids of our background jobs, stopped at the end whatever happens
xvfb_pid=
zabbix_pids=()

# Stops one of this script's own background jobs: SIGTERM, then SIGKILL after
# 3 s. A pid that is no longer among our jobs (already stopped and reaped) is
# left alone, since the system may have given its number to someone else.
stop_pid() {
  local pid=$1
  case " $(jobs -p | tr '\n' ' ') " in *" $pid "*) ;; *) return 0 ;; esac
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 1 60); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null || true; return 0; }
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# zabbix_agentd's workers end with it; should one outlive it, it is ended by
# its own pid, once checked to still be a zabbix_agentd.
stop_zabbix_workers() {
  local p
  for p in "${zabbix_pids[@]}"; do
    [ "$(cat /proc/"$p"/comm 2>/dev/null)" = zabbix_agentd ] && kill -KILL "$p" 2>/dev/null
  done
  return 0
}

cleanup() {
  local p
  for p in "${started[@]}"; do stop_pid "$p"; done
  stop_zabbix_workers
  if [ -n "$xvfb_pid" ]; then stop_pid "$xvfb_pid"; fi
  if [ "${VARN_BENCH_KEEP:-}" = 1 ]; then
    echo "run-bench: logs and raw lines kept in $work" >&2
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

log() { echo "== $*" >&2; }
record() { echo "$*" >>"$raw"; }

# Field NAME=value out of a result line.
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<" $2"; }

# Median of the numbers on standard input.
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print 0; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# CPU time of the processes, in nanoseconds, summed over all their threads.
cpu_ns() {
  local total=0 pid t run
  for pid in "$@"; do
    for t in /proc/"$pid"/task/*/schedstat; do
      [ -r "$t" ] || continue
      read -r run _ <"$t" || continue
      total=$((total + run))
    done
  done
  echo "$total"
}

# Resident memory of the processes, in KiB, summed.
rss_kib() {
  local total=0 pid v
  for pid in "$@"; do
    v=$(awk '/^VmRSS:/ { print $2 }' /proc/"$pid"/status 2>/dev/null || echo 0)
    total=$((total + ${v:-0}))
  done
  echo "$total"
}

# The process and all its descendants.
process_tree() {
  local pid=$1 child
  echo "$pid"
  while read -r child; do
    process_tree "$child"
  done < <(awk -v p="$pid" '{ sub(/^.*\) /, ""); if ($2 == p) { split(FILENAME, f, "/"); print f[3] } }' \
    /proc/[0-9]*/stat 2>/dev/null)
}

# Waits until the program answers a status request (at most 10 s).
wait_status() {
  local port=$1
  for _ in $(seq 1 100); do
    "$bin/udp_rr" --to 127.0.0.1:"$port" --text "$REQUEST" --once --timeout-ms 100 >/dev/null 2>&1 && return 0
  done
  return 1
}

start_xvfb() {
  local n
  for n in $(seq 90 190); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
  done
  display=:$n
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 200); do [ -e "/tmp/.X11-unix/X$n" ] && return 0; sleep 0.05; done
  die "Xvfb did not start (see $work/xvfb.log)"
}

# Debian's service flags, in the foreground, with our own configuration only.
snmpd_cmd=(snmpd -f -C -c "$work/snmpd.conf" -LOw -u Debian-snmp -g Debian-snmp -I "-smux,mteTrigger,mteTriggerConf"
  -p "$work/snmpd.pid")

write_peer_configs() {
  cat >"$work/snmpd.conf" <<EOF
agentAddress udp:127.0.0.1:$SNMPD_PORT
rocommunity $COMMUNITY 127.0.0.1
EOF
  mkdir -p "$work/snmp"
  chown Debian-snmp:Debian-snmp "$work/snmp" 2>/dev/null || true
  chmod 644 "$work/snmpd.conf"

  cat >"$work/monitrc" <<EOF
set daemon 1
set logfile $work/monit.log
set pidfile $work/monit.pid
set idfile $work/monit.id
set statefile $work/monit.state
check system varn-bench
  if cpu usage > 95% for 10 cycles then alert
EOF
  chmod 600 "$work/monitrc"

  # Debian's default configuration, passive checks on loopback only.
  local conf=/etc/zabbix/zabbix_agentd.conf
  [ -r "$conf" ] || die "$conf not found (zabbix-agent package)"
  grep -Ev '^[[:space:]]*(PidFile|LogFile|LogFileSize|Server|ServerActive|ListenIP|ListenPort|AllowRoot|Include|Hostname)[[:space:]]*=' \
    "$conf" >"$work/zabbix_agentd.conf"
  cat >>"$work/zabbix_agentd.conf" <<EOF
PidFile=$work/zabbix_agentd.pid
LogFile=$work/zabbix_agentd.log
LogFileSize=0
Server=127.0.0.1
ListenIP=127.0.0.1
ListenPort=10050
AllowRoot=1
EOF
}

# ---------------------------------------------------------------------------
# Machine and versions.
cpu_model=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
[ -n "$cpu_model" ] || cpu_model=$(uname -m)
cores=$(nproc)
kernel=$(uname -r)
os=$(sed -n 's/^PRETTY_NAME="\{0,1\}\([^"]*\)"\{0,1\}$/\1/p' /etc/os-release 2>/dev/null)
pkgver() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo "?"; }
commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo "?")
if [ "$commit" != "?" ] && [ -n "$(git -C "$root" status --porcelain 2>/dev/null)" ]; then
  commit="$commit (work tree with changes)"
fi
compiler=$(awk -F= '/^CMAKE_CXX_COMPILER:/ { print $2 }' "$build/CMakeCache.txt" 2>/dev/null)
compiler_version=$("${compiler:-c++}" --version 2>/dev/null | head -1)
began=$(date +%s)

write_peer_configs

# ---------------------------------------------------------------------------
# 1. Idle cost, all side by side in one window. Our two programs each need
# the status port, so the dialog program gets a namespace of its own (nested
# in this one); the X server listens on its file socket, reachable from both.
log "idle cost: starting the service, the dialog program, monit, zabbix_agentd (and snmpd, which needs a minute before its CPU values)"
start_xvfb

taskset -c 0 env SNMP_PERSISTENT_DIR="$work/snmp" "${snmpd_cmd[@]}" >"$work/snmpd.log" 2>&1 &
snmpd_pid=$!
started+=("$snmpd_pid")

# Its log and console echo to a file, as the journal takes both.
"$service" >"$work/idle-service.err" 2>&1 &
idle_service=$!
started+=("$idle_service")

# The same at --log-level debug, in a namespace of its own (the status port),
# for its log lines only.
"$root/tests/netns/run-in-netns.sh" private "$service" --log-level debug >"$work/idle-debug.err" 2>&1 &
idle_debug=$!
started+=("$idle_debug")

# run-in-netns.sh execs all the way down, so $! is the program itself.
DISPLAY=$display QT_QPA_PLATFORM=xcb "$root/tests/netns/run-in-netns.sh" private "$dialog" >/dev/null 2>&1 &
idle_dialog=$!
started+=("$idle_dialog")

monit -I -c "$work/monitrc" >"$work/monit.out" 2>&1 &
monit_pid=$!
started+=("$monit_pid")

zabbix_agentd -f -c "$work/zabbix_agentd.conf" >"$work/zabbix.out" 2>&1 &
zabbix_pid=$!
started+=("$zabbix_pid")

# The floor under the service's idle cost: a bare once-a-second wake-up
# that reads /proc/stat, as the service's tick must.
"$bin/minimal_tick" --max-seconds 3600 &
tick_pid=$!
started+=("$tick_pid")

wait_status "$STATUS_PORT" || die "the service does not answer on port $STATUS_PORT"
sleep "$IDLE_WARMUP"
for p in "$idle_service" "$idle_dialog" "$monit_pid" "$zabbix_pid" "$snmpd_pid"; do
  kill -0 "$p" 2>/dev/null || die "process $p ended during the warm-up (logs in $work; VARN_BENCH_KEEP=1 keeps them)"
done
[ "$(readlink /proc/"$idle_dialog"/exe)" = "$(readlink -f "$dialog")" ] ||
  die "pid $idle_dialog is not the dialog program"
mapfile -t zabbix_pids < <(process_tree "$zabbix_pid")
[ ${#zabbix_pids[@]} -ge 2 ] || die "zabbix_agentd did not start its workers (see $work/zabbix_agentd.log)"

log "idle cost: measuring for $IDLE_SECONDS s"
lines() { wc -l <"$1"; }
l0_service=$(lines "$work/idle-service.err"); l0_debug=$(lines "$work/idle-debug.err")
c0_service=$(cpu_ns "$idle_service"); c0_dialog=$(cpu_ns "$idle_dialog")
c0_monit=$(cpu_ns "$monit_pid"); c0_zabbix=$(cpu_ns "${zabbix_pids[@]}")
c0_snmpd=$(cpu_ns "$snmpd_pid"); c0_xvfb=$(cpu_ns "$xvfb_pid"); c0_tick=$(cpu_ns "$tick_pid")
sleep "$IDLE_SECONDS"
c1_service=$(cpu_ns "$idle_service"); c1_dialog=$(cpu_ns "$idle_dialog")
c1_monit=$(cpu_ns "$monit_pid"); c1_zabbix=$(cpu_ns "${zabbix_pids[@]}")
c1_snmpd=$(cpu_ns "$snmpd_pid"); c1_xvfb=$(cpu_ns "$xvfb_pid"); c1_tick=$(cpu_ns "$tick_pid")
l1_service=$(lines "$work/idle-service.err"); l1_debug=$(lines "$work/idle-debug.err")
for p in "$idle_service" "$idle_dialog" "$monit_pid" "$zabbix_pid" "$tick_pid"; do
  kill -0 "$p" 2>/dev/null || die "process $p ended during the idle window"
done
rss_service=$(rss_kib "$idle_service"); rss_dialog=$(rss_kib "$idle_dialog")
rss_monit=$(rss_kib "$monit_pid"); rss_zabbix=$(rss_kib "${zabbix_pids[@]}")
rss_snmpd=$(rss_kib "$snmpd_pid")

# CPU per minute in ms, scaled from the window.
per_min() { awk -v a="$1" -v b="$2" -v s="$IDLE_SECONDS" 'BEGIN { printf "%.2f", (b - a) / 1e6 * 60 / s }'; }
idle_cpu_service=$(per_min "$c0_service" "$c1_service")
idle_cpu_dialog=$(per_min "$c0_dialog" "$c1_dialog")
idle_cpu_monit=$(per_min "$c0_monit" "$c1_monit")
idle_cpu_zabbix=$(per_min "$c0_zabbix" "$c1_zabbix")
idle_cpu_snmpd=$(per_min "$c0_snmpd" "$c1_snmpd")
idle_cpu_xvfb=$(per_min "$c0_xvfb" "$c1_xvfb")
idle_cpu_tick=$(per_min "$c0_tick" "$c1_tick")
record "idle seconds=$IDLE_SECONDS service_cpu_ms_per_min=$idle_cpu_service service_rss_kib=$rss_service" \
  "dialog_cpu_ms_per_min=$idle_cpu_dialog dialog_rss_kib=$rss_dialog xvfb_cpu_ms_per_min=$idle_cpu_xvfb" \
  "monit_cpu_ms_per_min=$idle_cpu_monit monit_rss_kib=$rss_monit" \
  "zabbix_cpu_ms_per_min=$idle_cpu_zabbix zabbix_rss_kib=$rss_zabbix zabbix_processes=${#zabbix_pids[@]}" \
  "snmpd_cpu_ms_per_min=$idle_cpu_snmpd snmpd_rss_kib=$rss_snmpd bare_tick_cpu_ms_per_min=$idle_cpu_tick"
idle_lines_service=$(awk -v a="$l0_service" -v b="$l1_service" -v s="$IDLE_SECONDS" 'BEGIN { printf "%.1f", (b - a) * 60 / s }')
idle_lines_debug=$(awk -v a="$l0_debug" -v b="$l1_debug" -v s="$IDLE_SECONDS" 'BEGIN { printf "%.1f", (b - a) * 60 / s }')
record "log idle seconds=$IDLE_SECONDS default_lines=$((l1_service - l0_service)) debug_lines=$((l1_debug - l0_debug))" \
  "default_startup_lines=$l0_service debug_startup_lines=$l0_debug"

for p in "$idle_service" "$idle_debug" "$idle_dialog" "$monit_pid" "$zabbix_pid" "$tick_pid"; do stop_pid "$p"; done
sleep 0.2
stop_zabbix_workers

# ---------------------------------------------------------------------------
# 2. Status replies. Servers on CPU 0; the client on CPU 0 too (one CPU) or
# on CPU 1 (split). Runs of the three servers are interleaved.
log "status replies: waiting for snmpd's CPU value (up to $SNMPD_WAIT s after its start)"
snmp_ready=0
for _ in $(seq 1 "$SNMPD_WAIT"); do
  if out=$("$bin/udp_rr" --to 127.0.0.1:$SNMPD_PORT --snmp-get "$COMMUNITY:$CPU_OID" --once --timeout-ms 500 2>&1); then
    snmp_ready=1
    break
  fi
  kill -0 "$snmpd_pid" 2>/dev/null || die "snmpd ended (see $work/snmpd.log)"
  sleep 1
done
[ "$snmp_ready" = 1 ] || die "snmpd's CPU value did not become available: $out"
record "snmpd_ready $out"

taskset -c 0 "$bin/minimal_udp_server" --port $MINIMAL_PORT --reply-bytes 200 --max-seconds 3600 >/dev/null 2>&1 &
minimal_pid=$!
started+=("$minimal_pid")
# The status replies are measured without the reply bound, which would
# otherwise hold every client to its 50 replies a second.
taskset -c 0 "$service" --status-rate 0 >/dev/null 2>&1 &
rr_service=$!
started+=("$rr_service")
wait_status "$STATUS_PORT" || die "the service does not answer on port $STATUS_PORT"
wait_status "$MINIMAL_PORT" || die "the minimal server does not answer on port $MINIMAL_PORT"
snmp_request=$("$bin/udp_rr" --to 127.0.0.1:$SNMPD_PORT --snmp-get "$COMMUNITY:$CPU_OID" --once)
status_reply=$("$bin/udp_rr" --to 127.0.0.1:$STATUS_PORT --text "$REQUEST" --once)
record "status_reply $status_reply"

rr_client() {  # TARGET CPU DEPTH
  local target=$1 cpu=$2 depth=$3 args
  case "$target" in
    varn) args=(--to "127.0.0.1:$STATUS_PORT" --text "$REQUEST" --expect '<status>') ;;
    minimal) args=(--to "127.0.0.1:$MINIMAL_PORT" --text "$REQUEST") ;;
    snmpd) args=(--to "127.0.0.1:$SNMPD_PORT" --snmp-get "$COMMUNITY:$CPU_OID") ;;
  esac
  taskset -c "$cpu" "$bin/udp_rr" "${args[@]}" --in-flight "$depth" --seconds "$RR_SECONDS" --warmup 0.5
}

placements=(one)
[ "$SPLIT" = 1 ] && placements+=(split)
for run in $(seq 1 "$RR_RUNS"); do
  for placement in "${placements[@]}"; do
    cpu=0
    [ "$placement" = split ] && cpu=1
    for depth in 1 32; do
      for target in minimal varn snmpd; do
        log "status replies: run $run/$RR_RUNS, $placement CPU, $depth in flight, $target"
        line=$(rr_client "$target" "$cpu" "$depth") || die "no replies from $target: $line"
        [ "$(field bad "$line")" = 0 ] || die "$target sent replies that are not status texts: $line"
        record "rr target=$target placement=$placement depth=$depth $line"
      done
    done
  done
done
stop_pid "$minimal_pid"
stop_pid "$snmpd_pid"

# ---------------------------------------------------------------------------
# 3. Announcements handled without loss. The receiver on CPU 0, the beacons'
# sender on CPU 1 (another CPU plays the other machine). Each step offers a
# steady rate for a bounded time; what was offered but never read by the
# receiver is lost (the namespace is private: only the receiver's socket
# counts in /proc/net/snmp).
udp_counters() { awk '/^Udp:/ { if (++n == 2) print $2, $4, $6 }' /proc/net/snmp; }  # InDatagrams InErrors RcvbufErrors

blast_cpu=1
[ "$SPLIT" = 1 ] || blast_cpu=0
from_args=()
for a in "${BEACONS[@]}"; do from_args+=(--from "$a"); done

mcast_steps() {  # NAME: steps the rates against the receiver that runs now
  local name=$1 rate line sent before after delivered lost inerr rcvbuf lossy=0
  best=0
  for rate in $MCAST_RATES; do
    read -r -a before < <(udp_counters)
    line=$(taskset -c "$blast_cpu" "$bin/udp_blast" --to 224.2.2.224:34543 "${from_args[@]}" \
      --text "$ANNOUNCEMENT" --rate "$rate" --seconds "$MCAST_SECONDS") || die "udp_blast failed: $line"
    sleep 0.5   # the receiver drains its queue
    read -r -a after < <(udp_counters)
    sent=$(field sent "$line")
    delivered=$((after[0] - before[0]))
    inerr=$((after[1] - before[1]))
    rcvbuf=$((after[2] - before[2]))
    lost=$((sent - delivered))
    [ "$lost" -ge 0 ] || lost=0
    record "mcast receiver=$name offered=$rate $line read=$delivered lost=$lost in_errors=$inerr rcvbuf_errors=$rcvbuf"
    log "announcements: $name, $rate/s offered ($(field rate "$line")/s sent): $lost lost"
    [ "$delivered" -gt 0 ] || die "$name read no announcement at $rate/s (is multicast routed in the namespace?)"
    if [ "$lost" = 0 ] && [ "$lossy" = 0 ]; then
      best=$(field rate "$line")
    else
      lossy=$((lossy + 1))
      [ "$lossy" -ge 2 ] && break
    fi
  done
  # No step lost anything: the receiver's limit lies above the last step.
  capped=
  if [ "$lossy" = 0 ]; then capped="≥ "; fi
}

log "announcements: the service"
stop_pid "$rr_service"
taskset -c 0 "$service" >"$work/mcast-service.err" 2>&1 &
mc_service=$!
started+=("$mc_service")
wait_status "$STATUS_PORT" || die "the service does not answer on port $STATUS_PORT"
mcast_lines0=$(lines "$work/mcast-service.err")
mcast_steps varn
mcast_varn=$best
mcast_varn_capped=$capped
# Log lines per announcement read, over every step.
mcast_lines=$(($(lines "$work/mcast-service.err") - mcast_lines0))
mcast_read=$(grep '^mcast receiver=varn ' "$raw" | while read -r l; do field read "$l"; done | awk '{ s += $1 } END { print s + 0 }')
stop_pid "$mc_service"

# The same at --log-level debug, one step at the lowest rate.
log "announcements: the service at --log-level debug, one step of ${MCAST_RATES%% *}/s for its log lines"
taskset -c 0 "$service" --log-level debug >"$work/mcast-debug.err" 2>&1 &
mc_debug=$!
started+=("$mc_debug")
wait_status "$STATUS_PORT" || die "the service does not answer on port $STATUS_PORT"
sleep 0.2
mcast_debug_lines0=$(lines "$work/mcast-debug.err")
read -r -a before < <(udp_counters)
line=$(taskset -c "$blast_cpu" "$bin/udp_blast" --to 224.2.2.224:34543 "${from_args[@]}" \
  --text "$ANNOUNCEMENT" --rate "${MCAST_RATES%% *}" --seconds "$MCAST_SECONDS") || die "udp_blast failed: $line"
sleep 0.5
read -r -a after < <(udp_counters)
mcast_debug_read=$((after[0] - before[0]))
mcast_debug_lines=$(($(lines "$work/mcast-debug.err") - mcast_debug_lines0))
stop_pid "$mc_debug"
record "log announcements default_read=$mcast_read default_lines=$mcast_lines debug_read=$mcast_debug_read debug_lines=$mcast_debug_lines"

log "announcements: the minimal receive loop"
taskset -c 0 "$bin/minimal_mcast_recv" --group 224.2.2.224 --port 34543 --max-seconds 600 >"$work/mcast_recv.out" 2>&1 &
mc_minimal=$!
started+=("$mc_minimal")
sleep 0.3
mcast_steps minimal
mcast_minimal=$best
mcast_minimal_capped=$capped
stop_pid "$mc_minimal"

# ---------------------------------------------------------------------------
# 4. A status flood from forged sources: the service on CPU 0, the flood from
# FLOOD_SOURCES extra addresses of this namespace on the other CPU, each
# source reading what comes back to it. Once with the default reply bound,
# once without (--status-rate 0).
flood_from=()
for i in $(seq 1 "$FLOOD_SOURCES"); do
  ip addr add "10.0.1.$i/32" dev lo
  flood_from+=(--from "10.0.1.$i")
done

flood() {  # NAME [SERVICE ARGS...]
  local name=$1 pid line l0
  shift
  log "status flood from $FLOOD_SOURCES sources, $FLOOD_RATE/s for $FLOOD_SECONDS s: the service, $name"
  taskset -c 0 "$service" "$@" >"$work/flood-$name.err" 2>&1 &
  pid=$!
  started+=("$pid")
  wait_status "$STATUS_PORT" || die "the service does not answer on port $STATUS_PORT"
  sleep 1   # the bound's buckets fill up again after the probe
  l0=$(lines "$work/flood-$name.err")
  line=$(taskset -c "$blast_cpu" "$bin/udp_blast" --to 10.1.2.5:$STATUS_PORT "${flood_from[@]}" \
    --text "$REQUEST" --rate "$FLOOD_RATE" --seconds "$FLOOD_SECONDS" --count-replies) || die "udp_blast failed: $line"
  sleep 0.5   # the service's queue drains
  record "flood service=$name $line log_lines=$(($(lines "$work/flood-$name.err") - l0))"
  stop_pid "$pid"
}
flood bounded
flood unbounded --status-rate 0
# The bounded flood again at --log-level debug, for its log lines.
flood debug --log-level debug

# Log lines under traffic that hits the same fault again and again.
log "log lines under repeated faults (bench/log-figures.sh)"
VARN_LOGFIG_IN_NETNS=1 "$here/log-figures.sh" "$build" >>"$raw" || die "bench/log-figures.sh failed"

# ---------------------------------------------------------------------------
# 5. Start-up and shut-down, each program alone, snmpd for reference.
log "start-up and shut-down: the service ($STARTSTOP_RUNS runs)"
ss_service=$("$bin/start_stop" --probe 127.0.0.1:$STATUS_PORT --text "$REQUEST" --expect '<status>' \
  --runs "$STARTSTOP_RUNS" --settle-ms 500 -- "$service" | tail -1) || die "start/stop of the service: $ss_service"
record "startstop program=service $ss_service"

log "start-up and shut-down: the program with its dialog ($STARTSTOP_RUNS runs)"
ss_dialog=$(DISPLAY=$display QT_QPA_PLATFORM=xcb "$bin/start_stop" --probe 127.0.0.1:$STATUS_PORT --text "$REQUEST" \
  --expect '<status>' --runs "$STARTSTOP_RUNS" --settle-ms 1500 -- "$dialog" | tail -1) ||
  die "start/stop of the dialog program: $ss_dialog"
record "startstop program=dialog $ss_dialog"

log "start-up and shut-down: snmpd ($STARTSTOP_RUNS runs)"
ss_snmpd=$(SNMP_PERSISTENT_DIR="$work/snmp" "$bin/start_stop" --probe 127.0.0.1:$SNMPD_PORT \
  --snmp-get "$COMMUNITY:$UPTIME_OID" --runs "$STARTSTOP_RUNS" --settle-ms 500 --log "$work/snmpd-startstop.log" \
  -- "${snmpd_cmd[@]}" | tail -1) || die "start/stop of snmpd: $ss_snmpd"
record "startstop program=snmpd $ss_snmpd"

elapsed=$(($(date +%s) - began))

# ---------------------------------------------------------------------------
# The table.
rr_median() {  # TARGET PLACEMENT DEPTH FIELD
  grep "^rr target=$1 placement=$2 depth=$3 " "$raw" | while read -r l; do field "$4" "$l"; done | median
}
fmt_int() { awk -v v="$1" 'BEGIN { v = sprintf("%.0f", v); s = ""; while (length(v) > 3) { s = "," substr(v, length(v) - 2) s; v = substr(v, 1, length(v) - 3) } print v s }'; }
fmt() { awk -v v="$1" -v d="${2:-1}" 'BEGIN { printf "%." d "f", v }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "–"; else { r = a / b; printf (r < 10 ? "%.2f×" : "%.0f×"), r } }'; }
lt() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }
verdict() { if "$@"; then echo "**met**"; else echo "**missed**"; fi; }

rows=()
row() { rows+=("| $1 | $2 | $3 | $4 | $5 |"); }

row "Idle CPU per minute, service alone" "$(fmt "$idle_cpu_service") ms" "zabbix_agentd $(fmt "$idle_cpu_zabbix") ms" \
  "$(ratio "$idle_cpu_service" "$idle_cpu_zabbix")" "below zabbix_agentd: $(verdict lt "$idle_cpu_service" "$idle_cpu_zabbix")"
row "Idle CPU per minute, service alone, against the floor" "$(fmt "$idle_cpu_service") ms" \
  "bare 1 s /proc/stat loop $(fmt "$idle_cpu_tick") ms" "$(ratio "$idle_cpu_service" "$idle_cpu_tick")" "–"
row "Idle resident memory, service alone" "$(mib "$rss_service")" "monit $(mib "$rss_monit")" \
  "$(ratio "$rss_service" "$rss_monit")" "below monit: $(verdict lt "$rss_service" "$rss_monit")"
row "Idle CPU per minute, program with the dialog animating" "$(fmt "$idle_cpu_dialog") ms" "monit $(fmt "$idle_cpu_monit") ms" \
  "$(ratio "$idle_cpu_dialog" "$idle_cpu_monit")" "below monit: $(verdict lt "$idle_cpu_dialog" "$idle_cpu_monit")"
row "Idle resident memory, program with the dialog" "$(mib "$rss_dialog")" "monit $(mib "$rss_monit")" \
  "$(ratio "$rss_dialog" "$rss_monit")" "–"

for placement in "${placements[@]}"; do
  for depth in 1 32; do
    where="one CPU"
    [ "$placement" = split ] && where="split CPUs"
    v_rate=$(rr_median varn "$placement" "$depth" rate)
    v_p50=$(rr_median varn "$placement" "$depth" p50_us)
    v_p99=$(rr_median varn "$placement" "$depth" p99_us)
    ours="$(fmt_int "$v_rate")/s, p50 $(fmt "$v_p50") µs, p99 $(fmt "$v_p99") µs"
    for peer in snmpd minimal; do
      p_rate=$(rr_median "$peer" "$placement" "$depth" rate)
      p_p50=$(rr_median "$peer" "$placement" "$depth" p50_us)
      p_p99=$(rr_median "$peer" "$placement" "$depth" p99_us)
      name=snmpd
      [ "$peer" = minimal ] && name="minimal recvfrom/sendto"
      goal="–"
      if [ "$peer" = snmpd ]; then
        goal="beat snmpd: $(verdict lt "$p_rate" "$v_rate"); aim 2×: $(verdict awk -v a="$v_rate" -v b="$p_rate" 'BEGIN { exit !(a >= 2 * b) }')"
      fi
      row "Status replies, $where, $depth in flight" "$ours" \
        "$name $(fmt_int "$p_rate")/s, p50 $(fmt "$p_p50") µs, p99 $(fmt "$p_p99") µs" \
        "$(ratio "$v_rate" "$p_rate") replies, p50 $(ratio "$v_p50" "$p_p50"), p99 $(ratio "$v_p99" "$p_p99")" "$goal"
    done
  done
done

# Steps where the sender itself fell short of the rate asked for (a busy CPU).
short_steps=$(grep '^mcast receiver=' "$raw" | while read -r l; do
  if awk -v a="$(field rate "$l")" -v o="$(field offered "$l")" 'BEGIN { exit !(a < 0.95 * o) }'; then
    echo "$(field receiver "$l") $(fmt_int "$(field offered "$l")")/s: $(fmt_int "$(field rate "$l")")/s sent"
  fi
done | paste -sd ';' - | sed 's/;/; /g')
# The rate really sent at the first step with a loss, if any.
first_loss_rate=$(grep '^mcast receiver=varn ' "$raw" | while read -r l; do
  if [ "$(field lost "$l")" != 0 ]; then field rate "$l"; break; fi
done)
if awk -v a="$mcast_varn" 'BEGIN { exit !(a >= 19000) }'; then
  goal20k="**met**"
elif [ -n "$first_loss_rate" ] && awk -v f="$first_loss_rate" 'BEGIN { exit !(f < 19000) }'; then
  goal20k="**missed**"
else
  goal20k="not shown (no step was sent at 20,000/s)"
fi
if [ -n "$mcast_minimal_capped" ]; then
  goal_fifth="not shown (the bare loop lost nothing up to the last step)"
else
  goal_fifth=$(verdict awk -v a="$mcast_varn" -v b="$mcast_minimal" 'BEGIN { exit !(b > 0 && a >= b / 5) }')
fi
row "Announcements per second without loss" "$mcast_varn_capped$(fmt_int "$mcast_varn")/s" \
  "minimal receive loop $mcast_minimal_capped$(fmt_int "$mcast_minimal")/s" \
  "$(ratio "$mcast_varn" "$mcast_minimal")" \
  "none lost below 20,000/s: $goal20k; aim a fifth of the bare loop: $goal_fifth"

flood_line() { grep "^flood service=$1 " "$raw" | tail -1; }
amplification() {  # NAME: reply bytes per request byte
  local l
  l=$(flood_line "$1")
  awk -v r="$(field reply_bytes "$l")" -v q="$(field request_bytes "$l")" 'BEGIN { if (q == 0) print 0; else printf "%.3f", r / q }'
}
amp_bounded=$(amplification bounded)
amp_unbounded=$(amplification unbounded)
row "Reply bytes per request byte, forged-source status flood, default bound" "$(fmt "$amp_bounded" 2)×" \
  "without the bound (--status-rate 0) $(fmt "$amp_unbounded" 2)×" "$(ratio "$amp_bounded" "$amp_unbounded")" \
  "below 1× (no amplification): $(verdict lt "$amp_bounded" 1)"

# Log volume: lines per minute idle, per 1,000 requests or announcements.
per_k() { awk -v l="$1" -v n="$2" 'BEGIN { if (n == 0) print 0; else printf "%.2f", l * 1000 / n }'; }
flood_k_default=$(per_k "$(field log_lines "$(flood_line bounded)")" "$(field sent "$(flood_line bounded)")")
flood_k_debug=$(per_k "$(field log_lines "$(flood_line debug)")" "$(field sent "$(flood_line debug)")")
mcast_k_default=$(per_k "$mcast_lines" "$mcast_read")
mcast_k_debug=$(per_k "$mcast_debug_lines" "$mcast_debug_read")
le() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a <= b) }'; }
row "Log lines per minute, idle, service at the default level" "$(fmt "$idle_lines_service")" \
  "at --log-level debug (every line) $(fmt "$idle_lines_debug")" "$(ratio "$idle_lines_service" "$idle_lines_debug")" \
  "none but the once-a-minute counts (none idle): $(verdict le "$idle_lines_service" 0)"
row "Log lines per 1,000 status requests, forged-source flood, default level and bound" "$(fmt "$flood_k_default" 2)" \
  "at --log-level debug $(fmt "$flood_k_debug" 0)" "$(ratio "$flood_k_default" "$flood_k_debug")" \
  "at most 1: $(verdict le "$flood_k_default" 1)"
row "Log lines per 1,000 announcements, beacon flood, default level" "$(fmt "$mcast_k_default" 2)" \
  "at --log-level debug $(fmt "$mcast_k_debug" 2)" "$(ratio "$mcast_k_default" "$mcast_k_debug")" \
  "at most 1: $(verdict le "$mcast_k_default" 1)"
logfig_row() {  # TRAFFIC LABEL
  local k
  k=$(field per_k "$(grep "^logfig traffic=$1 " "$raw" | tail -1)")
  row "Log lines per 1,000 $2, default level" "$(fmt "$k" 2)" "–" "–" "at most 1: $(verdict le "$k" 1)"
}
logfig_row config-malformed "malformed configurations from one beacon"
logfig_row config-too-many "repeats of one configuration with 8 reachable servers (TOO MANY PAIRS)"
logfig_row status-no-route "status requests from sources with no route back"
logfig_row status-refused "status requests whose replies the route refuses"

ss_row() {  # LABEL LINE PEER_LINE WHAT GOAL
  local ours peer
  ours=$(field "$4"_median "$2"); peer=$(field "$4"_median "$3")
  row "$1" "$(fmt "$ours" 1) ms (min $(fmt "$(field "$4"_min "$2")" 1), max $(fmt "$(field "$4"_max "$2")" 1))" \
    "snmpd $(fmt "$peer" 1) ms" "$(ratio "$ours" "$peer")" "$5"
}
ss_row "Shut-down, SIGTERM to process end, service alone" "$ss_service" "$ss_snmpd" stop_ms \
  "under 50 ms: $(verdict lt "$(field stop_ms_median "$ss_service")" 50)"
ss_row "Shut-down, close request to process end, program with the dialog" "$ss_dialog" "$ss_snmpd" stop_ms \
  "under 50 ms: $(verdict lt "$(field stop_ms_median "$ss_dialog")" 50)"
ss_row "Start-up, exec to first answered request, service alone" "$ss_service" "$ss_snmpd" start_ms "–"
ss_row "Start-up, exec to first answered request, program with the dialog" "$ss_dialog" "$ss_snmpd" start_ms "–"

mcast_detail() {
  grep "^mcast receiver=$1 " "$raw" | while read -r l; do
    printf '%s/s: %s lost' "$(fmt_int "$(field offered "$l")")" "$(fmt_int "$(field lost "$l")")"
    echo -n "; "
  done | sed 's/; $//'
}

{
  echo "## Benchmarks"
  echo
  echo "Measured $(date '+%Y-%m-%d %H:%M %Z') on $cpu_model, $cores cores, Linux $kernel ($os)."
  echo "VarnWin32 $commit, Release build ($compiler_version); monit $(pkgver monit), zabbix_agentd $(pkgver zabbix-agent), snmpd $(pkgver snmpd) from Debian's packages."
  echo "All in one run of \`bench/run-bench.sh\` ($elapsed s), every figure side by side on this machine, all traffic inside a private network namespace."
  echo "Ratio = VarnWin32 ÷ the peer (below 1 is less cost, or fewer replies; for times and latencies below 1 is faster)."
  echo
  echo "| measure | VarnWin32 | peer | ratio | goal |"
  echo "|---|---|---|---|---|"
  printf '%s\n' "${rows[@]}"
  echo
  echo "How it was measured:"
  echo
  echo "- Idle: all programs started together, $IDLE_WARMUP s to settle, then CPU time over $IDLE_SECONDS s (per-thread scheduler run time, given per minute) and resident memory (VmRSS) at the end, no traffic. The dialog program runs on Xvfb with its radar animating; Xvfb itself is not counted ($(fmt "$idle_cpu_xvfb") ms/min). monit: \`set daemon 1\` with one \`check system\` CPU rule. zabbix_agentd: Debian's configuration, passive checks only, ListenIP=127.0.0.1; the sum over its ${#zabbix_pids[@]} processes ($(fmt "$idle_cpu_zabbix") ms/min, $(mib "$rss_zabbix")). snmpd in the same window: $(fmt "$idle_cpu_snmpd") ms/min, $(mib "$rss_snmpd"). The floor: \`bench/minimal_tick\`, a bare loop that sleeps to each whole second and reads /proc/stat, the least the service's one-second tick with its CPU sample can cost."
  echo "- Status replies: one request datagram with 1 or 32 requests in flight (one socket each), $RR_SECONDS s after 0.5 s of warm-up, median of $RR_RUNS runs; servers on CPU 0, the client on CPU 0 (one CPU) or CPU 1 (split CPUs). VarnWin32 answers \`STATUS_REQUEST \` with its $(field bytes "$status_reply")-byte status text; the minimal server answers the same datagram with 200 bytes; snmpd answers an SNMPv2c GET of ssCpuIdle.0 (${snmp_request#reply })."
  echo "- Announcements: $(echo "$ANNOUNCEMENT" | wc -c | awk '{ print $1 - 1 }')-byte announcements to 224.2.2.224:34543 from ${#BEACONS[@]} beacon addresses in turn, paced (datagrams falling due together leave in batches of at most 8, never a catch-up burst), $MCAST_SECONDS s per rate; the receiver on CPU 0, the sender on CPU $blast_cpu. Lost = sent − datagrams read (the namespace's Udp InDatagrams); the figure is the highest rate reached before the first step with a loss. VarnWin32: $(mcast_detail varn). Minimal loop: $(mcast_detail minimal).${short_steps:+ The sender fell short of the rate asked for at: $short_steps (its CPU was busy; such a step counts at the rate really sent).}"
  echo "- Status flood: \`STATUS_REQUEST \` datagrams ($(echo -n "$REQUEST" | wc -c) bytes) to the service at $(fmt_int "$FLOOD_RATE")/s for $FLOOD_SECONDS s, from $FLOOD_SOURCES source addresses in turn (as forged sources would come), each source reading the replies sent back to it; the figure is the reply bytes over the request bytes. With the default bound ($(field replies "$(flood_line bounded)") replies to $(field sent "$(flood_line bounded)") requests) and with \`--status-rate 0\` ($(field replies "$(flood_line unbounded)") replies to $(field sent "$(flood_line unbounded)") requests). The service on CPU 0, the flood on CPU $blast_cpu."
  echo "- Log volume: standard error and standard output (the console echo) of the service to a file, as the journal would take them, lines counted. Idle: over the idle window above, after $(field default_startup_lines "$(grep '^log idle' "$raw")") start-up lines (at debug, $(field debug_startup_lines "$(grep '^log idle' "$raw")")); the debug peer runs beside it in a namespace of its own. Status requests: the bounded forged-source flood above ($(field sent "$(flood_line bounded)") requests, $(field log_lines "$(flood_line bounded)") lines; the count line comes once a minute and falls after the flood), then the same flood at --log-level debug ($(field sent "$(flood_line debug)") requests, $(field log_lines "$(flood_line debug)") lines). Announcements: every step of the announcement rows ($mcast_read read, $mcast_lines lines besides start and stop), and at debug one step at $(fmt_int "${MCAST_RATES%% *}")/s ($mcast_debug_read read, $mcast_debug_lines lines)."
  echo "- Repeated faults (\`bench/log-figures.sh\`): the service started afresh for each, its lines counted from a second after its first answer, $(field sent "$(grep '^logfig traffic=config-too-many ' "$raw")") datagrams or so each. Malformed configurations: four (a junk port, no port, port 70000, only unusable addresses) from one beacon address, interleaved. TOO MANY PAIRS: one valid configuration naming 8 servers on the station's network. Status requests: from 20 addresses whose replies an \`ip rule\` makes unreachable, or prohibited; every one the default reply bound lets through fails. The lines written when each fault starts are counted too."
  echo "- Start-up and shut-down: median of $STARTSTOP_RUNS runs; a status request every millisecond from just before exec until the first answer; SIGTERM after the program has run 0.5 s (1.5 s with the dialog), which takes the same path as \"Exit\", until the process has ended. snmpd: first answered GET of sysUpTime.0, then SIGTERM."
} >"$work/table.md"

mkdir -p "$(dirname "$results")"
{
  cat "$work/table.md"
  echo
  echo "<details><summary>Raw result lines</summary>"
  echo
  echo '```'
  cat "$raw"
  echo '```'
  echo
  echo "</details>"
  if [ -n "${VARN_BENCH_COMPARE_TABLE:-}" ] && [ -s "$VARN_BENCH_COMPARE_TABLE" ]; then
    echo
    echo "This build beside an older one (bench/compare-build.sh):"
    echo
    cat "$VARN_BENCH_COMPARE_TABLE"
  fi
} >"$results"
[ -z "${VARN_BENCH_COMPARE_TABLE:-}" ] || rm -f "$VARN_BENCH_COMPARE_TABLE"
cat "$work/table.md"
echo
echo "run-bench: written to $results" >&2
