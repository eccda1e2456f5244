#!/usr/bin/env bash
# Build voxscope and show a model.
#
#   tools/run.sh [model.vxl]        (default: examples/terrain.vxl)
#
# With a reachable X display the viewer simply opens on it. Without one, the
# model is drawn on a virtual X server instead: once the picture is up, a
# screenshot is saved to ./voxscope-screenshot.png (or $VOXSCOPE_SCREENSHOT),
# its absolute path is printed on stdout, and the viewer is closed again.
#
# Build output and the viewer's own output go to stderr, so that stdout carries
# only the "Screenshot saved: PATH" line. VOXSCOPE_BUILD_DIR picks the build
# directory (default: build).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"

if [[ $# -gt 1 ]]; then
    echo "usage: $0 [model.vxl]" >&2
    exit 2
fi

# Paths given by the caller are relative to the caller's directory.
absolute() {
    if [[ "$1" == /* ]]; then printf '%s\n' "$1"; else printf '%s\n' "$PWD/$1"; fi
}
if [[ $# -eq 1 ]]; then
    model="$(absolute "$1")"
else
    model="$root/examples/terrain.vxl"
fi
screenshot="$(absolute "${VOXSCOPE_SCREENSHOT:-voxscope-screenshot.png}")"
build_dir="${VOXSCOPE_BUILD_DIR:-build}"
[[ "$build_dir" == /* ]] || build_dir="$root/$build_dir"
viewer="$build_dir/voxscope"

"$here/build.sh" build >&2

if [[ -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1; then
    exec "$viewer" "$model"
fi

echo "No display found: showing the model on a virtual display instead." >&2

xvfb_pid=""
viewer_pid=""
work="$(mktemp -d)"

stop_process() { # pid: TERM, then KILL if it has not gone after a short deadline
    local pid="$1" deadline
    kill -0 "$pid" 2>/dev/null || return 0
    kill -TERM "$pid" 2>/dev/null || true
    deadline=$((SECONDS + 3))
    while kill -0 "$pid" 2>/dev/null && ((SECONDS < deadline)); do sleep 0.05; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

# shellcheck disable=SC2317  # called from the EXIT trap
cleanup() {
    [[ -z "$viewer_pid" ]] || stop_process "$viewer_pid"
    [[ -z "$xvfb_pid" ]] || stop_process "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# Start Xvfb on the first free display from :99 up. A number whose lock or
# socket exists belongs to someone else; if Xvfb still dies right away (another
# server won the race), the next number is tried.
start_xvfb() {
    local n deadline
    for ((n = 99; n < 160; n++)); do
        [[ -e "/tmp/.X$n-lock" || -e "/tmp/.X11-unix/X$n" ]] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
        xvfb_pid=$!
        deadline=$((SECONDS + 10))
        while kill -0 "$xvfb_pid" 2>/dev/null && ((SECONDS < deadline)); do
            if xdpyinfo -display ":$n" >/dev/null 2>&1; then
                export DISPLAY=":$n"
                return 0
            fi
            sleep 0.1
        done
        if kill -0 "$xvfb_pid" 2>/dev/null; then
            echo "run.sh: Xvfb :$n did not accept connections within 10 s." >&2
            return 1
        fi
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=""
    done
    echo "run.sh: could not start Xvfb on any display from :99 to :159." >&2
    [[ ! -s "$work/xvfb.log" ]] || cat "$work/xvfb.log" >&2
    return 1
}

start_xvfb || exit 1

# A virtual display has no window manager to size and place the window, so ask
# GLUT for a roomy one at the top-left corner.
"$viewer" -geometry 800x600+0+0 "$model" >&2 &
viewer_pid=$!

# When the viewer stops by itself (a bad file, say), its own message on stderr
# is the whole story: exit with its status and say nothing more.
exit_if_viewer_gone() {
    local status=0
    if ! kill -0 "$viewer_pid" 2>/dev/null; then
        wait "$viewer_pid" || status=$?
        viewer_pid=""
        exit "$status"
    fi
}

# The window title is the program path exactly as invoked; xdotool matches
# titles as extended regular expressions, so the path is escaped and anchored.
title_regex="^$(printf '%s' "$viewer" | sed 's/[][\\.^$*+?(){}|]/\\&/g')\$"

window=""
deadline=$((SECONDS + 20))
while [[ -z "$window" ]]; do
    exit_if_viewer_gone
    if ((SECONDS >= deadline)); then
        echo "run.sh: no window titled $viewer appeared within 20 s." >&2
        exit 1
    fi
    window="$(xdotool search --name "$title_regex" 2>/dev/null | head -n 1)" || true
    [[ -n "$window" ]] || sleep 0.1
done

# Wait until something has been drawn: a window that is still all black has
# not shown its first frame yet.
shot="$work/shot.png"
deadline=$((SECONDS + 20))
while :; do
    exit_if_viewer_gone
    if import -window "$window" "$shot" 2>/dev/null &&
        max="$(convert "$shot" -format '%[max]' info: 2>/dev/null)" &&
        awk -v m="$max" 'BEGIN { exit !(m > 0) }'; then
        break
    fi
    if ((SECONDS >= deadline)); then
        echo "run.sh: the viewer window stayed black for 20 s." >&2
        exit 1
    fi
    sleep 0.2
done

cp "$shot" "$screenshot"
echo "Screenshot saved: $screenshot"

# Close the viewer the way a user would (q), and only then by signal.
wait_for_viewer_exit() { # seconds
    local deadline=$((SECONDS + $1))
    while kill -0 "$viewer_pid" 2>/dev/null; do
        ((SECONDS < deadline)) || return 1
        sleep 0.05
    done
    return 0
}
xdotool key --window "$window" q 2>/dev/null || true
if ! wait_for_viewer_exit 3; then
    # Without a window manager, synthetic key events may be ignored; a real
    # (XTEST) key press goes to the window under the pointer.
    xdotool mousemove --window "$window" 5 5 key q 2>/dev/null || true
fi
if wait_for_viewer_exit 3; then
    status=0
    wait "$viewer_pid" || status=$?
    viewer_pid=""
    exit "$status"
fi
# The screenshot is what was asked for; a viewer that ignores q is closed here.
stop_process "$viewer_pid"
viewer_pid=""
exit 0
