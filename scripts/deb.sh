#!/bin/bash
# Builds the Debian package (dpkg-buildpackage -us -uc -b) and checks it with lintian, failing
# on any error or warning. The build runs in a copy of the tree in a temporary folder, since
# dpkg-buildpackage writes its results next to the tree it builds; the .deb, the debug symbols
# package, .buildinfo and .changes are then copied into OUT_DIR and nothing else is written.
#   scripts/deb.sh [OUT_DIR]
# OUT_DIR defaults to build/deb/ (relative to the checkout root). JOBS (default 2) sets the
# build's parallelism. The packages it needs: `scripts/deps.sh package` (`make deb` runs both).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-build/deb}"
[[ "$out" == /* ]] || out="$root/$out"
jobs="${JOBS:-2}"

work="$(mktemp -d "${TMPDIR:-/tmp}/tavrel-deb.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# The tree without its history, build directories and leftovers of a build made in place.
mkdir "$work/tavrel"
tar -C "$root" --exclude=./.git --exclude='./build*' --exclude='./obj-*' \
    --exclude=./debian/tavrel --exclude=./debian/tavrel-dbgsym --exclude=./debian/tmp \
    --exclude=./debian/.debhelper --exclude=./debian/files --exclude='./debian/*.substvars' \
    --exclude=./debian/debhelper-build-stamp -cf - . | tar -C "$work/tavrel" -xf -

(
    cd "$work/tavrel"
    DEB_BUILD_OPTIONS="parallel=$jobs${DEB_BUILD_OPTIONS:+ $DEB_BUILD_OPTIONS}" \
        dpkg-buildpackage -us -uc -b
)

version="$(dpkg-parsechangelog -l "$work/tavrel/debian/changelog" -S Version)"
deb="tavrel_${version}_$(dpkg --print-architecture).deb"
echo "deb.sh: lintian --fail-on error,warning $deb"
lintian --fail-on error,warning "$work/$deb"

mkdir -p "$out"
cp "$work"/*.deb "$work"/*.buildinfo "$work"/*.changes "$out"/
echo "deb.sh: $out/$deb"
