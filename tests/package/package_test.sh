#!/bin/bash
# The Debian package: scripts/deb.sh builds it from a copy of the tree and fails on any lintian
# error or warning; the .deb is unpacked into a temporary root, where the binary, the session
# entry, the manual page and the example resources are checked, and the maintainer scripts
# register and remove the x-window-manager alternative with that root as their filesystem.
# Everything is written under one temporary folder, removed at the end.
#   package_test.sh SOURCE_DIR VERSION
# Exit status 77 (skipped): the machine cannot build Debian packages.
set -euo pipefail

src="$1"
version="$2"

missing=()
for tool in dpkg-buildpackage dpkg-checkbuilddeps dh lintian man update-alternatives; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if ((${#missing[@]})); then
    echo "SKIP: cannot build the Debian package here: missing ${missing[*]} (scripts/deps.sh installs them)"
    exit 77
fi
if ! (cd "$src" && dpkg-checkbuilddeps); then
    echo "SKIP: cannot build the Debian package here: build dependencies missing (scripts/deps.sh package)"
    exit 77
fi

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

tmp="$(mktemp -d "${TMPDIR:-/tmp}/tavrel-package-test.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT

debversion="$(dpkg-parsechangelog -l "$src/debian/changelog" -S Version)"
[[ "${debversion%-*}" == "$version" ]] ||
    fail "debian/changelog is at $debversion, the project at $version"

TMPDIR="$tmp" JOBS="${JOBS:-2}" bash "$src/scripts/deb.sh" "$tmp/out"
deb="$tmp/out/tavrel_${debversion}_$(dpkg --print-architecture).deb"
[[ -f "$deb" ]] || fail "no $deb"

root="$tmp/root"
dpkg -x "$deb" "$root"
dpkg -e "$deb" "$tmp/control"

out="$("$root/usr/bin/tavrel" -V)" || fail "usr/bin/tavrel -V: exit status $?"
[[ "$out" == "tavrel version $version" ]] || fail "usr/bin/tavrel -V printed: $out"

grep -qx 'Exec=tavrel' "$root/usr/share/xsessions/tavrel.desktop" ||
    fail "no session entry usr/share/xsessions/tavrel.desktop running tavrel"
page="$(man -l "$root/usr/share/man/man1/tavrel.1.gz")" || fail "man -l usr/share/man/man1/tavrel.1.gz failed"
grep -q '^TAVREL(1)' <<<"$page" || fail "man -l usr/share/man/man1/tavrel.1.gz: no TAVREL(1) page"
[[ -s "$root/usr/share/doc/tavrel/examples/tavrel.Xresources" ]] ||
    fail "no usr/share/doc/tavrel/examples/tavrel.Xresources"

# The maintainer scripts, with DPKG_ROOT pointing update-alternatives at the temporary root.
mkdir -p "$root/etc/alternatives" "$root/var/lib/dpkg/alternatives"
DPKG_ROOT="$root" sh -e "$tmp/control/postinst" configure
query="$(update-alternatives --root "$root" --query x-window-manager)" ||
    fail "postinst configure registered no x-window-manager alternative"
grep -qx 'Value: /usr/bin/tavrel' <<<"$query" || fail "x-window-manager is not tavrel: $query"
grep -qx 'Priority: 20' <<<"$query" || fail "x-window-manager alternative priority: $query"
grep -qx ' x-window-manager.1.gz /usr/share/man/man1/tavrel.1.gz' <<<"$query" ||
    fail "x-window-manager.1.gz is not the manual page: $query"
[[ "$(readlink "$root/usr/bin/x-window-manager")" == /etc/alternatives/x-window-manager &&
    "$(readlink "$root/etc/alternatives/x-window-manager")" == /usr/bin/tavrel ]] ||
    fail "usr/bin/x-window-manager does not lead to /usr/bin/tavrel"
DPKG_ROOT="$root" sh -e "$tmp/control/prerm" remove
! update-alternatives --root "$root" --query x-window-manager >/dev/null 2>&1 ||
    fail "prerm remove left the x-window-manager alternative"
[[ ! -L "$root/usr/bin/x-window-manager" ]] || fail "prerm remove left usr/bin/x-window-manager"

echo "package: $(basename "$deb") builds, is lintian clean, installs and registers x-window-manager"
