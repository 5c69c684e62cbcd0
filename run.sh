#!/usr/bin/env bash
# Installs what is missing, builds, and starts VarnWin32.
set -euo pipefail
cd "$(dirname "$0")"
tools/setup/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
exec build/shell/varnwin32 "$@"
