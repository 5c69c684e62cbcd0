#!/usr/bin/env bash
# Builds the Debian package varnwin32_<version>_amd64.deb into build-pkg/:
# the dialog, the windowless service under a supervised systemd unit, the
# commissioning tools, the desktop and autostart entries with the radar icon,
# the man pages. A Release build with Debian's hardening flags, stripped,
# packed by dpkg-deb; the shared-library dependencies come from
# dpkg-shlibdeps. Installs what is missing first.
#
#   tools/package/build-deb.sh
#
# VARN_PKG_DIR: the output directory (default build-pkg); the build tree and
# the package root are made inside it. VARN_DEB_MAINTAINER: the Maintainer
# field.
set -euo pipefail
cd "$(dirname "$0")/../.."
source_dir=$PWD
tools/setup/install-deps.sh

out=${VARN_PKG_DIR:-build-pkg}
mkdir -p "$out"
out=$(cd "$out" && pwd)
build=$out/build
root=$out/root
here=$source_dir/tools/package

version=$(sed -n 's/^project(VarnWin32 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "build-deb: no version in CMakeLists.txt" >&2; exit 1; }
arch=$(dpkg --print-architecture)
maintainer=${VARN_DEB_MAINTAINER:-VarnWin32 developers <varnwin32@stelmar.example>}
# Reproducible dates: the last commit's, where there is one.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}

# Debian's hardening flags (CMake reads CXXFLAGS and LDFLAGS at the first
# configure of a build tree).
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CXXFLAGS="$CPPFLAGS $CXXFLAGS"
rm -rf "$build" "$root"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DVARN_BUILD_TESTS=OFF -DVARN_BUILD_BENCH=OFF
cmake --build "$build" -j"${VARN_JOBS:-$(nproc)}" \
  --target varnwin32 varnwin32-service varn-beacon varn-probe varn-resgen
DESTDIR=$root cmake --install "$build" --strip

# The files around the programs.
doc=$root/usr/share/doc/varnwin32
install -d "$root/lib/systemd/system" "$root/usr/share/applications" "$root/usr/share/varnwin32" \
  "$root/usr/share/man/man1" "$doc"
install -m 0644 "$here/varnwin32.service" "$root/lib/systemd/system/"
install -m 0644 "$here/varnwin32.desktop" "$root/usr/share/applications/"
install -m 0644 "$here/varnwin32-autostart.desktop" "$root/usr/share/varnwin32/"
for page in "$here"/man/*.1; do
  gzip -9n <"$page" >"$root/usr/share/man/man1/$(basename "$page").gz"
done
install -m 0644 "$here/debian/copyright" "$doc/"
{
  echo "varnwin32 ($version) unstable; urgency=medium"
  echo
  echo "  * Built from the VarnWin32 tree at $(git rev-parse --short HEAD 2>/dev/null || echo "an unknown commit")."
  echo
  echo " -- $maintainer  $(date -R -u -d "@$SOURCE_DATE_EPOCH")"
} | gzip -9n >"$doc/changelog.gz"

# The radar icon, from the program icon's two sizes.
"$build/tools/resgen/varn-resgen" "$build/resources" >/dev/null
for entry in "0 16" "1 32"; do
  read -r index size <<<"$entry"
  install -d "$root/usr/share/icons/hicolor/${size}x${size}/apps"
  convert "$build/resources/icon108.ico[$index]" -strip \
    "png32:$root/usr/share/icons/hicolor/${size}x${size}/apps/varnwin32.png"
done

# Control files.
install -d "$root/DEBIAN"
for script in postinst prerm postrm; do
  install -m 0755 "$here/debian/$script" "$root/DEBIAN/"
done
binaries=("$root"/usr/bin/*)
# dpkg-shlibdeps wants a debian/control to read; the work directory gets a
# minimal one.
shlib_dir=$out/shlibdeps
rm -rf "$shlib_dir"
mkdir -p "$shlib_dir/debian"
printf 'Source: varnwin32\n\nPackage: varnwin32\nArchitecture: any\n' >"$shlib_dir/debian/control"
shlib_depends=$(cd "$shlib_dir" && dpkg-shlibdeps -O "${binaries[@]}" 2>/dev/null |
  sed -n 's/^shlibs:Depends=//p')
rm -rf "$shlib_dir"
[ -n "$shlib_depends" ] || { echo "build-deb: dpkg-shlibdeps found no dependencies" >&2; exit 1; }
installed_size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
cat >"$root/DEBIAN/control" <<EOF
Package: varnwin32
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $installed_size
Depends: $shlib_depends, qt6-qpa-plugins, init-system-helpers (>= 1.52)
Section: net
Priority: optional
Description: watchdog client for plant workstations
 VarnWin32 reports a workstation's health to the plant's watchdog servers:
 it answers status requests, tracks the beacons of the plant network and
 their ping targets, and sends keep-alives, status reports and CPU alarms.
 .
 This package holds the dialog (varnwin32), the windowless service
 (varnwin32-service) with a supervised systemd unit, and the commissioning
 tools varn-beacon and varn-probe.
EOF
(cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z |
  xargs -0 md5sum >DEBIAN/md5sums)
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

package=$out/varnwin32_${version}_${arch}.deb
rm -f "$out"/varnwin32_*.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$package"
echo "built $package"
