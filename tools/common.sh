# Shared by the run and test commands: the packages the build needs, and the validators that a test runs
# on the desktop entry, the metainfo and the manual page. (The programs themselves let the browser engine
# run without its sandbox as root: allowEngineAsRoot.)
build_packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-webengine-dev libsqlite3-dev
                qt6-translations-l10n xauth xvfb desktop-file-utils appstream man-db)

# The window alone, in Release, in build-release/ (what run.sh starts and package.sh packs). Arguments
# go to the configure step; what they set stays in the build directory's cache.
build_release_window() {
    cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORY_WITH_TESTS=OFF \
          -DQUILLORY_WITH_BENCH=OFF "$@" >/dev/null
    cmake --build build-release --target quillory
}
