#!/usr/bin/env bash
# Inspects the Debian package that tools/package/build-deb.sh made (nothing is
# installed): lintian finds no errors; the package lists the programs, the
# unit, the desktop and autostart entries, the icons, the man pages and the
# copyright file; its control data declares the runtime dependencies;
# systemd-analyze verify accepts the unit as unpacked, beside the binary it
# starts; the unit is supervised and hardened as intended; the maintainer
# scripts parse.
#
#   tests/package/check-deb.sh [build-pkg/varnwin32_VERSION_ARCH.deb]
set -u
cd "$(dirname "$0")/../.."
package=${1:-$(ls build-pkg/varnwin32_*.deb 2>/dev/null | head -n1)}
[ -f "$package" ] || { echo "FAIL: no package (run tools/package/build-deb.sh)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }
step() { echo "-- $*"; }

step "lintian: no errors"
lintian --tag-display-limit 0 "$package" >"$work/lintian" 2>&1
cat "$work/lintian"
! grep -q '^E:' "$work/lintian" || fail "lintian reports errors"

step "dpkg-deb -c lists the files"
dpkg-deb -c "$package" >"$work/listing" || fail "dpkg-deb -c"
awk '{print $1, $6}' "$work/listing" | sed 's|^\(.\)[^ ]* \./|\1 /|' >"$work/contents"
expect() {
  local kind=$1 path=$2
  grep -qxF -e "$kind $path" "$work/contents" || fail "not in the package: $path"
}
for program in varnwin32 varnwin32-service varn-beacon varn-probe; do
  expect - "/usr/bin/$program"
  expect - "/usr/share/man/man1/$program.1.gz"
  grep -q "^-rwxr-xr-x .* \./usr/bin/$program\$" "$work/listing" || fail "$program is not executable"
done
for file in /lib/systemd/system/varnwin32.service /usr/share/applications/varnwin32.desktop \
  /usr/share/varnwin32/varnwin32-autostart.desktop /usr/share/icons/hicolor/16x16/apps/varnwin32.png \
  /usr/share/icons/hicolor/32x32/apps/varnwin32.png /usr/share/doc/varnwin32/copyright; do
  expect - "$file"
done

step "control: version and runtime dependencies"
version=$(sed -n 's/^project(VarnWin32 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ "$(dpkg-deb -f "$package" Version)" = "$version" ] || fail "the package version is not $version"
depends=$(dpkg-deb -f "$package" Depends)
echo "   Depends: $depends"
for dependency in libc6 libstdc++6 libqt6widgets6 libsystemd0 qt6-qpa-plugins; do
  [[ ", $depends," == *", $dependency "* || ", $depends," == *", $dependency,"* ]] ||
    fail "no dependency on $dependency"
done

step "systemd-analyze verify accepts the unit"
dpkg-deb -x "$package" "$work/tree"
dpkg-deb -e "$package" "$work/control"
# The system's own units (targets the unit refers to), beside the package's.
cp -an /lib/systemd/system/. "$work/tree/lib/systemd/system/"
systemd-analyze verify --man=no --root="$work/tree" varnwin32.service || fail "systemd-analyze verify"

step "the unit is supervised and hardened"
unit=$work/tree/lib/systemd/system/varnwin32.service
for line in Type=notify WatchdogSec=10s Restart=on-failure ExecStart=/usr/bin/varnwin32-service \
  DynamicUser=yes ProtectSystem=strict ProtectHome=yes PrivateTmp=yes NoNewPrivileges=yes \
  "RestrictAddressFamilies=AF_INET AF_NETLINK AF_UNIX" CapabilityBoundingSet= \
  MemoryDenyWriteExecute=yes SystemCallFilter=@system-service WantedBy=multi-user.target; do
  grep -qxF "$line" "$unit" || fail "the unit lacks $line"
done
exposure=$(systemd-analyze security --offline=yes --root="$work/tree" varnwin32.service 2>/dev/null |
  sed -n 's/.*Overall exposure level for varnwin32.service: \([0-9.]*\).*/\1/p')
echo "   exposure: ${exposure:-?}"
awk -v e="${exposure:-99}" 'BEGIN { exit !(e <= 2.0) }' || fail "exposure ${exposure:-?} above 2.0"

step "maintainer scripts"
for script in postinst prerm postrm; do
  [ -x "$work/control/$script" ] || { fail "no executable $script"; continue; }
  sh -n "$work/control/$script" || fail "$script does not parse"
done
grep -q 'deb-systemd-invoke start varnwin32.service' "$work/control/postinst" || fail "postinst starts nothing"
grep -q 'deb-systemd-invoke stop varnwin32.service' "$work/control/prerm" || fail "prerm stops nothing"
grep -q 'deb-systemd-helper purge varnwin32.service' "$work/control/postrm" || fail "postrm purges nothing"

if [ "$failed" -ne 0 ]; then
  echo "package check FAILED"
  exit 1
fi
echo "package check passed"
