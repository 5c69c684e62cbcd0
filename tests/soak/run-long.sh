#!/usr/bin/env bash
# The long soak: builds the soak test and runs it for half an hour (or
# VARN_SOAK_SECONDS) inside the harness's network namespaces. Needs root,
# like the other network tests.
#   tests/soak/run-long.sh [BUILD_DIR]      (default: build-soak)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build-soak}
export VARN_SOAK_SECONDS=${VARN_SOAK_SECONDS:-1800}

if [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null 2>&1; then
  exec sudo --preserve-env=VARN_SOAK_SECONDS "$0" "$@"
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARN_WERROR=ON
cmake --build "$build" --target soak_test -j"$(nproc)"
cd "$build"
echo "== soak for ${VARN_SOAK_SECONDS} s"
ctest -R '^soak_test$' -V
