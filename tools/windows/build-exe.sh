#!/usr/bin/env bash
# Builds VarnWin32.exe and VarnWin32Service.exe for 64-bit Windows 7 and
# later on Debian, with the MinGW-w64 cross compiler: a host build of
# varn-resgen first (for the bitmaps, icons and dialog of the resource
# script), then the programs, statically linked so they run alone.
# Installs what is missing first.
#
#   tools/windows/build-exe.sh [--all] [CMAKE_OPTIONS...]
#
# --all also builds the Windows test programs. The build directory is
# build-win (VARN_WIN_BUILD_DIR to change it); the programs end up in
# build-win/shell/win32/.
set -euo pipefail
cd "$(dirname "$0")/../.."
tools/setup/install-deps.sh

target=(--target VarnWin32 --target VarnWin32Service)
if [ "${1:-}" = "--all" ]; then
  target=()
  shift
fi
build=${VARN_WIN_BUILD_DIR:-build-win}

cmake -S . -B "$build" --toolchain cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build "$build" -j"${VARN_JOBS:-$(nproc)}" "${target[@]}"
echo "built $build/shell/win32/VarnWin32.exe and VarnWin32Service.exe"
