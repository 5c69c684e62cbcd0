#!/usr/bin/env bash
# Runs each libFuzzer harness of an already built fuzz build for a bounded
# time over a copy of its seed corpus, and fails on any crash, broken rule,
# leak, sanitizer report or timeout. Builds nothing:
#
#   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DVARN_FUZZ=ON
#   cmake --build build-fuzz --target varn_fuzzers
#   tests/fuzz/run-fuzzers.sh [BUILD_DIR [HARNESS...]]
#
# BUILD_DIR defaults to build-fuzz; HARNESS is a name such as beacon_channel
# (all of them by default). The harnesses that make a watchdog server open
# its sockets, so they run in a private network namespace (root needed;
# without it they are reported as skipped).
#
# Environment: VARN_FUZZ_SECONDS (per harness, default 60), VARN_FUZZ_RSS_MB
# (default 2048), VARN_FUZZ_TIMEOUT (seconds for one input, default 10),
# VARN_FUZZ_MAX_LEN (bytes, default 4096), VARN_FUZZ_KEEP=1 keeps the work
# directory (grown corpus, logs) also when everything passed.
set -u

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build-fuzz}
[ $# -gt 0 ] && shift
seconds=${VARN_FUZZ_SECONDS:-60}
rss_mb=${VARN_FUZZ_RSS_MB:-2048}
timeout=${VARN_FUZZ_TIMEOUT:-10}
max_len=${VARN_FUZZ_MAX_LEN:-4096}

# name and the namespace it needs
harnesses=(
  "xml_value none"
  "beacon_channel private"
  "crossover private"
  "command_server private"
  "cloud_listener private"
  "view_wire none"
)

wanted() {
  [ ${#selected[@]} -eq 0 ] && return 0
  local s
  for s in "${selected[@]}"; do [ "$s" = "$1" ] && return 0; done
  return 1
}
selected=("$@")

work=$(mktemp -d "${TMPDIR:-/tmp}/varn-fuzz.XXXXXX")
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:allocator_may_return_null=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

failed=0
ran=0
summary=()
for entry in "${harnesses[@]}"; do
  read -r name netns <<<"$entry"
  wanted "$name" || continue
  binary="$build/tests/fuzz/fuzz_$name"
  if [ ! -x "$binary" ]; then
    echo "run-fuzzers: $binary not built (cmake --build $build --target varn_fuzzers)" >&2
    failed=1
    summary+=("$(printf '%-16s %s' "$name" "NOT BUILT")")
    continue
  fi
  corpus="$work/$name/corpus"
  artifacts="$work/$name/artifacts"
  log="$work/$name/log"
  mkdir -p "$corpus" "$artifacts"
  cp "$here/corpus/$name/"* "$corpus/"   # the repository's seeds stay as they are

  command=("$binary" "-max_total_time=$seconds" "-rss_limit_mb=$rss_mb" "-timeout=$timeout"
           "-max_len=$max_len" "-dict=$here/varn.dict" "-print_final_stats=1"
           "-error_exitcode=1" "-timeout_exitcode=2" "-artifact_prefix=$artifacts/" "$corpus")
  if [ "$netns" != none ]; then
    command=("$root/tests/netns/run-in-netns.sh" "$netns" "${command[@]}")
  fi
  echo "== fuzz_$name (${seconds} s)"
  "${command[@]}" >"$log" 2>&1
  status=$?
  ran=$((ran + 1))

  if [ $status -eq 77 ] && grep -q '^SKIPPED' "$log"; then
    head -1 "$log"
    summary+=("$(printf '%-16s %s' "$name" "SKIPPED (no network namespace)")")
    continue
  fi
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1)
  [ -n "$done_line" ] || done_line=$(grep -E '^#[0-9]+[[:space:]]' "$log" | tail -1)
  cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$done_line")
  ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$done_line")
  runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log" | tail -1)
  rate=$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+).*/\1/p' "$log" | tail -1)
  findings=$(ls "$artifacts" 2>/dev/null)
  reports=$(grep -cE 'ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error:|broken rule:' "$log")

  if [ $status -ne 0 ] || [ -n "$findings" ] || [ "$reports" -ne 0 ] || [ -z "$done_line" ]; then
    failed=1
    verdict="FAILED (exit $status)"
    echo "-- fuzz_$name failed; the end of its log ($log):"
    tail -40 "$log"
    for f in $findings; do echo "-- input kept: $artifacts/$f"; done
  else
    verdict="ok"
  fi
  line=$(printf '%-16s %-22s exec/s %-8s runs %-10s cov %-6s ft %-6s' "$name" "$verdict" \
         "${rate:-?}" "${runs:-?}" "${cov:-?}" "${ft:-?}")
  echo "$line"
  summary+=("$line")
done

echo
echo "== fuzzing summary (${seconds} s per harness)"
printf '%s\n' "${summary[@]}"
if [ $ran -eq 0 ] && [ ${#selected[@]} -gt 0 ]; then
  echo "run-fuzzers: no harness called ${selected[*]}" >&2
  failed=1
fi
if [ $failed -ne 0 ] || [ "${VARN_FUZZ_KEEP:-0}" = 1 ]; then
  echo "work directory kept: $work"
else
  rm -rf "$work"
fi
exit $failed
