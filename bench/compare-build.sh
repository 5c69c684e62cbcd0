#!/usr/bin/env bash
# Puts this build's service beside an older revision's, in one run on one
# machine, and prints the ratios, so that a change shows what it costs:
#
#   - idle CPU time of both services and of the bare once-a-second
#     /proc/stat loop (bench/minimal_tick), all three in one window;
#   - status replies per second with one request in flight (no reply
#     bound: --status-rate 0), for both
#     services and the bare recvfrom/sendto server, one after the other,
#     the order turned round at every run.
#
#   sudo bench/compare-build.sh [REVISION]
#
# REVISION defaults to the build before the log levels (the parent of the
# first log-level commit). Its sources are taken with git archive into a
# scratch folder (no worktree is added) and built there (Release, service
# only, ccache when present); this build's service and the bench programs
# come from VARN_BENCH_BUILD_DIR (default build-bench, built here if needed).
# run-bench.sh calls it with VARN_BENCH_COMPARE=1.
#
# Settings (environment):
#   VARN_COMPARE_RUNS=2             idle windows and status rounds
#   VARN_BENCH_IDLE_SECONDS=60      one idle window
#   VARN_BENCH_RR_SECONDS=5         one status measurement
#   VARN_COMPARE_SCRATCH=/tmp/varn-compare   where older revisions are built
# It reports; it does not judge.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
RUNS=${VARN_COMPARE_RUNS:-2}
IDLE_SECONDS=${VARN_BENCH_IDLE_SECONDS:-60}
RR_SECONDS=${VARN_BENCH_RR_SECONDS:-5}
scratch=${VARN_COMPARE_SCRATCH:-/tmp/varn-compare}
build=${VARN_BENCH_BUILD_DIR:-$root/build-bench}
case "$build" in /*) ;; *) build=$root/$build ;; esac
REQUEST='STATUS_REQUEST '

die() {
  echo "compare-build: $*" >&2
  exit 1
}

if [ "${VARN_COMPARE_IN_NETNS:-}" != 1 ]; then
  [ "$(id -u)" -eq 0 ] || die "needs root (it makes a private network namespace): sudo $0"
  first_level=$(git -C "$root" log --reverse --format=%H --grep='^Log levels' | head -1)
  revision=${1:-${first_level:+$first_level^}}
  [ -n "$revision" ] || die "no revision given and no log-level commit found"
  sha=$(git -C "$root" rev-parse --verify "$revision^{commit}") || die "unknown revision $revision"
  old=$scratch/$sha
  launcher=()
  command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  if [ ! -x "$old/build/shell/varnwin32-service" ]; then
    echo "== build of ${sha:0:7} in $old" >&2
    rm -rf "$old"
    mkdir -p "$old"
    git -C "$root" archive "$sha" | tar -x -C "$old"
    cmake -S "$old" -B "$old/build" -DCMAKE_BUILD_TYPE=Release -DVARN_BUILD_TESTS=OFF -DVARN_BUILD_GUI=OFF \
      "${launcher[@]}" >"$old/build.log" 2>&1 &&
      cmake --build "$old/build" -j2 --target varnwin32-service >>"$old/build.log" 2>&1 ||
      die "build of $sha failed (see $old/build.log)"
  fi
  if [ ! -x "$build/shell/varnwin32-service" ] || [ ! -x "$build/bench/udp_rr" ]; then
    echo "== build of this tree in $build" >&2
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARN_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null &&
      cmake --build "$build" -j2 --target varnwin32-service varn-bench-programs >/dev/null ||
      die "build of this tree failed"
  fi
  export VARN_COMPARE_IN_NETNS=1 VARN_COMPARE_OLD="$old/build/shell/varnwin32-service"
  export VARN_COMPARE_OLD_NAME="${sha:0:7}" VARN_BENCH_BUILD_DIR="$build"
  exec "$root/tests/netns/run-in-netns.sh" private "$0"
fi

# Inside the private namespace.
bin=$build/bench
new=$build/shell/varnwin32-service
old=$VARN_COMPARE_OLD
work=$(mktemp -d /tmp/varn-compare.XXXXXX)
started=()
cleanup() {
  local p
  for p in "${started[@]}"; do
    kill -TERM "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

cpu_ns() {
  local total=0 t run
  for t in /proc/"$1"/task/*/schedstat; do
    [ -r "$t" ] || continue
    read -r run _ <"$t" || continue
    total=$((total + run))
  done
  echo "$total"
}
wait_status() {
  for _ in $(seq 1 100); do
    "$bin/udp_rr" --to 127.0.0.1:"$1" --text "$REQUEST" --once --timeout-ms 100 >/dev/null 2>&1 && return 0
  done
  return 1
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "–"; else printf "%.2f", a / b }'; }
per_min() { awk -v a="$1" -v b="$2" -v s="$IDLE_SECONDS" 'BEGIN { printf "%.2f", (b - a) / 1e6 * 60 / s }'; }

echo "| run | measure | this build | ${VARN_COMPARE_OLD_NAME} | bare loop | this ÷ old | this ÷ bare | old ÷ bare |"
echo "|---|---|---|---|---|---|---|---|"

# Idle: both services (each in a namespace of its own, for the status port)
# and the bare loop, in one window.
for run in $(seq 1 "$RUNS"); do
  "$root/tests/netns/run-in-netns.sh" private "$new" >"$work/new.err" 2>&1 &
  p_new=$!
  started+=("$p_new")
  "$root/tests/netns/run-in-netns.sh" private "$old" >"$work/old.err" 2>&1 &
  p_old=$!
  started+=("$p_old")
  "$bin/minimal_tick" --max-seconds 3600 &
  p_tick=$!
  started+=("$p_tick")
  sleep 5
  a_new=$(cpu_ns "$p_new"); a_old=$(cpu_ns "$p_old"); a_tick=$(cpu_ns "$p_tick")
  sleep "$IDLE_SECONDS"
  b_new=$(cpu_ns "$p_new"); b_old=$(cpu_ns "$p_old"); b_tick=$(cpu_ns "$p_tick")
  for p in "$p_new" "$p_old" "$p_tick"; do kill -TERM "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  c_new=$(per_min "$a_new" "$b_new"); c_old=$(per_min "$a_old" "$b_old"); c_tick=$(per_min "$a_tick" "$b_tick")
  echo "| $run | idle CPU, ms/min | $c_new | $c_old | $c_tick | $(ratio "$c_new" "$c_old") | $(ratio "$c_new" "$c_tick") | $(ratio "$c_old" "$c_tick") |"
done

# Status: one request in flight, each server alone on CPU 0, the client on
# the other CPU when there is one.
client_cpu=0
[ "$(nproc)" -ge 2 ] && client_cpu=1
rr_rate() {  # PROGRAM ARGS...: replies per second against it on port 45654
  taskset -c 0 "$@" >/dev/null 2>&1 &
  local p=$!
  started+=("$p")
  wait_status 45654 || die "$1 does not answer"
  taskset -c "$client_cpu" "$bin/udp_rr" --to 127.0.0.1:45654 --text "$REQUEST" --in-flight 1 \
    --seconds "$RR_SECONDS" --warmup 0.5 | sed -n 's/.* rate=\([^ ]*\).*/\1/p'
  kill -TERM "$p" 2>/dev/null || true
  wait "$p" 2>/dev/null || true
}
for run in $(seq 1 "$RUNS"); do
  if [ $((run % 2)) = 1 ]; then
    r_new=$(rr_rate "$new" --status-rate 0); r_old=$(rr_rate "$old" --status-rate 0); r_bare=$(rr_rate "$bin/minimal_udp_server" --port 45654)
  else
    r_bare=$(rr_rate "$bin/minimal_udp_server" --port 45654); r_old=$(rr_rate "$old" --status-rate 0); r_new=$(rr_rate "$new" --status-rate 0)
  fi
  echo "| $run | status replies/s, 1 in flight | $r_new | $r_old | $r_bare | $(ratio "$r_new" "$r_old") | $(ratio "$r_new" "$r_bare") | $(ratio "$r_old" "$r_bare") |"
done
