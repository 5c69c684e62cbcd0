#!/usr/bin/env bash
# Packs VarnWin32.exe into a Windows Installer package with wixl (Debian's
# msitools) from varnwin32.wxs, then sets what wixl cannot express with
# msibuild: the Run value's component is installed only with AUTOSTART=1
# (and taken along by every uninstall: a component whose condition is false
# would be left behind), and AUTOSTART reaches the elevated part of an
# installation started by a user (a secure property).
#
#   make-msi.sh VERSION VarnWin32.exe ICON.ico OUTPUT.msi
set -euo pipefail
version=${1:?version}
exe=${2:?VarnWin32.exe}
icon=${3:?icon}
output=${4:?output.msi}
here=$(cd "$(dirname "$0")" && pwd)

IFS=. read -r major minor patch _ <<<"$version"
next="$major.$minor.$((patch + 1))"

# wixl takes the sources by names relative to where it runs.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$exe" "$stage/VarnWin32.exe"
cp "$icon" "$stage/varnwin32.ico"
mkdir -p "$(dirname "$output")"
output=$(cd "$(dirname "$output")" && pwd)/$(basename "$output")

(cd "$stage" && wixl --arch x64 -D Version="$version" -D NextVersion="$next" \
  -D ExePath=VarnWin32.exe -D IconPath=varnwin32.ico -o package.msi "$here/varnwin32.wxs" 2>&1 |
  grep -v 'builder.vala:.*unimplemented' || true)
[ -s "$stage/package.msi" ] || { echo "make-msi: wixl made no package" >&2; exit 1; }
msibuild "$stage/package.msi" -q \
  "UPDATE \`Component\` SET \`Condition\` = 'AUTOSTART=\"1\" OR REMOVE~=\"ALL\"' WHERE \`Component\` = 'Autostart'"
msibuild "$stage/package.msi" -q \
  "UPDATE \`Property\` SET \`Value\` = 'OLDERVERSIONFOUND;NEWERVERSIONFOUND;AUTOSTART' WHERE \`Property\` = 'SecureCustomProperties'"
msiinfo export "$stage/package.msi" Property | tr -d '\r' | grep -q '^SecureCustomProperties.*;AUTOSTART$' ||
  { echo "make-msi: AUTOSTART is not a secure property" >&2; exit 1; }
msiinfo export "$stage/package.msi" Component | grep -q 'AUTOSTART="1"' ||
  { echo "make-msi: the Run value's condition is not set" >&2; exit 1; }
mv "$stage/package.msi" "$output"
echo "built $output"
