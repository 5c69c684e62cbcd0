# Shell helpers the Wine test scripts share; sourced, not run. A script sets
# `failed=0`, `work` (its scratch directory) and, where it uses `probe`,
# `probe_exe` before calling them.

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

windows_path() { printf 'Z:%s' "${1//\//\\}"; }
# Wine's console programs end their lines the Windows way.
wine_out() { WINEDEBUG=-all wine "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# msiexec KIND MSI [PROPERTIES...]: a silent install (/i) or uninstall (/x)
# with a verbose log ($work/last.log, echoed on failure unless
# MSIEXEC_QUIET is set); Wine's msi trace in $work/trace (the commands
# custom actions run). The status is msiexec's as Wine hands it to Linux:
# the low 8 bits (1603 comes as 67).
msiexec() {
  local kind=$1 package=$2 log
  shift 2
  log=$work/msiexec-$(date +%s%N).log
  WINEDEBUG=-all,+msi wine msiexec "$kind" "$(windows_path "$package")" /qn /l*v "$(windows_path "$log")" "$@" \
    >"$work/msiexec.out" 2>"$work/trace"
  local status=$?
  cp "$log" "$work/last.log" 2>/dev/null
  echo "   msiexec $kind $(basename "$package") /qn $* -> $status"
  if [ "$status" -ne 0 ] && [ -z "${MSIEXEC_QUIET:-}" ]; then
    tail -n 20 "$work/msiexec.out"
    grep -a ':err:' "$work/trace" | tail -n 20
    iconv -f UTF-16LE -t UTF-8 "$log" 2>/dev/null | tail -n 30 || tail -n 30 "$log"
  fi
  return "$status"
}

# The arguments of the custom actions that ran the program $1 (netsh.exe,
# sc.exe) in the last msiexec, one line each.
custom_action_runs() {
  grep -a "HANDLE_CustomType50 exe .*$1" "$work/trace" | sed 's/.* arg L"//; s/"$//; s/\\"/"/g; s/\\\\/\\/g'
}

# Every key and value of the registry that names VarnWin32, as Wine keeps
# them.
registry_naming_varnwin32() {
  wine_out regedit /E "$(windows_path "$work/all.reg")" >/dev/null
  iconv -f UTF-16LE -t UTF-8 "$work/all.reg" 2>/dev/null >"$work/all.txt" || cp "$work/all.reg" "$work/all.txt"
  grep -i 'varnwin32' "$work/all.txt"
}

# Installer packages Windows Installer still keeps in C:\windows\Installer.
cached_packages() { find "$WINEPREFIX/drive_c/windows/Installer" -name '*.msi' 2>/dev/null | wc -l; }
# Fails unless nothing in the registry names VarnWin32 and no installer
# package is left cached (uses the caller's $work for the listing).
expect_no_registry_or_cache() {
  if registry_naming_varnwin32 >"$work/left.txt"; then
    fail "the registry still names VarnWin32:"
    head -n 20 "$work/left.txt"
  fi
  local cached
  cached=$(cached_packages)
  [ "$cached" -eq 0 ] || fail "$cached cached installer package(s) left in C:\\windows\\Installer"
}
