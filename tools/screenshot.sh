#!/usr/bin/env bash
# Makes docs/screenshot.png: the window under Xvfb on a fixture trial page, after one answering pass.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
tools/deps.sh "${build_packages[@]}" fonts-wqy-microhei
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-test --target quillory-screenshot
mkdir -p docs
xvfb-run -a -s "-screen 0 1100x760x24" build-test/tools/screenshot/quillory-screenshot docs/screenshot.png
echo "wrote docs/screenshot.png"
