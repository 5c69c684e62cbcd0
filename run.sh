#!/usr/bin/env bash
# Installs what is missing, builds, and starts VarnWin32 (the dialog; it
# needs a desktop session, or any X display such as Xvfb).
set -euo pipefail
cd "$(dirname "$0")"
tools/setup/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target varnwin32
exec build/shell/qt/varnwin32 "$@"
