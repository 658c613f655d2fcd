#!/usr/bin/env bash
# Builds the window (Release) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
tools/deps.sh "${build_packages[@]}" fonts-wqy-microhei
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORY_WITH_TESTS=OFF \
      -DQUILLORY_WITH_BENCH=OFF >/dev/null
cmake --build build-release --target quillory
exec build-release/src/app/quillory "$@"
