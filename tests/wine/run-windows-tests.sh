#!/usr/bin/env bash
# The Windows stage of ./test.sh: builds VarnWin32.exe and the Windows test
# programs with MinGW-w64 (warnings are errors), starts a fresh Wine prefix,
# and runs every Windows test under Wine, the smoke test of the program
# included. Each test gets a session of its own (tests/wine/wine-session.sh:
# private network namespace, Xvfb, its own wineserver). Needs root for the
# namespaces.
set -euo pipefail
cd "$(dirname "$0")/../.."

build=${VARN_WIN_BUILD_DIR:-build-win}
VARN_WIN_BUILD_DIR=$build tools/windows/build-exe.sh --all -DVARN_WERROR=ON

export WINEPREFIX=$PWD/$build/wine-prefix
rm -rf "$WINEPREFIX"
cd "$build"
ctest --output-on-failure
