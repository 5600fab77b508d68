#!/usr/bin/env bash
# Builds the Debian packages fennimar-agent and fennimar-refbackend into build/packages/ (or the
# absolute $PACKAGES_DIR).
# The build runs on a copy of the source tree (dpkg-buildpackage writes its results beside the
# tree it builds), with ccache when it is installed. Needs the build dependencies of
# debian/control (scripts/install-deps.sh installs them).
#   scripts/package.sh             builds
#   scripts/package.sh --cxxflags  prints the packages' compiler flags (for a build that shares them)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = "--cxxflags" ]; then
  # What debhelper's cmake build system hands CMake: CXXFLAGS, then CPPFLAGS.
  DEB_BUILD_MAINT_OPTIONS=$(sed -n 's/^export DEB_BUILD_MAINT_OPTIONS = //p' debian/rules)
  export DEB_BUILD_MAINT_OPTIONS
  echo "$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
  exit 0
fi

out=${PACKAGES_DIR:-$PWD/build/packages}
version=$(dpkg-parsechangelog -S Version)
upstream=${version%-*}
src=$out/src/fennimar-$upstream
rm -rf "$out/src"
mkdir -p "$src"
# Only what git knows (tracked or new, not ignored): no build trees, no stray results. Where git
# cannot see the repository (the Debian 13 root), $PACKAGE_FILES lists them, NUL-separated.
if [ -n "${PACKAGE_FILES:-}" ]; then cat "$PACKAGE_FILES"; else git ls-files -z --cached --others --exclude-standard; fi |
  while IFS= read -r -d '' f; do
    [ -e "$f" ] && printf '%s\0' "$f"
  done | tar --null -T - -cf - | tar -xf - -C "$src"

# Paths below the repository are hashed relative to the build directory, so the copy's build finds
# the objects of the release build (same flags, same layout) and of earlier package builds.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=1
(cd "$src" && dpkg-buildpackage -us -uc -b -j"$(nproc)" >"$out/build.log" 2>&1) || {
  tail -n 40 "$out/build.log" >&2
  echo "package.sh: dpkg-buildpackage failed (whole log: $out/build.log)" >&2
  exit 1
}
rm -f "$out"/*.deb "$out"/*.changes "$out"/*.buildinfo
mv "$out"/src/*.deb "$out"/src/*.changes "$out"/src/*.buildinfo "$out/"
ls -1 "$out"/*.deb
