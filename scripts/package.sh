#!/usr/bin/env bash
# Builds the Debian package dist/kavlo_<version>_<arch>.deb from the checked
# in tree (with the index's changes; untracked files are left out), in a copy
# of its own, and checks it with lintian: any error fails the script.
#
#   scripts/package.sh
#
# Dependencies are computed from the binaries (dh_shlibdeps); the package
# holds the program, the example video, the desktop entry, the icons, the
# AppStream data and the manual page. The copy is built in
# ${KAVLO_PACKAGE_DIR:-/tmp/kavlo-package}, kept between runs so that ccache
# finds its objects again.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

scripts/setup.sh --packages-only
tools=(debhelper dpkg-dev fakeroot lintian librsvg2-bin appstream desktop-file-utils)
. scripts/lib/packages.sh
ensure_packages "${tools[@]}"

version="$(sed -n 's/^project(Kavlo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
changelog_version="$(dpkg-parsechangelog -l debian/changelog -S Version)"
if [ "$version" != "$changelog_version" ]; then
  echo "package.sh: CMakeLists.txt says $version, debian/changelog $changelog_version" >&2
  exit 1
fi
arch="$(dpkg-architecture -qDEB_HOST_ARCH)"

work="${KAVLO_PACKAGE_DIR:-/tmp/kavlo-package}"
tree="$work/kavlo-$version"
rm -rf "$tree" "$work"/kavlo_*
mkdir -p "$tree"
# The committed tree plus what is staged; never a build directory.
snapshot="$(git stash create)"
git archive "${snapshot:-HEAD}" | tar -x -C "$tree"

export DEB_BUILD_OPTIONS="noautodbgsym parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}"
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$work" CCACHE_NOHASHDIR=1
  export KAVLO_CMAKE_ARGS="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
fi
(cd "$tree" && dpkg-buildpackage -b -us -uc)

deb="kavlo_${version}_${arch}.deb"
mkdir -p dist
cp "$work/$deb" "dist/$deb"
echo "package.sh: built dist/$deb ($(du -k "dist/$deb" | cut -f1) KiB)"
dpkg-deb --field "dist/$deb" Depends Recommends Installed-Size
lintian --fail-on error --display-info "$root/dist/$deb"
echo "package.sh: lintian reports no errors"
