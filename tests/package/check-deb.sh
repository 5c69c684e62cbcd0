#!/usr/bin/env bash
# Inspects the Debian packages that tools/package/build-deb.sh made (nothing
# is installed): the three packages, their -dbgsym packages and the source
# package are there; lintian finds no error and no warning that is not
# overridden; each lists its own files; the service's control data depends on what the service links and
# nothing graphical, the dialog's on the service of its version, and neither
# conflicts with the other; every Replaces: comes with a Breaks:; the settings file is a conffile; systemd-analyze
# verify accepts the unit and the view socket's as unpacked, beside the
# binary; the unit reads the settings file, is supervised, stays stopped
# after a wrong option, takes the view socket and is hardened as intended;
# the socket is 0660 root:varnwin32 and sysusers.d makes the group before
# the socket unit starts; the maintainer scripts parse.
#
#   tests/package/check-deb.sh [PACKAGE_DIR]     (default build-pkg)
set -u
cd "$(dirname "$0")/../.."
dir=${1:-build-pkg}
version=$(sed -n 's/^project(VarnWin32 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
service_deb=$dir/varnwin32-service_${version}_${arch}.deb
dialog_deb=$dir/varnwin32_${version}_${arch}.deb
tools_deb=$dir/varnwin32-tools_${version}_${arch}.deb
changes=$dir/varnwin32_${version}_${arch}.changes
for package in "$service_deb" "$dialog_deb" "$tools_deb" "$changes" "$dir/varnwin32_${version}.dsc" \
  "$dir"/varnwin32{,-service,-tools}-dbgsym_"${version}_${arch}".deb; do
  [ -f "$package" ] || { echo "FAIL: no $package (run tools/package/build-deb.sh)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }
step() { echo "-- $*"; }

step "lintian: no errors, no warnings (the source and all binary packages)"
lintian --tag-display-limit 0 "$changes" >"$work/lintian" 2>&1
grep -v '^running with root privileges' "$work/lintian"
! grep -q '^[EW]:' "$work/lintian" || fail "lintian reports errors or warnings"


step "dpkg-deb -c lists each package's files"
# contents PACKAGE: "-|d|l PATH" lines of its files.
contents() {
  dpkg-deb -c "$1" | awk '{print $1, $6}' | sed 's|^\(.\)[^ ]* \./|\1 /|'
}
expect() {  # PACKAGE PATH...
  local package=$1 path
  shift
  contents "$package" >"$work/contents"
  for path in "$@"; do
    grep -qxF -e "- $path" "$work/contents" || fail "not in $(basename "$package"): $path"
  done
}
executable() {  # PACKAGE PROGRAM
  dpkg-deb -c "$1" >"$work/listing"
  grep -q "^-rwxr-xr-x .* \./usr/bin/$2\$" "$work/listing" || fail "$2 is not executable"
}
expect "$service_deb" /usr/bin/varnwin32-service /usr/share/man/man1/varnwin32-service.1.gz \
  /lib/systemd/system/varnwin32.service /lib/systemd/system/varnwin32-view.socket \
  /usr/lib/sysusers.d/varnwin32.conf /etc/default/varnwin32 /usr/share/doc/varnwin32-service/copyright
executable "$service_deb" varnwin32-service
expect "$dialog_deb" /usr/bin/varnwin32 /usr/share/man/man1/varnwin32.1.gz /usr/share/applications/varnwin32.desktop \
  /etc/xdg/autostart/varnwin32-autostart.desktop /usr/share/icons/hicolor/16x16/apps/varnwin32.png \
  /usr/share/icons/hicolor/32x32/apps/varnwin32.png /usr/share/doc/varnwin32/copyright
executable "$dialog_deb" varnwin32
expect "$tools_deb" /usr/bin/varn-beacon /usr/bin/varn-probe /usr/share/man/man1/varn-beacon.1.gz \
  /usr/share/man/man1/varn-probe.1.gz /usr/share/doc/varnwin32-tools/copyright
executable "$tools_deb" varn-beacon
executable "$tools_deb" varn-probe
contents "$service_deb" >"$work/contents"
grep -q 'varnwin32\.desktop\|/usr/bin/varnwin32$\|varn-probe' "$work/contents" && fail "the service package holds the dialog's or the tools' files"
contents "$dialog_deb" >"$work/contents"
grep -q 'varnwin32-service\|systemd' "$work/contents" && fail "the dialog package holds the service's files"

step "control: versions, dependencies, no conflict"
depends_on() {  # PACKAGE DEPENDENCY: true when Depends names it
  local depends
  depends=$(dpkg-deb -f "$1" Depends)
  [[ ", $depends," == *", $2 "* || ", $depends," == *", $2,"* ]]
}
for package in "$service_deb" "$dialog_deb" "$tools_deb"; do
  [ "$(dpkg-deb -f "$package" Version)" = "$version" ] || fail "$(basename "$package"): the version is not $version"
  echo "   $(dpkg-deb -f "$package" Package): Depends: $(dpkg-deb -f "$package" Depends)"
done
for dependency in libc6 libstdc++6 libsystemd0; do
  depends_on "$service_deb" "$dependency" || fail "the service does not depend on $dependency"
done
if dpkg-deb -f "$service_deb" Depends | grep -qiE 'qt|libgl|libx|mesa|fontconfig|libicu'; then
  fail "the service depends on graphical libraries: $(dpkg-deb -f "$service_deb" Depends)"
fi
for dependency in libc6 libstdc++6 libqt6widgets6 qt6-qpa-plugins "varnwin32-service (= $version)"; do
  depends_on "$dialog_deb" "$dependency" || fail "the dialog does not depend on $dependency"
done
for package in "$service_deb" "$dialog_deb"; do
  [ -z "$(dpkg-deb -f "$package" Conflicts)" ] || fail "$(basename "$package") conflicts: $(dpkg-deb -f "$package" Conflicts)"
done
# The dialog of 1.0.0.5 conflicted with the service; the one of 1.0.0.4 held its files.
[ "$(dpkg-deb -f "$service_deb" Breaks)" = "varnwin32 (<< 1.0.0.6)" ] || fail "the service does not break the dialogs before 1.0.0.6"
[ "$(dpkg-deb -f "$service_deb" Replaces)" = "varnwin32 (<< 1.0.0.5)" ] || fail "the service does not replace the single package of 1.0.0.4"
for package in "$service_deb" "$dialog_deb" "$tools_deb"; do
  [ -z "$(dpkg-deb -f "$package" Replaces)" ] || [ -n "$(dpkg-deb -f "$package" Breaks)" ] ||
    fail "$(basename "$package") replaces without breaking"
done

step "systemd-analyze verify accepts the units"
dpkg-deb -x "$service_deb" "$work/tree"
dpkg-deb -e "$service_deb" "$work/control"
# The system's own units (targets the unit refers to), beside the package's.
cp -an /lib/systemd/system/. "$work/tree/lib/systemd/system/"
systemd-analyze verify --man=no --root="$work/tree" varnwin32.service varnwin32-view.socket || fail "systemd-analyze verify"

step "the settings file, read by the unit, is a conffile"
grep -qxF /etc/default/varnwin32 "$work/control/conffiles" || fail "/etc/default/varnwin32 is not listed in conffiles"
grep -qx 'VARNWIN32_OPTS=""' "$work/tree/etc/default/varnwin32" || fail "the settings file does not set VARNWIN32_OPTS empty"
for option in --allow-config-from --allow-status-from --status-rate --log-level; do
  grep -q "^# $option" "$work/tree/etc/default/varnwin32" || fail "the settings file does not explain $option"
done

step "the unit reads the settings, is supervised and hardened"
unit=$work/tree/lib/systemd/system/varnwin32.service
for line in Type=notify WatchdogSec=10s Restart=on-failure RestartPreventExitStatus=2 \
  EnvironmentFile=-/etc/default/varnwin32 'ExecStart=/usr/bin/varnwin32-service $VARNWIN32_OPTS' \
  DynamicUser=yes ProtectSystem=strict ProtectHome=yes PrivateTmp=yes NoNewPrivileges=yes \
  "RestrictAddressFamilies=AF_INET AF_NETLINK AF_UNIX" CapabilityBoundingSet= \
  MemoryDenyWriteExecute=yes SystemCallFilter=@system-service WantedBy=multi-user.target \
  Sockets=varnwin32-view.socket After=varnwin32-view.socket User=varnwin32-service PrivateUsers=yes; do
  grep -qxF "$line" "$unit" || fail "the unit lacks $line"
done

exposure=$(systemd-analyze security --offline=yes --root="$work/tree" varnwin32.service 2>/dev/null |
  sed -n 's/.*Overall exposure level for varnwin32.service: \([0-9.]*\).*/\1/p')
echo "   exposure: ${exposure:-?}"
awk -v e="${exposure:-99}" 'BEGIN { exit !(e <= 2.0) }' || fail "exposure ${exposure:-?} above 2.0"

step "the view socket: 0660 root:varnwin32 for the service, the group made by sysusers.d"
socket=$work/tree/lib/systemd/system/varnwin32-view.socket
for line in ListenStream=/run/varnwin32/view SocketMode=0660 SocketUser=root SocketGroup=varnwin32 \
  Service=varnwin32.service PartOf=varnwin32.service RemoveOnStop=no WantedBy=sockets.target; do
  grep -qxF "$line" "$socket" || fail "the socket unit lacks $line"
done
grep -qxE 'g +varnwin32 +-' "$work/tree/usr/lib/sysusers.d/varnwin32.conf" || fail "sysusers.d does not make the group varnwin32"

step "maintainer scripts"
for script in postinst prerm postrm; do
  [ -x "$work/control/$script" ] || { fail "no executable $script"; continue; }
  sh -n "$work/control/$script" || fail "$script does not parse"
done
# The socket unit names the group: it is made before the socket starts.
group=$(grep -n 'systemd-sysusers .*varnwin32\.conf' "$work/control/postinst" | cut -d: -f1)
start=$(grep -n "deb-systemd-invoke .*'varnwin32-view.socket'" "$work/control/postinst" | cut -d: -f1)
[ -n "$group" ] && [ -n "$start" ] && [ "$group" -lt "$start" ] || fail "postinst does not make the group before it starts the socket"
# The dialog replaces the one package of 1.0.0.4, which ran the service.
dpkg-deb -e "$dialog_deb" "$work/dialog-control"
[ -x "$work/dialog-control/preinst" ] && sh -n "$work/dialog-control/preinst" || fail "the dialog has no preinst that parses"
grep -q 'lt 1\.0\.0\.5' "$work/dialog-control/preinst" && grep -q 'deb-systemd-invoke stop varnwin32.service' "$work/dialog-control/preinst" ||
  fail "the dialog's preinst does not stop the service of the single package it replaces"

if [ "$failed" -ne 0 ]; then
  echo "package check FAILED"
  exit 1
fi
echo "package check passed"
