#!/usr/bin/env bash
# Builds the three Debian packages into build-pkg/, from one build:
#   varnwin32-service_<version>_<arch>.deb  the windowless service under a
#       supervised systemd unit, the socket unit of its view channel
#       (/run/varnwin32/view) with the group varnwin32 that may open it
#       (sysusers.d), its settings file /etc/default/varnwin32 (a conffile)
#       and its man page; no Qt: it depends only on what the service links
#       (libc, libstdc++, libsystemd)
#   varnwin32_<version>_<arch>.deb          the dialog (Qt 6), its desktop and
#       autostart entries with the radar icon, its man page; it depends on
#       the service of the same version and shows it
#   varnwin32-tools_<version>_<arch>.deb    the commissioning tools varn-beacon
#       and varn-probe with their man pages
# A Release build with Debian's
# hardening flags, stripped, packed by dpkg-deb; each package's shared-library
# dependencies come from dpkg-shlibdeps over its own programs. Installs what
# is missing first.
#
#   tools/package/build-deb.sh
#
# VARN_PKG_DIR: the output directory (default build-pkg); the build tree and
# the package roots are made inside it. VARN_DEB_MAINTAINER: the Maintainer
# field.
set -euo pipefail
cd "$(dirname "$0")/../.."
source_dir=$PWD
tools/setup/install-deps.sh

out=${VARN_PKG_DIR:-build-pkg}
mkdir -p "$out"
out=$(cd "$out" && pwd)
build=$out/build
stage=$out/stage
here=$source_dir/tools/package

version=$(sed -n 's/^project(VarnWin32 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "build-deb: no version in CMakeLists.txt" >&2; exit 1; }
arch=$(dpkg --print-architecture)
maintainer=${VARN_DEB_MAINTAINER:-VarnWin32 developers <varnwin32@stelmar.example>}
# Reproducible dates: the last commit's, where there is one.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
commit=$(git rev-parse --short HEAD 2>/dev/null || echo "an unknown commit")

# Debian's hardening flags (CMake reads CXXFLAGS and LDFLAGS at the first
# configure of a build tree).
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CXXFLAGS="$CPPFLAGS $CXXFLAGS"
rm -rf "$build" "$stage" "$out"/root-*
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DVARN_BUILD_TESTS=OFF -DVARN_BUILD_BENCH=OFF
cmake --build "$build" -j"${VARN_JOBS:-$(nproc)}" \
  --target varnwin32 varnwin32-service varn-beacon varn-probe varn-resgen
DESTDIR=$stage cmake --install "$build" --strip

# A package root with the programs named, their man pages and the doc
# folder (copyright, changelog).
start_root() {  # PACKAGE PROGRAM...
  local package=$1 program
  shift
  local root=$out/root-$package
  install -d "$root/usr/bin" "$root/usr/share/man/man1" "$root/usr/share/doc/$package"
  for program in "$@"; do
    install -m 0755 "$stage/usr/bin/$program" "$root/usr/bin/"
    gzip -9n <"$here/man/$program.1" >"$root/usr/share/man/man1/$program.1.gz"
  done
  install -m 0644 "$here/debian/copyright" "$root/usr/share/doc/$package/"
  {
    echo "$package ($version) unstable; urgency=medium"
    echo
    echo "  * Built from the VarnWin32 tree at $commit."
    echo
    echo " -- $maintainer  $(date -R -u -d "@$SOURCE_DATE_EPOCH")"
  } | gzip -9n >"$root/usr/share/doc/$package/changelog.gz"
}

# The shared libraries the package's programs link, as Depends entries.
shlib_depends() {  # ROOT
  local root=$1 dir=$out/shlibdeps depends
  # dpkg-shlibdeps wants a debian/control to read; the work directory gets a
  # minimal one.
  rm -rf "$dir"
  mkdir -p "$dir/debian"
  printf 'Source: varnwin32\n\nPackage: varnwin32\nArchitecture: any\n' >"$dir/debian/control"
  depends=$(cd "$dir" && dpkg-shlibdeps -O "$root"/usr/bin/* 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
  rm -rf "$dir"
  [ -n "$depends" ] || { echo "build-deb: dpkg-shlibdeps found no dependencies in $root" >&2; exit 1; }
  echo "$depends"
}

# DEBIAN/control (FIELDS: the package's own lines) and md5sums, then the .deb.
finish_package() {  # PACKAGE FIELDS DESCRIPTION
  local package=$1 fields=$2 description=$3 root=$out/root-$1
  install -d "$root/DEBIAN"
  {
    echo "Package: $package"
    echo "Version: $version"
    echo "Architecture: $arch"
    echo "Maintainer: $maintainer"
    echo "Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)"
    echo "$fields"
    echo "Section: net"
    echo "Priority: optional"
    echo "$description"
  } >"$root/DEBIAN/control"
  (cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z |
    xargs -0 md5sum >DEBIAN/md5sums)
  chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
  rm -f "$out/${package}_"*.deb
  dpkg-deb --root-owner-group -Zxz --build "$root" "$out/${package}_${version}_${arch}.deb"
  echo "built $out/${package}_${version}_${arch}.deb"
}

rm -f "$out"/*.deb

# The service: the program, its unit and the view socket's, the viewers'
# group, its settings file and the scripts that make the group and enable,
# start, stop and forget the units.
root=$out/root-varnwin32-service
start_root varnwin32-service varnwin32-service
install -d "$root/lib/systemd/system" "$root/usr/lib/sysusers.d" "$root/etc/default" "$root/DEBIAN"
install -m 0644 "$here/varnwin32.service" "$here/varnwin32-view.socket" "$root/lib/systemd/system/"
install -m 0644 "$here/varnwin32.sysusers" "$root/usr/lib/sysusers.d/varnwin32.conf"
install -m 0644 "$here/default/varnwin32" "$root/etc/default/varnwin32"
echo /etc/default/varnwin32 >"$root/DEBIAN/conffiles"
chmod 0644 "$root/DEBIAN/conffiles"
for script in postinst prerm postrm; do
  install -m 0755 "$here/debian/$script" "$root/DEBIAN/"
done
# Up to 1.0.0.4 the one package varnwin32 held the service's files; up to
# 1.0.0.5 the dialog took the UDP port itself: either goes before this one
# is configured (the dialog's preinst stops the service of 1.0.0.4).
finish_package varnwin32-service "Depends: $(shlib_depends "$root"), init-system-helpers (>= 1.52)
Breaks: varnwin32 (<< 1.0.0.6)
Replaces: varnwin32 (<< 1.0.0.5)" "Description: watchdog client for plant workstations (service)
 VarnWin32 reports a workstation's health to the plant's watchdog servers:
 it answers status requests, tracks the beacons of the plant network and
 their ping targets, and sends keep-alives, status reports and CPU alarms.
 .
 This package holds the windowless service varnwin32-service under a
 supervised systemd unit, watching the station from boot; its options are
 set in /etc/default/varnwin32. It needs no graphical libraries. Members of
 the group varnwin32 see its state through /run/varnwin32/view: in the
 dialog (package varnwin32) or with varn-probe view (varnwin32-tools)."

# The dialog with its menu entry, icon and autostart entry.
root=$out/root-varnwin32
start_root varnwin32 varnwin32
install -d "$root/usr/share/applications" "$root/etc/xdg/autostart"
install -m 0644 "$here/varnwin32.desktop" "$root/usr/share/applications/"
# At every logon the dialog opens as the view of the station's service.
install -m 0644 "$here/varnwin32-autostart.desktop" "$root/etc/xdg/autostart/"
# The radar icon, from the program icon's two sizes.
"$build/tools/resgen/varn-resgen" "$build/resources" >/dev/null
for entry in "0 16" "1 32"; do
  read -r index size <<<"$entry"
  install -d "$root/usr/share/icons/hicolor/${size}x${size}/apps"
  convert "$build/resources/icon108.ico[$index]" -strip \
    "png32:$root/usr/share/icons/hicolor/${size}x${size}/apps/varnwin32.png"
done
install -d "$root/DEBIAN"
install -m 0755 "$here/debian/varnwin32.preinst" "$root/DEBIAN/preinst"
echo /etc/xdg/autostart/varnwin32-autostart.desktop >"$root/DEBIAN/conffiles"
chmod 0644 "$root/DEBIAN/conffiles"
finish_package varnwin32 "Depends: $(shlib_depends "$root"), qt6-qpa-plugins, varnwin32-service (= $version)" "Description: watchdog client for plant workstations (dialog)
 VarnWin32 reports a workstation's health to the plant's watchdog servers:
 it answers status requests, tracks the beacons of the plant network and
 their ping targets, and sends keep-alives, status reports and CPU alarms.
 .
 This package holds the status dialog (Qt 6), for desktop stations where
 the operator watches the beacons, with its menu entry and an autostart
 entry. It brings the service (package varnwin32-service), which watches
 the station from boot; the dialog shows the service's state at logon."

# The commissioning tools, for any machine on the plant networks.
root=$out/root-varnwin32-tools
start_root varnwin32-tools varn-beacon varn-probe
finish_package varnwin32-tools "Depends: $(shlib_depends "$root")
Replaces: varnwin32 (<< 1.0.0.5)" "Description: commissioning tools for VarnWin32 workstations
 varn-beacon plays the beacons of the plant network (announcements,
 configurations, the ping-target command) and listens to their group;
 varn-probe asks a workstation for its status and plays a watchdog server
 that prints the keep-alives, reports and CPU alarms it receives. Both work
 on a laptop on the plant networks or on the workstation itself, beside
 either varnwin32 or varnwin32-service."
