#!/usr/bin/env bash
# Builds the window in Release and packs it as a Debian package in build-release/.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
# dpkg-shlibdeps (dpkg-dev) and file work out the package's library dependencies.
tools/deps.sh "${build_packages[@]}" dpkg-dev file
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORY_WITH_TESTS=OFF \
      -DQUILLORY_WITH_BENCH=OFF >/dev/null
cmake --build build-release --target quillory
(cd build-release && cpack -G DEB)
echo "install it with: apt-get install ./build-release/$(cd build-release && ls -t quillory_*.deb | head -1)"
