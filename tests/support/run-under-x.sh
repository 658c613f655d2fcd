#!/usr/bin/env bash
# Runs a test program on a virtual X display of its own with a window manager (openbox), as on any
# desktop: the window manager decorates the windows, sets their titles as the user sees them and makes
# them active, which access keys need.
# Usage: run-under-x.sh PROGRAM [ARGUMENT...]
set -euo pipefail

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display number and writes it to the descriptor it is given.
# It is up when it has written it; a busy machine only makes that take longer, so the wait ends on
# Xvfb's word or its exit (with a ceiling of ten minutes for a server that hangs).
Xvfb -displayfd 5 -screen 0 "${XVFB_SCREEN:-1280x1024x24}" -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
pids+=("$xvfb")
for _ in $(seq 6000); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$work/display")"

# openbox now and then fails to come up on a loaded machine (it exits): it is started again, up to three
# times. One that runs is waited for until it has claimed the screen (a ceiling of ten minutes).
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
for attempt in 1 2 3; do
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    wm=$!
    pids+=("$wm")
    for _ in $(seq 6000); do
        wm_ready && break
        kill -0 "$wm" 2>/dev/null || break
        sleep 0.1
    done
    wm_ready && break
    echo "openbox did not start (attempt $attempt):" >&2
    cat "$work/openbox.log" >&2
    kill "$wm" 2>/dev/null || true
done
wm_ready || { echo "openbox did not start" >&2; exit 1; }

unset QT_QPA_PLATFORM
export QT_QPA_PLATFORM=xcb
"$@"
