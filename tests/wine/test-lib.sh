# Shell helpers the Wine test scripts share; sourced, not run. A script sets
# `failed=0` and, where it uses `probe`, `probe_exe` before calling them.

step() { echo "-- $*"; }
fail() { echo "FAIL: $*"; failed=1; }

# The probe's console output has Windows line ends.
probe() { WINEDEBUG=-all wine "$probe_exe" "$@" | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# A child that has ended is a zombie until it is waited for.
running() { [ -e "/proc/$1" ] && ! grep -q '^[0-9]* ([^)]*) Z' "/proc/$1/stat" 2>/dev/null; }

# Waits up to $2 seconds for process $1 to end; its exit status, or 124.
wait_exit() {
  local pid=$1 tenths=$(($2 * 10))
  for _ in $(seq 1 "$tenths"); do
    running "$pid" || { wait "$pid"; return $?; }
    sleep 0.1
  done
  return 124
}
