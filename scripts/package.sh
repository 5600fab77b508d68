#!/usr/bin/env bash
# Builds the Debian packages fennimar-agent and fennimar-refbackend into build/packages/.
# The build runs on a copy of the source tree (dpkg-buildpackage writes its results beside the
# tree it builds), with ccache when it is installed. Needs the build dependencies of
# debian/control (scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."

out=$PWD/build/packages
version=$(dpkg-parsechangelog -S Version)
upstream=${version%-*}
src=$out/src/fennimar-$upstream
rm -rf "$out/src"
mkdir -p "$src"
# Only what git knows (tracked or new, not ignored): no build trees, no stray results.
git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' f; do
  [ -e "$f" ] && printf '%s\0' "$f"
done | tar --null -T - -cf - | tar -xf - -C "$src"

# The copy always lands at the same path, so ccache finds the objects of the previous build.
export CCACHE_BASEDIR=$out/src CCACHE_NOHASHDIR=1
(cd "$src" && dpkg-buildpackage -us -uc -b -j"$(nproc)" >"$out/build.log" 2>&1) || {
  tail -n 40 "$out/build.log" >&2
  echo "package.sh: dpkg-buildpackage failed (whole log: $out/build.log)" >&2
  exit 1
}
rm -f "$out"/*.deb "$out"/*.changes "$out"/*.buildinfo
mv "$out"/src/*.deb "$out"/src/*.changes "$out"/src/*.buildinfo "$out/"
ls -1 "$out"/*.deb
