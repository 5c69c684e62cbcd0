#!/usr/bin/env bash
# Both roles on one station: what the view channel costs the service, how
# fast an announcement reaches a viewer, and what the dialog costs as the
# service's view against the standalone dialog. Side by side in one run; the
# table is printed and written to bench/results/view-DATE.md.
#
#   1. Idle CPU of the service with 0, 1 and 16 idle viewers: three services
#      at once (and a second one with none, for the noise between two alike),
#      each in a network namespace of its own, over the same window;
#      the viewers are one bench/view_viewers process per service holding N
#      connections. CPU of the service process only (all its threads).
#   2. An announcement's way to a viewer process (bench/view_latency): from
#      the send to the group to the moment the viewer sees the beacon's count
#      change, one CPU (service and viewer on CPU 0) and split (the viewer on
#      CPU 1).
#   3. Idle CPU of the dialog as the service's view against the standalone
#      dialog, both under one Xvfb in the same window, each in a namespace of
#      its own; the view's service is reported too.
#
#   sudo bench/view.sh
#
# Needs root (it makes network namespaces), iproute2, cmake and a C++
# compiler with Boost and Qt, and Xvfb (tools/setup/install-deps.sh installs
# them). Builds what it needs in build-view/ (Release; with ccache when it is
# there, CCACHE_DIR from the environment). Everything runs in namespaces made
# here (named vvw<pid>-*), removed at the end whatever happens: loopback up
# and carrying the group, the beacon address 10.0.0.9 on it, one veth pair
# for the station's address 10.1.2.5; nothing is sent outside them.
#
# Settings (environment), defaults for the full run:
#   VARN_BENCH_VIEW_IDLE_SECONDS=60    the idle windows (parts 1 and 3)
#   VARN_BENCH_VIEW_WARMUP=5           seconds between the last start and a window
#   VARN_BENCH_VIEW_SAMPLES=100        announcements per latency row
#   VARN_BENCH_VIEW_SPACING_MS=300     between two of them
#   VARN_BENCH_VIEW_PARTS="idle latency dialog"
#   VARN_BENCH_VIEW_BUILD_DIR=build-view
#   VARN_BENCH_VIEW_RESULTS=bench/results/view-DATE.md ("-": printed only)
#   VARN_BENCH_VIEW_KEEP=1             keep the temporary folder (logs)
# A quick trial:
#   VARN_BENCH_VIEW_IDLE_SECONDS=10 VARN_BENCH_VIEW_SAMPLES=20 \
#   VARN_BENCH_VIEW_RESULTS=- sudo -E bench/view.sh
#
# It reports; it does not judge. It exits non-zero only when a measurement
# could not be made.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)

IDLE_SECONDS=${VARN_BENCH_VIEW_IDLE_SECONDS:-60}
WARMUP=${VARN_BENCH_VIEW_WARMUP:-5}
SAMPLES=${VARN_BENCH_VIEW_SAMPLES:-100}
SPACING_MS=${VARN_BENCH_VIEW_SPACING_MS:-300}
PARTS=${VARN_BENCH_VIEW_PARTS:-idle latency dialog}
KEEP=${VARN_BENCH_VIEW_KEEP:-0}
BEACON=10.0.0.9
STATION=10.1.2.5
# Viewers per service in the idle window; 0b is a second service without
# viewers, beside the first: how far two alike differ in the same window.
VIEWER_COUNTS=(0 1 16 0b)

die() {
  echo "view: $*" >&2
  exit 1
}

whole() { # NAME VALUE MIN MAX
  [[ $2 =~ ^[0-9]+$ ]] && [ "$2" -ge "$3" ] && [ "$2" -le "$4" ] ||
    { echo "view: $1: '$2' is not a whole number from $3 to $4" >&2; exit 2; }
}
whole VARN_BENCH_VIEW_IDLE_SECONDS "$IDLE_SECONDS" 1 3600
whole VARN_BENCH_VIEW_WARMUP "$WARMUP" 0 600
whole VARN_BENCH_VIEW_SAMPLES "$SAMPLES" 1 10000
whole VARN_BENCH_VIEW_SPACING_MS "$SPACING_MS" 260 10000
has_part() { case " $PARTS " in *" $1 "*) return 0 ;; *) return 1 ;; esac; }
for p in $PARTS; do
  case "$p" in idle | latency | dialog) ;; *) die "VARN_BENCH_VIEW_PARTS: unknown part '$p' (idle latency dialog)" ;; esac
done

[ "$(id -u)" -eq 0 ] || die "needs root (it makes network namespaces): sudo $0"
needed=(cmake ip taskset)
has_part dialog && needed+=(Xvfb)
for c in "${needed[@]}"; do
  command -v "$c" >/dev/null 2>&1 || die "$c not found (tools/setup/install-deps.sh installs what the bench needs)"
done
[ "$(nproc)" -ge 2 ] || echo "view: one CPU only: the split latency row is left out" >&2

# ---------------------------------------------------------------------------
# Build.
build=${VARN_BENCH_VIEW_BUILD_DIR:-$root/build-view}
case "$build" in /*) ;; *) build=$root/$build ;; esac
echo "== build ($build, Release)" >&2
buildlog=$(mktemp /tmp/varn-view-build.XXXXXX)
configure=(-DCMAKE_BUILD_TYPE=Release -DVARN_BUILD_BENCH=ON)
if [ ! -f "$build/CMakeCache.txt" ]; then
  configure+=(-DVARN_BUILD_TESTS=OFF)
  command -v ninja >/dev/null 2>&1 && configure+=(-G Ninja)
  command -v ccache >/dev/null 2>&1 && configure+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
targets=(varnwin32-service varn-bench-view-programs)
has_part dialog && targets+=(varnwin32)
if ! { cmake -S "$root" -B "$build" "${configure[@]}" &&
  cmake --build "$build" -j"${VARN_BENCH_VIEW_JOBS:-2}" --target "${targets[@]}"
} >"$buildlog" 2>&1; then
  tail -40 "$buildlog" >&2
  die "build failed (whole log: $buildlog)"
fi
rm -f "$buildlog"
service=$build/shell/varnwin32-service
dialog=$build/shell/qt/varnwin32
viewers_bin=$build/bench/view_viewers
latency_bin=$build/bench/view_latency
for f in "$service" "$viewers_bin" "$latency_bin"; do [ -x "$f" ] || die "$f is not built"; done
if has_part dialog; then [ -x "$dialog" ] || die "$dialog is not built"; fi

work=$(mktemp -d /tmp/varn-view.XXXXXX)
chmod 755 "$work"
prefix=vvw$$
namespaces=()   # every namespace made here, removed at the end
pids=()         # every background process started here

# Stops the processes given (SIGTERM, SIGKILL after 3 s), each only while it
# is still one of this script's own jobs.
stop_pids() {
  local mine pid live=()
  mine=" $(jobs -p | tr '\n' ' ') "
  for pid in "$@"; do
    case "$mine" in *" $pid "*) kill -TERM "$pid" 2>/dev/null && live+=("$pid") ;; esac
  done
  [ ${#live[@]} -gt 0 ] || return 0
  for _ in $(seq 1 30); do
    local left=()
    for pid in "${live[@]}"; do kill -0 "$pid" 2>/dev/null && left+=("$pid"); done
    [ ${#left[@]} -eq 0 ] && break
    sleep 0.1
  done
  for pid in "${live[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  for pid in "${live[@]}"; do wait "$pid" 2>/dev/null || true; done
}

cleanup() {
  local status=$?
  trap - EXIT INT TERM
  [ ${#pids[@]} -eq 0 ] || stop_pids "${pids[@]}"
  if [ ${#namespaces[@]} -gt 0 ]; then
    printf 'netns del %s\n' "${namespaces[@]}" | ip -force -batch - 2>/dev/null || true
  fi
  if [ "$KEEP" = 1 ]; then
    echo "view: kept $work" >&2
  else
    rm -rf "$work"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A station's namespace: loopback up and carrying the group with the beacon
# address on it, and a veth pair for the station's own address.
make_namespace() { # NAME
  local ns=$prefix-$1
  ip netns add "$ns" || die "ip netns add $ns failed"
  namespaces+=("$ns")
  ip netns exec "$ns" sh -c 'for f in /proc/sys/net/ipv6/conf/all/disable_ipv6 /proc/sys/net/ipv6/conf/default/disable_ipv6; do
    [ -w "$f" ] && echo 1 >"$f"; done; true'
  printf '%s\n' "link set lo up" "link set lo multicast on" "addr add $BEACON/32 dev lo" \
    "link add varn-a type veth peer name varn-ap" "addr add $STATION/24 dev varn-a" \
    "link set varn-a up" "link set varn-ap up" "route add 224.0.0.0/4 dev lo" |
    ip -n "$ns" -batch - || die "namespace $ns could not be set up"
}

# Runs a program in a namespace, in the background; ip netns exec execs the
# program, so $! is the program itself. The service manager's variables are
# left out: these services make their own sockets and tell no one.
in_ns() { # NAME PROGRAM [ARGS...]
  local ns=$prefix-$1
  shift
  env -u LISTEN_FDS -u LISTEN_PID -u LISTEN_FDNAMES -u NOTIFY_SOCKET -u WATCHDOG_USEC -u WATCHDOG_PID \
    ip netns exec "$ns" "$@" &
}

# Polls for a line matching PATTERN in FILE for at most SECONDS (default 20).
await_line() {
  local file=$1 pattern=$2 seconds=${3:-20}
  for _ in $(seq 1 $((seconds * 20))); do
    grep -q -- "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

# Starts a service with a view socket in namespace NAME; sets started_pid.
start_service() { # NAME SOCKET [TASKSET-CPU]
  local name=$1 socket=$2 cpu=${3:-}
  local run=("$service" --view-socket "$socket")
  [ -z "$cpu" ] || run=(taskset -c "$cpu" "${run[@]}")
  in_ns "$name" "${run[@]}" >"$work/$name-service.out" 2>"$work/$name-service.err"
  started_pid=$!
  pids+=("$started_pid")
  await_line "$work/$name-service.err" "All Started" ||
    die "the service in $name did not start: $(tail -3 "$work/$name-service.err")"
  [ -S "$socket" ] || die "the service in $name made no view socket at $socket"
}

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

rss_kib() {
  local total=0 pid v
  for pid in "$@"; do
    v=$(awk '/^VmRSS:/ { print $2 }' /proc/"$pid"/status 2>/dev/null || echo 0)
    total=$((total + ${v:-0}))
  done
  echo "$total"
}

alive() { # WHAT PID...
  local what=$1 p
  shift
  for p in "$@"; do kill -0 "$p" 2>/dev/null || die "$what (pid $p) ended (logs in $work; VARN_BENCH_VIEW_KEEP=1 keeps them)"; done
}

# CPU per minute in ms over the window, from two readings in ns.
per_min() { awk -v a="$1" -v b="$2" -v s="$IDLE_SECONDS" 'BEGIN { printf "%.2f", (b - a) / 1e6 * 60 / s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f×", a / b; else print "-" }'; }
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<" $2"; }

rows=()
notes=()
began=$(date +%s)
load_before=$(cut -d' ' -f1 /proc/loadavg)

# ---------------------------------------------------------------------------
# 1. The service idle with 0, 1 and 16 idle viewers, side by side.
if has_part idle; then
  echo "== idle: three services with 0, 1 and 16 viewers, $IDLE_SECONDS s" >&2
  declare -A svc_pid viewer_pid
  for n in "${VIEWER_COUNTS[@]}"; do
    make_namespace "idle$n"
    start_service "idle$n" "$work/idle$n.sock"
    svc_pid[$n]=$started_pid
  done
  for n in "${VIEWER_COUNTS[@]}"; do
    [ "${n%b}" -gt 0 ] || continue
    in_ns "idle$n" "$viewers_bin" --view-socket "$work/idle$n.sock" --viewers "${n%b}" --max-seconds 3600 \
      >"$work/idle$n-viewers.out" 2>"$work/idle$n-viewers.err"
    viewer_pid[$n]=$!
    pids+=("${viewer_pid[$n]}")
    await_line "$work/idle$n-viewers.out" "^ready " 15 ||
      die "the $n viewers did not connect: $(cat "$work/idle$n-viewers.err")"
  done
  sleep "$WARMUP"
  alive "a service" "${svc_pid[@]}"
  alive "a viewers process" "${viewer_pid[@]}"
  declare -A c0 c1 v0 v1
  for n in "${VIEWER_COUNTS[@]}"; do c0[$n]=$(cpu_ns "${svc_pid[$n]}"); done
  for n in "${!viewer_pid[@]}"; do v0[$n]=$(cpu_ns "${viewer_pid[$n]}"); done
  sleep "$IDLE_SECONDS"
  for n in "${VIEWER_COUNTS[@]}"; do c1[$n]=$(cpu_ns "${svc_pid[$n]}"); done
  for n in "${!viewer_pid[@]}"; do v1[$n]=$(cpu_ns "${viewer_pid[$n]}"); done
  alive "a service" "${svc_pid[@]}"
  alive "a viewers process" "${viewer_pid[@]}"
  declare -A rss
  for n in "${VIEWER_COUNTS[@]}"; do rss[$n]=$(rss_kib "${svc_pid[$n]}"); done
  stop_pids "${viewer_pid[@]}"
  stop_pids "${svc_pid[@]}"
  base=$(per_min "${c0[0]}" "${c1[0]}")
  for n in "${VIEWER_COUNTS[@]}"; do
    cpu=$(per_min "${c0[$n]}" "${c1[$n]}")
    detail="service resident ${rss[$n]} KiB"
    if [ "${n%b}" -gt 0 ]; then
      summary=$(grep '^viewers ' "$work/idle$n-viewers.out" || true)
      [ "$(field connected "$summary")" = "$n" ] ||
        die "not all $n viewers stayed connected: ${summary:-no summary}"
      arrivals=$(awk -v a="$(field arrivals "$summary")" -v s="$(field seconds "$summary")" -v n="$n" \
        'BEGIN { printf "%.1f", (s > 0 ? a / n * 60 / s : 0) }')
      detail="$detail; each viewer took $arrivals arrivals a minute; the viewers process $(per_min "${v0[$n]}" "${v1[$n]}") ms/min"
    fi
    goal=
    [ "$n" = 16 ] && goal="≤ 1.1×"
    [ "$n" = 0 ] && ratio_text=1.00× || ratio_text=$(ratio "$cpu" "$base")
    what="service idle, ${n%b} viewer$([ "$n" = 1 ] || echo s)"
    [ "$n" = 0b ] && what="$what, a second service beside the first (how far two alike differ)"
    rows+=("| $what | $cpu ms CPU/min | $ratio_text | $goal | $detail |")
    echo "   $n viewers: $cpu ms/min ($ratio_text)" >&2
  done
fi

# ---------------------------------------------------------------------------
# 2. An announcement's way to a viewer.
if has_part latency; then
  echo "== latency: $SAMPLES announcements, $SPACING_MS ms apart, per row" >&2
  make_namespace lat
  start_service lat "$work/lat.sock" 0
  lat_service=$started_pid
  placements=("0:one CPU (service and viewer on CPU 0)")
  [ "$(nproc)" -ge 2 ] && placements+=("1:split (service on CPU 0, viewer on CPU 1)")
  for placement in "${placements[@]}"; do
    cpu=${placement%%:*}
    what=${placement#*:}
    line=$(ip netns exec "$prefix-lat" taskset -c "$cpu" "$latency_bin" --view-socket "$work/lat.sock" \
      --from "$BEACON" --samples "$SAMPLES" --spacing-ms "$SPACING_MS" 2>&1) || die "view_latency: $line"
    echo "   $what: ${line#latency }" >&2
    lost=$(field lost "$line")
    lost_text=
    [ "$lost" = 0 ] || lost_text="; $lost of $SAMPLES not seen within 2 s"
    rows+=("| announcement to a viewer, $what | median $(field p50_ms "$line") ms, 99th percentile $(field p99_ms "$line") ms | | median ≤ 20 ms | 90th percentile $(field p90_ms "$line") ms, mean $(field mean_ms "$line") ms, largest $(field max_ms "$line") ms over $(field seen "$line") samples, $(field over_50ms "$line") of them 50 ms or more$lost_text; the dialog then shows it at its next 500 ms refresh |")
  done
  alive "the latency service" "$lat_service"
  stop_pids "$lat_service"
fi

# ---------------------------------------------------------------------------
# 3. The dialog as the service's view against the standalone dialog.
if has_part dialog; then
  echo "== dialog: standalone and as the view of a service, one Xvfb, $IDLE_SECONDS s" >&2
  make_namespace x
  make_namespace alone
  make_namespace view
  for n in $(seq 90 190); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
  done
  display=:$n
  in_ns x Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1
  xvfb_pid=$!
  pids+=("$xvfb_pid")
  for _ in $(seq 1 200); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
  [ -e "/tmp/.X11-unix/X$n" ] || die "Xvfb did not start: $(tail -3 "$work/xvfb.log")"

  start_service view "$work/view.sock"
  view_service=$started_pid
  # The standalone dialog is given a socket path with nothing there: no
  # service installed, so it is today's program with its own in-process.
  in_ns alone env DISPLAY="$display" QT_QPA_PLATFORM=xcb "$dialog" --view-socket "$work/none.sock" \
    >"$work/alone-dialog.out" 2>"$work/alone-dialog.err"
  alone_dialog=$!
  pids+=("$alone_dialog")
  in_ns view env DISPLAY="$display" QT_QPA_PLATFORM=xcb "$dialog" --view-socket "$work/view.sock" \
    >"$work/view-dialog.out" 2>"$work/view-dialog.err"
  view_dialog=$!
  pids+=("$view_dialog")
  # The standalone dialog opens the status port itself (45654, B256 in
  # /proc/net/udp); the view gets to its service's log.
  for _ in $(seq 1 400); do
    ip netns exec "$prefix-alone" grep -q ':B256 ' /proc/net/udp && break
    sleep 0.05
  done
  ip netns exec "$prefix-alone" grep -q ':B256 ' /proc/net/udp ||
    die "the standalone dialog did not open its status port: $(tail -3 "$work/alone-dialog.err")"
  for _ in $(seq 1 400); do
    grep -q "View channel: .* attached" "$work/view-service.err" && break
    kill -0 "$view_dialog" 2>/dev/null || break
    sleep 0.05
  done
  grep -q "View channel: .* attached" "$work/view-service.err" ||
    die "the dialog did not attach to the service: $(tail -3 "$work/view-dialog.err")"
  sleep "$WARMUP"
  alive "the standalone dialog" "$alone_dialog"
  alive "the dialog as a view" "$view_dialog"
  alive "the view's service" "$view_service"
  for p in "$alone_dialog" "$view_dialog"; do
    [ "$(readlink /proc/"$p"/exe)" = "$(readlink -f "$dialog")" ] || die "pid $p is not the dialog program"
  done
  a0=$(cpu_ns "$alone_dialog"); d0=$(cpu_ns "$view_dialog"); s0=$(cpu_ns "$view_service"); x0=$(cpu_ns "$xvfb_pid")
  sleep "$IDLE_SECONDS"
  a1=$(cpu_ns "$alone_dialog"); d1=$(cpu_ns "$view_dialog"); s1=$(cpu_ns "$view_service"); x1=$(cpu_ns "$xvfb_pid")
  alive "the standalone dialog" "$alone_dialog"
  alive "the dialog as a view" "$view_dialog"
  alive "the view's service" "$view_service"
  grep -q "View channel: .* left" "$work/view-service.err" && die "the dialog left the service during the window"
  rss_alone=$(rss_kib "$alone_dialog"); rss_view=$(rss_kib "$view_dialog"); rss_service=$(rss_kib "$view_service")
  stop_pids "$alone_dialog" "$view_dialog"
  stop_pids "$view_service"
  stop_pids "$xvfb_pid"
  alone=$(per_min "$a0" "$a1")
  as_view=$(per_min "$d0" "$d1")
  with_service=$(per_min "$((d0 + s0))" "$((d1 + s1))")
  rows+=("| standalone dialog, idle (its own service in-process) | $alone ms CPU/min | 1.00× | | resident $rss_alone KiB |")
  rows+=("| dialog as the service's view, idle | $as_view ms CPU/min | $(ratio "$as_view" "$alone") | ≤ 1.0× | resident $rss_view KiB |")
  rows+=("| the view and its service together | $with_service ms CPU/min | $(ratio "$with_service" "$alone") | | the service alone $(per_min "$s0" "$s1") ms/min, resident $rss_service KiB |")
  notes+=("Both dialogs drew on one Xvfb, which spent $(per_min "$x0" "$x1") ms CPU/min for the two; it is in no row.")
  echo "   standalone $alone ms/min, as a view $as_view ms/min, view and service $with_service ms/min" >&2
fi
took=$(($(date +%s) - began))
load_after=$(cut -d' ' -f1 /proc/loadavg)

# ---------------------------------------------------------------------------
# The table.
rev=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo "?")
# The results of an earlier run are not a change to what is measured.
if [ "$rev" != "?" ] && [ -n "$(git -C "$root" status --porcelain -- . ':!bench/results' 2>/dev/null)" ]; then
  rev="$rev (work tree with changes)"
fi
cpu_model=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
[ -n "$cpu_model" ] || cpu_model=$(uname -m)
os=$(sed -n 's/^PRETTY_NAME="\{0,1\}\([^"]*\)"\{0,1\}$/\1/p' /etc/os-release 2>/dev/null)
report=$work/table.md
{
  echo "Measured $(date -u '+%Y-%m-%d %H:%M') UTC on $cpu_model, $(nproc) cores, Linux $(uname -r) ($os)."
  echo "VarnWin32 $rev, Release build; \`bench/view.sh\` ($took s): idle windows of $IDLE_SECONDS s after $WARMUP s of warm-up, $SAMPLES announcements $SPACING_MS ms apart per latency row."
  echo "Every figure of one part was measured side by side in the same window, each program in a network namespace of its own; CPU from /proc/PID/task/*/schedstat of the process named only. The machine's load average (1 min) was $load_before at the start and $load_after at the end."
  echo
  echo "| what | figure | against the first of its part | goal | detail |"
  echo "|---|---|---|---|---|"
  printf '%s\n' "${rows[@]}"
  if [ ${#notes[@]} -gt 0 ]; then
    echo
    printf '%s\n' "${notes[@]}"
  fi
} >"$report"

echo
cat "$report"
RESULTS=${VARN_BENCH_VIEW_RESULTS:-$root/bench/results/view-$(date +%Y-%m-%d).md}
if [ "$RESULTS" != "-" ]; then
  cp "$report" "$RESULTS"
  echo
  echo "written to $RESULTS" >&2
fi
