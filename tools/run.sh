#!/usr/bin/env bash
# Builds the window (Release) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
tools/deps.sh "${build_packages[@]}" fonts-wqy-microhei
build_release_window
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display: starting the window on a virtual one (xvfb-run)."
    exec xvfb-run -a -s "-screen 0 1280x800x24" build-release/src/app/quillory "$@"
fi
exec build-release/src/app/quillory "$@"
