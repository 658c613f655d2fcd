# Shared by the run and test commands: the packages the build needs. (The programs themselves let the
# browser engine run without its sandbox as root: allowEngineAsRoot.)
build_packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-webengine-dev
                xauth xvfb)

# The window alone, in Release, in build-release/ (what run.sh starts and package.sh packs).
build_release_window() {
    cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORY_WITH_TESTS=OFF \
          -DQUILLORY_WITH_BENCH=OFF >/dev/null
    cmake --build build-release --target quillory
}
