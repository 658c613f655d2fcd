#!/usr/bin/env bash
# Builds everything (tests and benchmark included) and runs every test through CTest, with the checks a
# reviewer would make: warnings are errors, the tree is formatted, and every fuzz target holds for a
# short run over its seeds (FUZZ_SECONDS each, two at a time).
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
# Everything any step below uses that a new machine lacks; DEVELOPING.md says how this list was checked.
# openbox and x11-utils (xprop): the desktop tests run on an X display of their own with a window
# manager; libxcb-xtest0-dev: the benchmark types Alt+Z through the X server; clang-format: the format;
# clang-14 and libclang-rt-14-dev: the unit tests built by a second compiler, and the fuzz targets with
# their runtime; python3-pyatspi, at-spi2-core, dbus-daemon: the controls' names over AT-SPI; eslint: the
# page scripts' lint; fonts-wqy-microhei: the Chinese font the window is run with (tools/run.sh), without
# which the layout tests would measure the captions in placeholder boxes.
tools/deps.sh "${build_packages[@]}" openbox x11-utils libxcb-xtest0-dev clang-format clang-14 \
    libclang-rt-14-dev python3-pyatspi at-spi2-core dbus-daemon eslint fonts-wqy-microhei

echo "== format (.clang-format)"
git ls-files -z '*.cpp' '*.h' 'src/app/scripts/*.js' | xargs -0 clang-format --dry-run -Werror

echo "== lint of the page scripts (src/app/scripts/.eslintrc.json)"
# Debian's eslint keeps its modules in /usr/share/nodejs, where a Node.js from elsewhere does not look.
# Its default formatter needs modules that its package does not bring; the plain "unix" one needs none.
lint() { NODE_PATH=/usr/share/nodejs eslint -f unix --no-eslintrc --no-ignore -c src/app/scripts/.eslintrc.json "$@"; }
# The lint must really lint: a script with known faults fails it (exit 1, its faults listed), never
# passes and never stops the linter before it lints (exit 2).
status=0
faults=$(lint tests/lint/faulty.js) || status=$?
if [ "$status" -ne 1 ] || ! grep -q 'eqeqeq' <<<"$faults"; then
    echo "the lint did not find the faults of tests/lint/faulty.js (exit $status):" >&2
    echo "$faults" >&2
    exit 1
fi
lint src/app/scripts/*.js

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORY_WERROR=ON >/dev/null
cmake --build build-test
ctest --test-dir build-test --output-on-failure

# The unit tests once more under AddressSanitizer and UndefinedBehaviorSanitizer (the browser tests
# are left out: the engine is not built for it).
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLORY_SANITIZE=ON -DQUILLORY_WITH_APP=OFF \
      -DQUILLORY_WITH_BENCH=OFF -DQUILLORY_WERROR=ON >/dev/null
cmake --build build-sanitize
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-sanitize --output-on-failure

# The same unit tests built by clang, so that the tree stays portable between compilers.
if command -v clang++-14 >/dev/null; then
    cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++-14 \
          -DQUILLORY_WITH_APP=OFF -DQUILLORY_WITH_BENCH=OFF -DQUILLORY_WERROR=ON >/dev/null
    cmake --build build-clang
    ctest --test-dir build-clang --output-on-failure
fi

echo "== fuzz targets, ${FUZZ_SECONDS:=8} s each over their seeds"
FUZZ_SECONDS=$FUZZ_SECONDS fuzz/run.sh
