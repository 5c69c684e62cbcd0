#!/usr/bin/env bash
# Signs the Windows build with Authenticode (osslsigncode): VarnWin32.exe,
# VarnWin32Service.exe and VarnWin32Setup.dll first, then the installer
# package is packed again from the signed programs (the package carries
# them) and signed itself.
#
#   tools/windows/sign.sh CERT KEY [TIMESTAMP_URL]
#
# CERT: the code-signing certificate with its chain (PEM, or DER/SPC);
# KEY: its private key (PEM or DER; VARN_SIGN_PASSWORD if it is encrypted).
# With TIMESTAMP_URL (an RFC 3161 time-stamp server) every signature is
# time-stamped, so that it stays valid after the certificate expires;
# without it nothing leaves the machine. The build directory is build-win
# (VARN_WIN_BUILD_DIR to change it), as tools/windows/build-installer.sh
# left it: the programs in build-win/shell/win32/, VarnWin32-VERSION.msi.
set -euo pipefail
cert=${1:?usage: sign.sh CERT KEY [TIMESTAMP_URL]}
key=${2:?usage: sign.sh CERT KEY [TIMESTAMP_URL]}
timestamp=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
build=${VARN_WIN_BUILD_DIR:-build-win}
command -v osslsigncode >/dev/null || "$here/../setup/install-deps.sh"

programs=$build/shell/win32
msis=("$build"/VarnWin32-*.msi)
[ ${#msis[@]} = 1 ] && [ -f "${msis[0]}" ] ||
  { echo "sign: need exactly one $build/VarnWin32-VERSION.msi (tools/windows/build-installer.sh)" >&2; exit 1; }
msi=${msis[0]}
version=$(basename "$msi" .msi)
version=${version#VarnWin32-}

options=(-certs "$cert" -key "$key" -h sha256 -n VarnWin32)
[ -n "${VARN_SIGN_PASSWORD:-}" ] && options+=(-pass "$VARN_SIGN_PASSWORD")
[ -n "$timestamp" ] && options+=(-ts "$timestamp")

# osslsigncode writes a new file: the signed one replaces the original.
sign() {
  local file=$1
  rm -f "$file.signed"
  osslsigncode sign "${options[@]}" -in "$file" -out "$file.signed" >/dev/null
  mv "$file.signed" "$file"
  echo "signed $file"
}

for file in VarnWin32.exe VarnWin32Service.exe VarnWin32Setup.dll; do
  sign "$programs/$file"
done
"$here/make-msi.sh" "$version" "$programs/VarnWin32.exe" "$programs/VarnWin32Service.exe" \
  "$programs/VarnWin32Setup.dll" "$programs/generated/icon108.ico" "$msi"
sign "$msi"
