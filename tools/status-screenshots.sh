#!/usr/bin/env bash
# Makes docs/status/*.png: the window under Xvfb with a window manager (openbox) after one answering
# pass, in the scenes the status box tells apart, at 12 pt and at scale 2.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
tools/deps.sh "${build_packages[@]}" fonts-wqy-microhei openbox x11-utils
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-test --target quillory-screenshot
mkdir -p docs/status
shot=build-test/tools/screenshot/quillory-screenshot
for scene in answered refused not-found slow rendered stuck 12pt; do
    XVFB_SCREEN=1280x800x24 tests/support/run-under-x.sh "$shot" "docs/status/$scene.png" "$scene"
done
XVFB_SCREEN=2000x1400x24 QT_SCALE_FACTOR=2 tests/support/run-under-x.sh "$shot" docs/status/scale-2.png answered
echo "wrote docs/status/"
