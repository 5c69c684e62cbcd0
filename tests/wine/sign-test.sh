#!/usr/bin/env bash
# tools/windows/sign.sh with a throwaway self-signed certificate, on a copy
# of the build's programs and package:
#
#   sign-test.sh VarnWin32-VERSION.msi VarnWin32.exe VarnWin32Service.exe VarnWin32Setup.dll ICON.ico
#
# Each of the four files, and the service's program inside the package,
# then has a signature that osslsigncode verifies against the certificate
# (the certificate its own CA: it chains to nothing else).
set -u
msi=${1:?installer}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/varn-sign.XXXXXX)
trap 'rm -rf "$work"' EXIT
failed=0
. "$here/test-lib.sh"

step "a throwaway code-signing certificate"
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=VarnWin32 test signing" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null ||
  { echo "FAIL: openssl made no certificate"; exit 1; }

step "sign.sh on a copy of the build"
programs=$work/build/shell/win32
mkdir -p "$programs/generated"
cp "$2" "$3" "$4" "$programs/"
cp "$5" "$programs/generated/icon108.ico"
cp "$msi" "$work/build/"
VARN_WIN_BUILD_DIR=$work/build "$here/../../tools/windows/sign.sh" "$work/cert.pem" "$work/key.pem" |
  sed 's/^/   /' || fail "sign.sh failed"

step "osslsigncode verifies each file"
verify() {
  if osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.out" 2>&1; then
    echo "   $(basename "$1"): $(grep -m1 'Signature verification' "$work/verify.out")"
  else
    fail "$1 does not verify: $(grep -iE 'fail|error|no signature' "$work/verify.out" | head -n 3)"
  fi
}
for file in "$programs/VarnWin32.exe" "$programs/VarnWin32Service.exe" "$programs/VarnWin32Setup.dll" \
  "$work/build/$(basename "$msi")"; do
  verify "$file"
done
msiextract -C "$work/packaged" "$work/build/$(basename "$msi")" >/dev/null
verify "$(find "$work/packaged" -iname VarnWin32Service.exe | head -n 1)"

if [ "$failed" -ne 0 ]; then
  echo "signing test FAILED"
  exit 1
fi
echo "signing test passed"
