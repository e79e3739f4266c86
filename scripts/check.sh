#!/bin/bash
# Builds and runs every test: missing Debian packages first, then configure, build, CTest,
# and a lint of the manual page.
#   scripts/check.sh [BUILD_DIR [extra cmake arguments...]]
# BUILD_DIR defaults to build/ (relative to the checkout root).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build_dir="${1:-build}"
shift || true
jobs="${JOBS:-2}"

bash scripts/deps.sh
cmake -S . -B "$build_dir" "$@"
cmake --build "$build_dir" -j"$jobs"
ctest --test-dir "$build_dir" --output-on-failure --no-tests=error -j"$jobs"

# The manual page must render without a single warning.
warnings="$(groff -man -ww -z doc/tavrel.1 2>&1)"
if [[ -n "$warnings" ]]; then
    printf 'doc/tavrel.1: groff warnings:\n%s\n' "$warnings" >&2
    exit 1
fi
echo "doc/tavrel.1: renders without warnings"
