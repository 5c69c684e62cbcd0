#!/usr/bin/env bash
# Builds the Debian packages with dpkg-buildpackage from debian/: the binary
# packages varnwin32-service, varnwin32 and varnwin32-tools with their
# -dbgsym packages, and the source package (.dsc and .tar.xz), into
# build-pkg/. The tree (the files git knows, changes included) is copied to
# build-pkg/varnwin32-<version>/ and built there, so nothing is written
# outside the repository and the working tree stays clean. Installs what is
# missing first.
#
#   tools/package/build-deb.sh
#
# VARN_PKG_DIR: the output directory (default build-pkg). VARN_JOBS: the
# build's parallel jobs (default: the number of processors).
set -euo pipefail
cd "$(dirname "$0")/../.."
tools/setup/install-deps.sh

version=$(sed -n 's/^project(VarnWin32 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "build-deb: no version in CMakeLists.txt" >&2; exit 1; }
changelog=$(dpkg-parsechangelog -S Version)
[ "$changelog" = "$version" ] ||
  { echo "build-deb: debian/changelog is at $changelog, CMakeLists.txt at $version: add an entry (dch -v $version)" >&2; exit 1; }

out=${VARN_PKG_DIR:-build-pkg}
mkdir -p "$out"
out=$(cd "$out" && pwd)
src=$out/varnwin32-$version
rm -rf "$out"/varnwin32-* "$out"/varnwin32_* "$out"/*.deb "$out"/*.ddeb
mkdir "$src"
# The tracked and the new, not ignored files as they are now.
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' path; do [ -e "$path" ] || [ -L "$path" ] && printf '%s\0' "$path"; done |
  tar --null -T - -cf - | tar -xf - -C "$src"

# ccache where there is one (the scratch tree keeps its path between builds).
[ -d /usr/lib/ccache ] && export PATH=/usr/lib/ccache:$PATH
export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:+$DEB_BUILD_OPTIONS }parallel=${VARN_JOBS:-$(nproc)}"
(cd "$src" && dpkg-buildpackage -us -uc)
ls -1 "$out"/*.deb "$out"/*.dsc "$out"/*.tar.* "$out"/*.changes
