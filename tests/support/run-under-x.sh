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
Xvfb -displayfd 5 -screen 0 "${XVFB_SCREEN:-1280x1024x24}" -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$work/display")"

# openbox now and then fails to come up on a loaded machine (it exits, or takes its time to claim the
# screen): it is given 30 s, and started again if it has exited, up to three times.
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
for attempt in 1 2 3; do
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    wm=$!
    pids+=("$wm")
    for _ in $(seq 300); do
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
