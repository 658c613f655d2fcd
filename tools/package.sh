#!/usr/bin/env bash
# Builds the window in Release and packs it as a Debian package in build-release/.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
# dpkg-shlibdeps (dpkg-dev) and file work out the package's library dependencies.
tools/deps.sh "${build_packages[@]}" dpkg-dev file
build_release_window
(cd build-release && cpack -G DEB)
echo "install it with: apt-get install ./build-release/$(cd build-release && ls -t quillory_*.deb | head -1)"
