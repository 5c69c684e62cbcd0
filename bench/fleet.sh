#!/usr/bin/env bash
# A plant of many stations on one machine: what the fleet does to the
# watchdog server it reports to.
#
# N stations (the Release build of varnwin32-service), each in a network
# namespace of its own, hang on one bridge with a watchdog server's
# stand-in (bench/fleet_server) and a beacon. Every station is paired with
# P server addresses. For each run the stations are started (all within
# about a second, a power-up, or one after the other over --stagger
# seconds), the beacon sends one configuration to the group, and the
# stand-in stamps each datagram's arrival. Four stand-ins share the server's
# address and each gets every datagram: one with a large buffer gives the
# arrival times, two read with the default receive buffer (one as fast as it
# can, one spending 1 ms per datagram) and count their socket's drops, and
# one reads nothing until the end (how many datagrams the default buffer
# holds). Each start is run with --spread off and on.
#
# Per run: the configuration's reports (count, span from first to last, the
# most in any 10 ms and in any second, the drops of both readers), then one
# keep-alive period (count, the round's spread: the shortest part of the
# 30 s period that holds every keep-alive, the most in any second, drops).
# Then the same arithmetic for 2,000 and 10,000 stations against a server
# that reads 1,000 datagrams a second, with the buffer that would lose
# nothing. The table is printed and written to bench/results/fleet-DATE.md.
#
#   sudo bench/fleet.sh [--stations N] [--pairs P] [--spread W] [--stagger S]
#                       [--starts "power-up staggered"] [--results FILE]
#
#   --stations N   stations, 1 to 980 (default 100; a 2-core machine takes a
#                  few hundred)
#   --pairs P      server addresses each station pairs with, 1 to 5 (default 2)
#   --spread W     the --spread of the runs with the option on (default 30;
#                  0: only the runs with the option off)
#   --stagger S    the staggered start spreads the stations over S seconds
#                  (default 30)
#   --starts LIST  which starts to run (default "power-up staggered")
#   --results FILE where the table goes (default bench/results/fleet-DATE.md;
#                  "-": printed only)
#   --keep         keep the temporary folder (the stand-ins' files, logs)
#
# Needs root, iproute2 (ip, bridge), cmake and a C++ compiler with Boost and
# libsystemd (tools/setup/install-deps.sh installs them). Builds what it
# needs in build-fleet/ (Release; VARN_FLEET_BUILD_DIR). Everything runs in
# namespaces made here (named vfl<pid>-*) and removed at the end whatever
# happens; nothing is sent outside them. A run takes the start, 8.5 s for
# the stations' first ticks, the spread plus 2 s for the reports and 31 s for
# the keep-alives: at the defaults about 6 minutes in all.
#
# It reports; it does not judge. It exits non-zero only when a measurement
# could not be made.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)

STATIONS=100
PAIRS=2
SPREAD=30
STAGGER=30
STARTS="power-up staggered"
RESULTS=
KEEP=0
SERVER_PORT=5000
READ_RATE=1000      # datagrams a second of the slow reader (1 ms each)
# A station's first tick comes about 6 s after its start, and then every
# second: the configuration comes half a second off the last one's ticks,
# not on them.
SETTLE_MS=8500
KEEPALIVE_WINDOW=31 # one keep-alive period and a second for the edges
GROUP_SIZE=245      # stations per /24: hosts .10 to .254
SERVER_MAC=02:00:0a:32:00:01

die() {
  echo "fleet: $*" >&2
  exit 1
}

usage() {
  sed -n '/^#   sudo bench/,/^#   --keep/p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

whole() { # NAME VALUE MIN MAX
  [[ $2 =~ ^[0-9]+$ ]] && [ "$2" -ge "$3" ] && [ "$2" -le "$4" ] ||
    { echo "fleet: $1: '$2' is not a whole number from $3 to $4" >&2; exit 2; }
}

while [ $# -gt 0 ]; do
  case "$1" in
  --stations) STATIONS=${2:-}; whole --stations "$STATIONS" 1 980; shift 2 ;;
  --pairs) PAIRS=${2:-}; whole --pairs "$PAIRS" 1 5; shift 2 ;;
  --spread) SPREAD=${2:-}; whole --spread "$SPREAD" 0 600; shift 2 ;;
  --stagger) STAGGER=${2:-}; whole --stagger "$STAGGER" 1 600; shift 2 ;;
  --starts) STARTS=${2:-}; shift 2
    for s in $STARTS; do case "$s" in power-up | staggered) ;; *) usage ;; esac; done ;;
  --results) RESULTS=${2:-}; [ -n "$RESULTS" ] || usage; shift 2 ;;
  --keep) KEEP=1; shift ;;
  -h | --help) usage ;;
  *) usage ;;
  esac
done

[ "$(id -u)" -eq 0 ] || die "needs root (it makes network namespaces): sudo $0"
for c in cmake ip bridge; do
  command -v "$c" >/dev/null 2>&1 || die "$c not found (apt-get install cmake iproute2, or tools/setup/install-deps.sh)"
done

build=${VARN_FLEET_BUILD_DIR:-$root/build-fleet}
case "$build" in /*) ;; *) build=$root/$build ;; esac
echo "== build ($build, Release)" >&2
buildlog=$(mktemp /tmp/varn-fleet-build.XXXXXX)
configure=(-DCMAKE_BUILD_TYPE=Release -DVARN_BUILD_BENCH=ON)
if [ ! -f "$build/CMakeCache.txt" ]; then
  configure+=(-DVARN_BUILD_TESTS=OFF -DVARN_BUILD_GUI=OFF)
  command -v ninja >/dev/null 2>&1 && configure+=(-G Ninja)
fi
if ! { cmake -S "$root" -B "$build" "${configure[@]}" &&
  cmake --build "$build" -j"${VARN_FLEET_JOBS:-2}" --target varnwin32-service varn-beacon \
    varn-bench-fleet_server varn-bench-fleet_figures
} >"$buildlog" 2>&1; then
  tail -40 "$buildlog" >&2
  die "build failed (whole log: $buildlog)"
fi
rm -f "$buildlog"
service=$build/shell/varnwin32-service
beacon=$build/tools/varn-beacon
server=$build/bench/fleet_server
figures=$build/bench/fleet_figures
for f in "$service" "$beacon" "$server" "$figures"; do
  [ -x "$f" ] || die "$f is not built"
done

work=$(mktemp -d /tmp/varn-fleet.XXXXXX)
prefix=vfl$$
hub=$prefix-hub
bcn=$prefix-bcn
readers=(rec fast slow hold)
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
    echo "fleet: kept $work" >&2
  else
    rm -rf "$work"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

now_ns() { date +%s%N; }

# Sleeps until the CLOCK_REALTIME instant NS.
sleep_until() {
  local left=$(($1 - $(now_ns)))
  [ "$left" -le 0 ] || sleep "$(printf '%d.%09d' $((left / 1000000000)) $((left % 1000000000)))"
}

station_address() { # 1-based index
  local i=$(($1 - 1))
  echo "10.50.$((i / GROUP_SIZE)).$((10 + i % GROUP_SIZE))"
}

groups=$(((STATIONS + GROUP_SIZE - 1) / GROUP_SIZE))
server_addresses=()
for g in $(seq 0 $((groups - 1))); do
  for p in $(seq 1 "$PAIRS"); do server_addresses+=("10.50.$g.$p"); done
done
beacon_address=10.50.250.3

# ---------------------------------------------------------------------------
# The plant: namespaces, the bridge, the links.
echo "== $STATIONS stations, $PAIRS pairs each, namespaces $prefix-*" >&2
made_at=$(now_ns)
namespaces=("$hub" "$bcn")
for r in "${readers[@]}"; do namespaces+=("$prefix-$r"); done
for i in $(seq 1 "$STATIONS"); do namespaces+=("$prefix-s$i"); done
printf 'netns add %s\n' "${namespaces[@]}" | ip -batch - >/dev/null || die "ip netns add failed"
# No IPv6: its own chatter (solicitations, reports) would cross the bridge.
for ns in "${namespaces[@]}"; do
  ip netns exec "$ns" sh -c 'for f in /proc/sys/net/ipv6/conf/all/disable_ipv6 /proc/sys/net/ipv6/conf/default/disable_ipv6; do
    [ -w "$f" ] && echo 1 >"$f"; done; true'
done

{
  echo "link set lo up"
  # Multicast goes to every port; so does unicast to the server's address,
  # which the bridge never learns (no learning on the stand-ins' ports) and
  # floods to the ports that take floods: the stand-ins' only.
  echo "link add br0 type bridge mcast_snooping 0 stp_state 0"
  echo "link set br0 up"
  for i in $(seq 1 "$STATIONS"); do
    echo "link add p$i type veth peer name eth0 netns $prefix-s$i"
    echo "link set p$i master br0 up"
  done
  echo "link add bcn type veth peer name eth0 netns $bcn"
  echo "link set bcn master br0 up"
  for r in "${readers[@]}"; do
    echo "link add $r type veth peer name eth0 netns $prefix-$r"
    echo "link set $r master br0 up"
  done
} | ip -n "$hub" -batch - || die "the bridge could not be made"
{
  for i in $(seq 1 "$STATIONS"); do echo "link set dev p$i flood off"; done
  echo "link set dev bcn flood off"
  for r in "${readers[@]}"; do echo "link set dev $r learning off"; done
} | bridge -n "$hub" -batch - || die "the bridge ports could not be set"

for r in "${readers[@]}"; do
  {
    echo "link set lo up"
    echo "link set eth0 address $SERVER_MAC"
    for a in "${server_addresses[@]}"; do echo "addr add $a/16 dev eth0"; done
    echo "link set eth0 up"
  } | ip -n "$prefix-$r" -batch - || die "stand-in $r could not be set up"
done
printf '%s\n' "link set lo up" "addr add $beacon_address/16 dev eth0" "link set eth0 up" \
  "route add 224.0.0.0/4 dev eth0" | ip -n "$bcn" -batch - || die "the beacon could not be set up"
for i in $(seq 1 "$STATIONS"); do
  {
    echo "link set lo up"
    echo "addr add $(station_address "$i")/16 dev eth0"
    echo "link set eth0 up"
    # The server's address is known: no ARP round at the first report.
    for a in "${server_addresses[@]}"; do echo "neigh add $a lladdr $SERVER_MAC dev eth0 nud permanent"; done
  } | ip -n "$prefix-s$i" -batch - || die "station $i could not be set up"
done
echo "   made in $(((($(now_ns) - made_at) / 1000000))) ms" >&2

# ---------------------------------------------------------------------------
# One run: start the stand-ins and the stations, send the configuration,
# watch the reports and one keep-alive period, stop everything, figure.
results_rows=()
capacity_score=-1
capacity_held=0
capacity_drops=0
capacity_rcvbuf=0
capacity_rmem=0
poweroff_round_ms=

run_one() { # LABEL START SPREAD
  local label=$1 start=$2 spread=$3
  local dir=$work/$label
  mkdir -p "$dir"
  echo "== run $label: $start, --spread $spread" >&2

  local reader_pids=() r
  for r in "${readers[@]}"; do
    local extra=()
    case "$r" in
    rec) extra=(--rcvbuf 67108864) ;;
    slow) extra=(--pace-us 1000) ;;
    hold) extra=(--hold) ;;
    esac
    ip netns exec "$prefix-$r" "$server" --port "$SERVER_PORT" --out "$dir/$r.txt" "${extra[@]}" \
      --max-seconds 1800 >"$dir/$r.sum" 2>"$dir/$r.err" &
    reader_pids+=($!)
    pids+=($!)
  done
  sleep 0.5

  local options=()
  [ "$spread" -gt 0 ] && options=(--spread "$spread")
  local station_pids=() first last i
  if [ "$start" = power-up ]; then
    # Every station waits at a FIFO until the FIFO is opened for writing:
    # then all go at once, as fast as the machine starts them.
    local gate=$dir/gate
    mkfifo "$gate"
    for i in $(seq 1 "$STATIONS"); do
      env -u NOTIFY_SOCKET -u WATCHDOG_USEC -u WATCHDOG_PID \
        ip netns exec "$prefix-s$i" sh -c ': <"$0"; exec "$@"' "$gate" "$service" "${options[@]}" >/dev/null 2>&1 &
      station_pids+=($!)
      pids+=($!)
    done
    sleep 1
    first=$(now_ns)
    exec 9<>"$gate"
    local waiting=("${station_pids[@]}") pid
    while [ ${#waiting[@]} -gt 0 ] && [ $(($(now_ns) - first)) -lt 30000000000 ]; do
      local still=()
      for pid in "${waiting[@]}"; do [ /proc/$pid/exe -ef "$service" ] || still+=("$pid"); done
      waiting=("${still[@]}")
    done
    last=$(now_ns)
    exec 9>&-
    [ ${#waiting[@]} -eq 0 ] || die "${#waiting[@]} stations did not start within 30 s (run $label)"
  else
    first=$(now_ns)
    for i in $(seq 1 "$STATIONS"); do
      sleep_until $((first + (i - 1) * STAGGER * 1000000000 / STATIONS))
      env -u NOTIFY_SOCKET -u WATCHDOG_USEC -u WATCHDOG_PID \
        ip netns exec "$prefix-s$i" "$service" "${options[@]}" >/dev/null 2>&1 &
      station_pids+=($!)
      pids+=($!)
    done
    last=$(now_ns)
  fi
  local started_ms=$(((last - first) / 1000000))
  echo "   $STATIONS stations started within $started_ms ms" >&2
  sleep_until $((last + SETTLE_MS * 1000000))
  local pid dead=0
  for pid in "${station_pids[@]}"; do kill -0 "$pid" 2>/dev/null || dead=$((dead + 1)); done
  [ "$dead" -eq 0 ] || die "$dead stations ended before the configuration (run $label)"

  local servers=() a
  for a in "${server_addresses[@]}"; do servers+=(--server "$a"); done
  local config_at burst_to ka_to
  config_at=$(now_ns)
  ip netns exec "$bcn" "$beacon" configure --from "$beacon_address" --interface "$beacon_address" \
    "${servers[@]}" --server-port "$SERVER_PORT" --quiet >"$dir/beacon.out" 2>&1 ||
    die "the configuration could not be sent: $(tail -1 "$dir/beacon.out")"
  burst_to=$((config_at + (spread + 2) * 1000000000))
  ka_to=$((burst_to + KEEPALIVE_WINDOW * 1000000000))
  echo "   configuration sent; reports until +$((spread + 2)) s, keep-alives for $KEEPALIVE_WINDOW s more" >&2
  sleep_until "$ka_to"

  stop_pids "${station_pids[@]}"
  sleep 0.3
  stop_pids "${reader_pids[@]}"
  for r in "${readers[@]}"; do
    grep -q '^server ' "$dir/$r.sum" || die "stand-in $r gave no summary (run $label): $(cat "$dir/$r.err")"
  done
  field() { sed -n "s/.* $2=\([^ ]*\).*/\1/p" "$dir/$1.sum"; }
  [ "$(field rec drops)" = 0 ] || echo "fleet: note: the recording stand-in dropped $(field rec drops) (run $label)" >&2
  # What the default buffer holds of the reports: best from a run whose held
  # datagrams were all reports (a configuration's burst, when it fills the
  # buffer before the keep-alives come) and that filled it.
  local score=0
  [ "$(field hold drops)" -gt 0 ] && score=1
  grep -qv ' wdStatus ' "$dir/hold.txt" || score=$((score + 2))
  if [ "$(field hold held)" -gt 0 ] && [ "$score" -gt "$capacity_score" ]; then
    capacity_score=$score
    capacity_held=$(field hold held)
    capacity_drops=$(field hold drops)
    capacity_rcvbuf=$(field hold rcvbuf)
    capacity_rmem=$(field hold rmem)
  fi

  local lost=(--reader fast "$dir/fast.txt" "$(field fast drops)" --reader slow "$dir/slow.txt" "$(field slow drops)")
  local reports keepalives
  reports=$("$figures" --record "$dir/rec.txt" --from "$config_at" --to "$burst_to" --kind wdStatus "${lost[@]}")
  keepalives=$("$figures" --record "$dir/rec.txt" --from "$burst_to" --to "$ka_to" --kind wdKA --period-s 30 "${lost[@]}")
  echo "   reports:     ${reports#window }" >&2
  echo "   keep-alives: ${keepalives#window }" >&2
  get() { sed -n "s/.* $2=\([^ ]*\).*/\1/p" <<<"$1"; }
  local option=off
  [ "$spread" -gt 0 ] && option="--spread $spread"
  results_rows+=("| $start, $option | $started_ms ms | $(get "$reports" count) | $(get "$reports" span_ms) ms | $(get "$reports" max10ms) | $(get "$reports" max1s) | $(get "$reports" lost_fast) | $(get "$reports" lost_slow) | $(get "$keepalives" count) | $(get "$keepalives" round_ms) ms | $(get "$keepalives" max1s) | $(get "$keepalives" lost_fast) | $(get "$keepalives" lost_slow) |")
  if [ "$start" = power-up ] && [ "$spread" -eq 0 ]; then poweroff_round_ms=$(get "$keepalives" round_ms); fi
}

started=$(now_ns)
for start in $STARTS; do
  run_one "$start-off" "$start" 0
  [ "$SPREAD" -eq 0 ] || run_one "$start-on" "$start" "$SPREAD"
done
took_s=$((($(now_ns) - started) / 1000000000))

# ---------------------------------------------------------------------------
# The table and the arithmetic.
rev=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1 | awk '{print $1, $2, $3}')
os=$(sed -n 's/^PRETTY_NAME="\(.*\)"/\1/p' /etc/os-release 2>/dev/null || true)
report=$work/table.md
{
  echo "Measured $(date -u '+%Y-%m-%d %H:%M') UTC on $cpu, $(nproc) cores, Linux $(uname -r) ($os)."
  echo "VarnWin32 $rev, Release build; \`bench/fleet.sh --stations $STATIONS --pairs $PAIRS --spread $SPREAD --stagger $STAGGER\` ($took_s s)."
  echo "$STATIONS stations, each in its own network namespace on one bridge, $PAIRS pairs each ($((STATIONS * PAIRS)) reports per configuration); one configuration by multicast per run."
  echo
  echo "| run | stations started within | reports | report span | most reports in 10 ms | most reports in 1 s | lost, default buffer, fast reader | lost, default buffer, 1 ms per datagram | keep-alives (one round) | keep-alive round spread | most keep-alives in 1 s | lost, fast | lost, 1 ms |"
  echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|"
  printf '%s\n' "${results_rows[@]}"
  echo
  awk -v held="$capacity_held" -v drops="$capacity_drops" -v rcvbuf="$capacity_rcvbuf" -v rmem="$capacity_rmem" \
    -v reports_only=$((capacity_score >= 2)) \
    -v pairs="$PAIRS" -v spread="$SPREAD" -v rate="$READ_RATE" -v round_ms="${poweroff_round_ms:--}" '
    function max0(x) { return x > 0 ? x : 0 }
    function mb(datagrams) { return sprintf("%.1f MB", datagrams * each / 1e6) }
    function pct(lost, all) { return sprintf("%d (%.0f %%)", lost, 100 * lost / all) }
    BEGIN {
      each = held > 0 ? rmem / held : 0
      if (each <= 0) { print "The buffer figures are missing: the holding stand-in held nothing."; exit }
      # Filled when it dropped; otherwise what the bytes each datagram takes allow.
      capacity = drops > 0 ? held : int(rcvbuf / each)
      what = reports_only ? "reports (" : "datagrams (reports and keep-alives mixed, "
      printf "The default receive buffer (%d bytes) holds %d %s%d bytes each in the buffer%s).\n",
        rcvbuf, capacity, what, each, (drops > 0 ? "" : "; reckoned: it was not filled")
      if (reports_only) print "The arithmetic counts keep-alives as reports; they are shorter, and the buffer holds more of them."
      printf "At the scale of a plant, against a server that reads %d datagrams a second (1 ms each) with that buffer:\n\n", rate
      print "| stations | pairs | what arrives | within | lost, default buffer | buffer that loses nothing |"
      print "|---|---|---|---|---|---|"
      # The keep-alive round of the power-up with the option off; 1 s when
      # that run was left out.
      round = round_ms / 1000
      round_text = sprintf("%.2f s (as measured)", round)
      if (round <= 0) { round = 1; round_text = "1 s (not measured)" }
      n = split("2000 10000", fleet, " ")
      for (i = 1; i <= n; ++i) {
        m = fleet[i]; x = m * pairs
        row(m, sprintf("a configuration, off: %d reports", x), x, 1, "1 s (each at its next tick)")
        # Spread, the keep-alives of those seconds come too.
        if (spread > 0) row(m, sprintf("a configuration, --spread %d: %d reports and %d keep-alives", spread, x, x * spread / 30),
                            x + x * spread / 30, spread, spread " s")
        row(m, sprintf("a keep-alive round after a power-up, off: %d", x), x, round, round_text)
        if (spread > 0) row(m, sprintf("a keep-alive round, --spread %d: %d", spread, x), x, 30, "30 s (the period)")
      }
    }
    function row(m, what, x, seconds, within,   read, lost, need) {
      read = rate * seconds
      lost = max0(x - capacity - read)
      need = max0(x - read)
      printf "| %d | %d | %s | %s | %s | %s |\n", m, pairs, what, within, pct(lost, x),
        (need > capacity ? sprintf("%d datagrams, %s", need, mb(need)) : "the default")
    }'
} >"$report"

echo
cat "$report"
if [ "$RESULTS" != "-" ]; then
  [ -n "$RESULTS" ] || RESULTS=$root/bench/results/fleet-$(date +%Y-%m-%d).md
  cp "$report" "$RESULTS"
  echo
  echo "written to $RESULTS" >&2
fi
