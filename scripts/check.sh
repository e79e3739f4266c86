#!/bin/bash
# Builds and runs every test: missing Debian packages first, then configure, build, CTest,
# and a lint of the manual page; then the same suite again in a sanitizer build
# (AddressSanitizer with leak checking, UndefinedBehaviorSanitizer) in build-asan/.
#   scripts/check.sh [BUILD_DIR [extra cmake arguments...]]
# BUILD_DIR defaults to build/ (relative to the checkout root). SANITIZE=0 skips the
# sanitizer pass; given extra cmake arguments, only that one build is tested.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build_dir="${1:-build}"
shift || true
jobs="${JOBS:-2}"

extra=("$@")

bash scripts/deps.sh

run_suite() {
    local dir="$1"
    shift
    cmake -S . -B "$dir" "$@"
    cmake --build "$dir" -j"$jobs"
    ctest --test-dir "$dir" --output-on-failure --no-tests=error -j"$jobs"
}

run_suite "$build_dir" "${extra[@]}"
if [[ ${#extra[@]} -eq 0 && "${SANITIZE:-1}" != 0 ]]; then
    # Any sanitizer report fails the test that caused it.
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
    run_suite build-asan -DTAVREL_SANITIZE=ON -DTAVREL_BENCH=OFF
fi

# The manual page must render without a single warning.
warnings="$(groff -man -ww -z doc/tavrel.1 2>&1)"
if [[ -n "$warnings" ]]; then
    printf 'doc/tavrel.1: groff warnings:\n%s\n' "$warnings" >&2
    exit 1
fi
echo "doc/tavrel.1: renders without warnings"
