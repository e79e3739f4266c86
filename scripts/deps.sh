#!/bin/bash
# Installs the Debian packages that building, testing, packaging and the demo need, when any is
# missing (`scripts/deps.sh package`: only what `make deb` needs).
# Fast when everything is present (one dpkg-query); needs root (or sudo) only to install.
set -euo pipefail

# Package names; "a|b" means either one will do (the first is installed when neither is).
# `package` wants the build and the Debian package tools only.
build=(
    build-essential g++ make cmake
    libx11-dev libx11-xcb-dev libxcb1-dev libxcb-shape0-dev libxext-dev libxinerama-dev libxrandr-dev
    libxft-dev libfontconfig-dev
)
packaging=(dpkg-dev debhelper lintian)
testing=(
    libxtst-dev libgtest-dev libbenchmark-dev
    xvfb xserver-xephyr xfonts-base fonts-dejavu-core x11-apps x11-utils x11-xkb-utils x11-xserver-utils xterm wmctrl xdotool
    "netpbm|imagemagick"
    groff-base man-db
)
case "${1:-all}" in
    all) wanted=("${build[@]}" "${packaging[@]}" "${testing[@]}") ;;
    package) wanted=("${build[@]}" "${packaging[@]}") ;;
    *)
        echo "usage: scripts/deps.sh [package]" >&2
        exit 2
        ;;
esac

installed() {
    [[ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null)" == ii* ]]
}

if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "deps.sh: dpkg-query not found; install the equivalents of: ${wanted[*]}" >&2
    exit 1
fi

missing=()
for entry in "${wanted[@]}"; do
    found=0
    IFS='|' read -r -a alternatives <<<"$entry"
    for pkg in "${alternatives[@]}"; do
        if installed "$pkg"; then
            found=1
            break
        fi
    done
    ((found)) || missing+=("${alternatives[0]}")
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

if [[ $(id -u) -eq 0 ]]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    as_root=(sudo -n)
else
    echo "deps.sh: missing packages (${missing[*]}) and not root; run: apt-get install -y ${missing[*]}" >&2
    exit 1
fi

echo "deps.sh: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt_install() {
    "${as_root[@]}" apt-get install -y "${missing[@]}"
}
# The package lists may be missing or stale on a fresh machine: refresh them only then.
if ! apt_install; then
    "${as_root[@]}" apt-get update
    apt_install
fi
