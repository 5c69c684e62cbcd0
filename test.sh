#!/usr/bin/env bash
# Installs what is missing, checks that no include runs up the layers
# (tools/check-layers.sh) and that every link of README and docs/ resolves,
# builds, and runs every test: the normal build, an
# AddressSanitizer + UndefinedBehaviorSanitizer build (leaks reported) and a
# ThreadSanitizer build. The network tests make private network namespaces,
# which needs root: run as root or with sudo available.
set -euo pipefail
cd "$(dirname "$0")"
tools/setup/install-deps.sh

if [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null 2>&1; then
  exec sudo --preserve-env=CI "$0" "$@"
fi

jobs=$(nproc)
status=0

echo "== layer order of the includes (base, metrics, beacon, net, service, shell, tools)"
tools/check-layers.sh . || status=1

echo "== links of README and docs/ (every page reached from README)"
python3 tests/docs/check-links.py || status=1

echo "== build and test (warnings are errors)"
cmake -S . -B build-check -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARN_WERROR=ON
cmake --build build-check -j"$jobs"
(cd build-check && ctest --output-on-failure) || status=1

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and test"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARN_WERROR=ON -DVARN_SANITIZE=address \
  -DCMAKE_CXX_COMPILER=clang++
cmake --build build-asan -j"$jobs"
# The soak runs 100 s in the normal build and 60 s under the sanitizers. The
# view channel's program test (40 s of a stopped viewer and a restart) runs in
# the normal build; under the sanitizers view_channel_tests cover the channel.
(cd build-asan && VARN_SOAK_SECONDS=60 ASAN_OPTIONS="detect_leaks=1:halt_on_error=1" \
  UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" ctest --output-on-failure -E '^view_against_program$') || status=1

echo "== ThreadSanitizer build and test"
# clang: GCC cannot instrument the fences inside Boost.Asio.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARN_WERROR=ON -DVARN_SANITIZE=thread \
  -DCMAKE_CXX_COMPILER=clang++
cmake --build build-tsan -j"$jobs"
(cd build-tsan && VARN_SOAK_SECONDS=60 TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --output-on-failure -E '^view_against_program$') || status=1

echo "== libFuzzer harnesses (VARN_FUZZ_SECONDS each, 60 by default)"
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARN_WERROR=ON -DVARN_FUZZ=ON \
  -DCMAKE_CXX_COMPILER=clang++
cmake --build build-fuzz -j"$jobs" --target varn_fuzzers
tests/fuzz/run-fuzzers.sh build-fuzz || status=1

echo "== Debian packages: build and inspect"
tools/package/build-deb.sh && tests/package/check-deb.sh || status=1

echo "== The service package installed in a minimal Debian 12 root, booted with systemd"
tests/package/container-test.sh || status=1

echo "== Windows build (MinGW-w64) and tests under Wine"
tests/wine/run-windows-tests.sh || status=1

exit $status
