#!/usr/bin/env bash
# Builds everything (tests and benchmark included) and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
# openbox and x11-utils (xprop): the desktop tests run on an X display of their own with a window manager.
tools/deps.sh "${build_packages[@]}" openbox x11-utils
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-test
ctest --test-dir build-test --output-on-failure

# The unit tests once more under AddressSanitizer and UndefinedBehaviorSanitizer (the browser tests
# are left out: the engine is not built for it).
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLORY_SANITIZE=ON -DQUILLORY_WITH_APP=OFF \
      -DQUILLORY_WITH_BENCH=OFF >/dev/null
cmake --build build-sanitize
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-sanitize --output-on-failure
