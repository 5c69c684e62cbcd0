#!/usr/bin/env bash
# Builds the Windows Installer package of VarnWin32.exe on Debian: the
# program first (tools/windows/build-exe.sh), then
# build-win/VarnWin32-<version>.msi, packed by wixl from
# tools/windows/varnwin32.wxs (tools/windows/make-msi.sh).
#
#   tools/windows/build-installer.sh [CMAKE_OPTIONS...]
#
# VARN_WIN_BUILD_DIR: the build directory (default build-win).
# VARN_SIGN_CERT and VARN_SIGN_KEY (VARN_SIGN_TIMESTAMP_URL): signs the
# programs and then the package with them (tools/windows/sign.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${VARN_WIN_BUILD_DIR:-build-win}
VARN_WIN_BUILD_DIR=$build tools/windows/build-exe.sh "$@"
cmake --build "$build" --target varnwin32_msi
if [ -n "${VARN_SIGN_CERT:-}" ]; then
  VARN_WIN_BUILD_DIR=$build tools/windows/sign.sh "$VARN_SIGN_CERT" "${VARN_SIGN_KEY:?with VARN_SIGN_CERT}" \
    ${VARN_SIGN_TIMESTAMP_URL:+"$VARN_SIGN_TIMESTAMP_URL"}
fi
ls "$build"/VarnWin32-*.msi
