#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that
# are missing. Safe to run again. With --bench, also the peers the benchmark
# measures the program against.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libboost-dev libboost-system-dev
  libgtest-dev
  clang libclang-rt-14-dev
  iproute2 util-linux
  qt6-base-dev libgl-dev libxcb1-dev fonts-dejavu-core
  # the radar test's own X server
  xvfb xauth
  # Windows build (MinGW-w64; the GoogleTest sources come with libgtest-dev)
  # and its tests under Wine
  g++-mingw-w64-x86-64-posix
  wine wine64 xvfb x11-utils python3 imagemagick
  # systemd notifications of the service; the Debian packages (debhelper) and their
  # checks, the last in a minimal Debian root booted as a container
  libsystemd-dev dpkg-dev debhelper lintian systemd mmdebstrap systemd-container
  # the Windows installer (wixl) and its inspection (msiinfo)
  wixl msitools
  # Authenticode signatures of the programs and the package, and the test's
  # throwaway certificate
  osslsigncode openssl
)
if [ "${1:-}" = "--bench" ]; then
  # bench/run-bench.sh runs its own instances of them
  packages+=(monit zabbix-agent snmpd)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 || { echo "install-deps: need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
  as_root=(sudo)
fi
echo "install-deps: installing ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

# The benchmark starts its own instances of its peers: the packages' own
# services are not wanted running.
for s in monit zabbix-agent snmpd; do
  case " ${missing[*]} " in *" $s "*) ;; *) continue ;; esac
  if [ -d /run/systemd/system ]; then
    "${as_root[@]}" systemctl disable --now "$s" >/dev/null 2>&1 || true
  else
    "${as_root[@]}" service "$s" stop >/dev/null 2>&1 || true
  fi
done
