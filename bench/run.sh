#!/bin/sh
# Builds tavrel and the benchmarks in Release, installs the peer managers from Debian
# when missing, measures tavrel and the peers side by side in one run (three rounds,
# round-robin, medians), writes bench/results.md and puts the table into the README.
#
#   bench/run.sh                      tavrel beside openbox, twm and twm with OpaqueMove
#   PEERS="openbox fluxbox" bench/run.sh
#   WM_BENCH_ARGS="--counts 100,1000 --rate 1000" bench/run.sh
#   ROUNDS=1 bench/run.sh             one round
#   MICRO=0 bench/run.sh              skip the microbenchmarks
#
# Environment: BUILD_DIR (default build-release), OUT (default bench/results.md), README
# (default README.md beside bench/; README=- leaves it alone).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
build=${BUILD_DIR:-$top/build-release}
out=${OUT:-$here/results.md}
peers=${PEERS:-openbox twm}
micro=${MICRO:-1}
rounds=${ROUNDS:-3}
readme=${README:-$top/README.md}

echo "== building (Release) in $build" >&2
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVREL_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target tavrel wm_bench >&2
if [ "$micro" != 0 ]; then
    cmake --build "$build" -j2 --target micro_bench >&2 || micro=0
fi

# The peers are Debian packages whose command is the package name.
apt_updated=no
for p in $peers; do
    command -v "$p" >/dev/null 2>&1 && continue
    echo "== installing $p" >&2
    if [ "$(id -u)" != 0 ]; then
        echo "run.sh: $p is not installed and installing it needs root" >&2
        exit 1
    fi
    if ! DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$p" >&2; then
        [ "$apt_updated" = yes ] && exit 1
        apt-get update >&2
        apt_updated=yes
        DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$p" >&2
    fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM

# twm runs twice: with its own outline move, and with its system file plus OpaqueMove (an
# outline move grabs the server, so XTest cannot feed that drag: the watchdog ends it).
set -- "$build/bench/wm_bench" --rounds "$rounds" ${WM_BENCH_ARGS:-} -- tavrel: "$build/src/tavrel"
for p in $peers; do
    set -- "$@" -- "$p"
    if [ "$p" = twm ]; then
        { cat /etc/X11/twm/system.twmrc 2>/dev/null; echo OpaqueMove; } >"$tmp/opaque.twmrc"
        set -- "$@" -- twm-opaque: twm -f "$tmp/opaque.twmrc"
    fi
done
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
echo "== $*" >&2
# A peer that fails a step is reported as such; only tavrel's failure fails the run.
"$@" >"$tmp/wm" || true
status=0
if grep -q '^tavrel\.error=' "$tmp/wm" || ! grep -q '^| measure | tavrel |' "$tmp/wm"; then
    status=1
fi
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
if [ "$micro" != 0 ]; then
    echo "== micro_bench" >&2
    "$build/bench/micro_bench" >"$tmp/micro" 2>&1 || true
fi

versions=""
for p in $peers; do
    v=$(dpkg-query -W -f='${Version}' "$p" 2>/dev/null || echo "?")
    versions="$versions $p $v;"
done
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)

{
    echo "# Benchmark results"
    echo
    echo "Made by \`bench/run.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC'): $(nproc) cores ($cpu)," \
         "Xvfb 1280x1024x24, tavrel $(git -C "$top" describe --always --dirty 2>/dev/null || echo '?')" \
         "(Release), peers:${versions%;}."
    echo "Load average (1, 5, 15 min) before the run: $load_before; after: $load_after."
    echo "Figures from a loaded machine are noisy: compare the columns of one run."
    echo
    echo "Reproduce: \`make bench\` (runs \`wm_bench --rounds $rounds\` for tavrel and $peers, twm also with OpaqueMove, each manager on its own Xvfb; medians of the rounds)."
    echo
    echo "## Managers side by side (wm_bench)"
    echo
    cat "$tmp/wm"
    echo
    cat <<'EOF'
How each figure is measured (every wait is for an event or state, under a deadline):

- a. N windows (200x150, WM_NAME, WM_NORMAL_HINTS with a position) are created unmapped, then
  mapped in one burst. Done when every window's parent is no longer the root (ReparentNotify)
  and WM_STATE has been written and reads NormalState, and a barrier sent after the burst has
  come back. Wall time from the first map request; the manager's CPU time (user + system, from
  the kernel's per-process clock, the same sum as utime + stime in /proc/PID/stat) over the
  same span.
- b. Unmap burst: done when every window's parent is the root again. Destroy burst (after the
  windows were mapped again): done when every frame has been unmapped or destroyed. Both end
  with the barrier.
- Barrier: a move request for a top-level window that is never mapped reaches the manager as a
  ConfigureRequest; its ConfigureNotify comes back once the manager has handled everything
  sent before it.
- c. A managed window moves itself (XMoveWindow between two positions) and waits for the
  ConfigureNotify that reports the new position; 2000 requests after 20 warm-up ones, with 1
  window managed and again with the largest N. The floor is XSync on the same connection.
- d. The newest of the N windows is given the focus (the pointer enters it; a click if the
  manager wants one), then dragged with Alt+Button1 (XTest): 2000 motions of one pixel in x and
  y, paced at the given rate, and once more all at once. CPU is the manager's over the motions;
  "caught up" is the time from the last motion to the return of a barrier sent right after the
  button release (so it includes handling the release and one request).
- e. Control+Alt+l (and +h, alternating) on that active window: time from the key press to the
  first ConfigureNotify the window receives. n/a: the manager has no such binding.
- X server CPU: the Xvfb process's user + system time over the same span as the manager's,
  per window, request or motion.
- Frame moves: the ConfigureNotify events of the dragged window's frame that report a new
  position; a manager that moves an outline instead moves nothing until the release.
- f. VmRSS of the manager from /proc/PID/status: idle after one window was managed and
  released, and the growth over the map burst divided by N.
EOF
    if [ "$micro" != 0 ] && [ -s "$tmp/micro" ]; then
        echo
        echo "## Per-event pure work (micro_bench, Google Benchmark)"
        echo
        echo "Window lookup through the manager's hash index of window, frame and tab ids"
        echo "against a walk of the client list; snapping one motion against N - 1 neighbours;"
        echo "size-hint constraints (items_per_second counts constrained sizes)."
        echo
        echo '```'
        grep -v '^\*\*\*WARNING' "$tmp/micro"
        echo '```'
    fi
} >"$out"

cat "$tmp/wm"
echo "== wrote $out" >&2

# The README's table: the rows of the report between its markers.
if [ "$readme" != - ] && [ -f "$readme" ] && grep -q '^<!-- bench:begin -->$' "$readme"; then
    {
        sed -n '1,/^<!-- bench:begin -->$/p' "$readme"
        echo
        echo "$(date -u '+%Y-%m-%d'), $(nproc) cores, load average $load_before before and $load_after after; medians of $rounds rounds:"
        echo
        sed -n '/^| measure |/,/^$/p' "$tmp/wm" | sed '/^$/d'
        echo
        sed -n '/^<!-- bench:end -->$/,$p' "$readme"
    } >"$tmp/readme"
    cat "$tmp/readme" >"$readme"
    echo "== updated the table in $readme" >&2
fi
exit "$status"
