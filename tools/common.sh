# Shared by the run and test commands: the packages the build needs and the engine's root setting.
build_packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-webengine-dev
                xauth xvfb)
# The engine's sandbox cannot start as root; as any other user it stays on.
if [ "$(id -u)" -eq 0 ]; then
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi
