#!/bin/bash
# Shows the manager at work.
#  - With a usable $DISPLAY: runs tavrel nested in a 1280x800 Xephyr window, with an xterm (its
#    title in Cyrillic and Greek) and an xclock; close the Xephyr window (or press Ctrl+C here)
#    to end.
#  - Otherwise (headless): runs tavrel in a private Xvfb with the same xterm, an xclock and an
#    xeyes, waits until all three are framed, moves the pointer into the xterm so it becomes active,
#    writes a PNG screenshot to build/demo.png and cleans everything up.
# Environment: DEMO_HEADLESS=1 forces the headless run; DEMO_SCREENSHOT=PATH changes the PNG
# path; BUILD_DIR (default build) is the build directory.
set -euo pipefail

root_dir="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root_dir"
build_dir="${BUILD_DIR:-build}"
tavrel="$build_dir/src/tavrel"
screenshot="${DEMO_SCREENSHOT:-$build_dir/demo.png}"
deadline_s=30 # longest wait for any one thing to happen

bash scripts/deps.sh
cmake -S . -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j2 --target tavrel

work="$(mktemp -d "${TMPDIR:-/tmp}/tavrel-demo.XXXXXX")"
server_pid=""
wm_pid=""
client_pids=()

# True while the process runs (a process that ended but is not reaped yet does not count).
alive() {
    local stat
    stat="$(cat "/proc/$1/stat" 2>/dev/null)" || return 1
    stat="${stat##*) }"
    [[ "${stat%% *}" != Z ]]
}

# Ends one process we started: SIGTERM, then SIGKILL if it is still there after a deadline.
stop_pid() {
    local pid="$1" i
    if alive "$pid"; then
        kill -TERM "$pid" 2>/dev/null || true
        for ((i = 0; i < 100; i++)); do
            alive "$pid" || break
            sleep 0.05
        done
        kill -KILL "$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || true
}

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    local pid
    [[ -n "$wm_pid" ]] && stop_pid "$wm_pid"
    for pid in "${client_pids[@]}"; do stop_pid "$pid"; done
    [[ -n "$server_pid" ]] && stop_pid "$server_pid"
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

die() {
    echo "demo: $*" >&2
    if [[ -n "$server_pid" ]] && alive "$server_pid"; then
        echo "--- window tree" >&2
        xwininfo -root -tree 2>&1 | head -n 40 >&2 || true
    fi
    local log
    for log in "$work"/*.log; do
        [[ -s "$log" ]] || continue
        echo "--- $(basename "$log")" >&2
        tail -n 20 "$log" >&2
    done
    exit 1
}

now_ms() { date +%s%3N; }

# wait_for DESCRIPTION COMMAND...: polls COMMAND until it succeeds, or fails after the deadline.
wait_for() {
    local what="$1" end
    shift
    end=$(($(now_ms) + deadline_s * 1000))
    until "$@"; do
        (($(now_ms) < end)) || die "timed out waiting for $what"
        if [[ -n "$wm_pid" ]] && ! alive "$wm_pid"; then
            die "tavrel exited while waiting for $what"
        fi
        sleep 0.05
    done
}

# start_server NAME COMMAND...: starts an X server that reports its display number on a file
# descriptor (-displayfd) and points $DISPLAY at it once it accepts connections.
start_server() {
    local name="$1"
    shift
    local fdfile="$work/$name.displayfd"
    : >"$fdfile"
    "$@" -displayfd 9 9>"$fdfile" >"$work/$name.log" 2>&1 &
    server_pid=$!
    wait_for "$name to start" grep -q '^[0-9][0-9]*$' "$fdfile"
    DISPLAY=":$(head -n 1 "$fdfile")"
    export DISPLAY
}

wm_ready() { xwininfo -root -events 2>/dev/null | grep -q SubstructureRedirect; }

start_wm() {
    "$tavrel" >"$work/tavrel.log" 2>&1 &
    wm_pid=$!
    wait_for "tavrel to take over the root window" wm_ready
}

start_client() {
    local name="$1"
    shift
    "$@" >"$work/$name.log" 2>&1 &
    client_pids+=($!)
}

client_window() { xdotool search --classname "^$1\$" 2>/dev/null | head -n 1 || true; }

# A client is framed when its window has a parent other than the root and WM_STATE NormalState.
framed() {
    local w parent
    w="$(client_window "$1")"
    [[ -n "$w" ]] || return 1
    parent="$(xwininfo -children -id "$w" 2>/dev/null |
        awk '/Parent window id:/ {print $4}')"
    [[ -n "$parent" && "$parent" != "$root_window" ]] || return 1
    xprop -id "$w" WM_STATE 2>/dev/null | grep -q 'window state: Normal'
}

focused_on() {
    local focus
    focus="$(xdotool getwindowfocus -f 2>/dev/null)" || return 1
    [[ $((focus)) -eq $(($1)) ]]
}

# The xterm's title, in UTF-8 (its locale is C.UTF-8 so that it hands it over as such).
utf8_title="Привет, мир — ✓ Καλημέρα"

display_usable() {
    [[ -n "${DISPLAY:-}" && "${DEMO_HEADLESS:-0}" != 1 ]] && xdpyinfo >/dev/null 2>&1
}

if display_usable; then
    start_server xephyr Xephyr -screen 1280x800 -title "tavrel demo" -no-host-grab -nolisten tcp
    start_wm
    start_client xterm env LC_ALL=C.UTF-8 xterm -geometry 80x24+40+60 -T "$utf8_title"
    start_client xclock xclock -geometry 220x220+760+80
    echo "tavrel is running on $DISPLAY inside the Xephyr window (Control+Alt+Return opens an xterm)."
    echo "Close the Xephyr window or press Ctrl+C here to end the demo."
    wait "$server_pid" || true
    server_pid=""
    exit 0
fi

start_server xvfb Xvfb -screen 0 1280x800x24 -nolisten tcp -noreset
root_window="$(xwininfo -root | awk '/Window id:/ {print $4}')"
start_wm
start_client xterm env LC_ALL=C.UTF-8 xterm -geometry 80x24+40+60 -T "$utf8_title"
start_client xclock xclock -geometry 220x220+760+80
start_client xeyes xeyes -geometry 220x160+760+400
for name in xterm xclock xeyes; do
    wait_for "$name to be framed" framed "$name"
done

# Focus follows the pointer: the window the pointer enters becomes active and gets the focus.
term="$(client_window xterm)"
xdotool mousemove --window "$term" 200 150
wait_for "the xterm to get the focus" focused_on "$term"
sleep 0.5 # a moment for the clients to finish drawing their contents

mkdir -p "$(dirname "$screenshot")"
if command -v xwdtopnm >/dev/null && command -v pnmtopng >/dev/null; then
    xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"$screenshot"
else
    xwd -root -silent | convert xwd:- png:"$screenshot"
fi
[[ -s "$screenshot" ]] || die "no screenshot written"

# The manager ends on SIGTERM with status 0 and gives every window back to the root.
kill -TERM "$wm_pid"
end=$(($(now_ms) + deadline_s * 1000))
while alive "$wm_pid"; do
    (($(now_ms) < end)) || die "tavrel did not exit after SIGTERM"
    sleep 0.05
done
wm_status=0
wait "$wm_pid" || wm_status=$?
wm_pid=""
((wm_status == 0)) || die "tavrel exited with status $wm_status after SIGTERM"
echo "screenshot written to $screenshot"
