#!/usr/bin/env bash
# Builds everything (tests and benchmark included) and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
tools/deps.sh "${build_packages[@]}"
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-test
ctest --test-dir build-test --output-on-failure
