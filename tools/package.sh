#!/usr/bin/env bash
# Builds the window in Release with Debian's hardening flags and packs it as a Debian package in
# build-release/. The package holds what `cmake --install` installs under /usr, with the manual page
# and the changelog compressed; packaging/debian/ holds its control data and changelog. Fails when the
# desktop entry, the metainfo, the manual page, the binary's hardening or lintian has anything to say
# beyond notes.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
# dpkg-dev: dpkg-buildflags, dpkg-shlibdeps (with file) and dpkg-gencontrol; devscripts: hardening-check.
tools/deps.sh "${build_packages[@]}" dpkg-dev file lintian devscripts

flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
build_release_window "-DCMAKE_CXX_FLAGS=$(flags CPPFLAGS) $(flags CXXFLAGS)" \
                     "-DCMAKE_EXE_LINKER_FLAGS=$(flags LDFLAGS)"

# dpkg-shlibdeps and dpkg-gencontrol work in a directory laid out as they expect: debian/ with the
# control file and changelog, the package's tree in debian/quillory/.
work=build-release/deb
stage=$work/debian/quillory
rm -rf "$work" build-release/quillory_*.deb
mkdir -p "$work/debian"
cp packaging/debian/control packaging/debian/changelog "$work/debian/"

# Installing into the staging tree rewrites the build directory's install manifest: keep the one of an
# install by hand, which is what uninstalls it.
manifest=build-release/install_manifest.txt
[ ! -f "$manifest" ] || mv "$manifest" "$manifest.kept"
restore_manifest() {
    rm -f "$manifest"
    [ ! -f "$manifest.kept" ] || mv "$manifest.kept" "$manifest"
}
trap restore_manifest EXIT
DESTDIR="$PWD/$stage" cmake --install build-release --prefix /usr >/dev/null
restore_manifest
trap - EXIT
# Stripped as Debian strips binaries: symbols, and the compiler's comment and note sections.
strip --remove-section=.comment --remove-section=.note --strip-unneeded "$stage/usr/bin/quillory"

gzip -9n "$stage/usr/share/man/man1/quillory.1"
gzip -9nc packaging/debian/changelog >"$stage/usr/share/doc/quillory/changelog.gz"
mkdir "$stage/DEBIAN"  # also how dpkg-shlibdeps finds the package's root
find "$stage" -type d -exec chmod 0755 {} +
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l packaging/debian/changelog -S Timestamp)
(
    cd "$work"
    dpkg-shlibdeps debian/quillory/usr/bin/quillory
    dpkg-gencontrol -pquillory -Pdebian/quillory
    cd debian/quillory
    find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum >DEBIAN/md5sums
)
version=$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)
deb=build-release/quillory_${version}_$(dpkg --print-architecture).deb
dpkg-deb --root-owner-group --build "$stage" "$deb" >/dev/null

tools/check-metadata.sh "$stage"
# hardening-check proves fortification by the checked variants of calls, and this binary has none to
# check: its only fortifiable calls (memcpy, memmove) copy sizes known at run time alone. So the flag is
# checked where it is given, in every compile command. Control-flow protection is not among the flags
# dpkg-buildflags gives here.
if grep '"command"' build-release/compile_commands.json | grep -v -q -e '-D_FORTIFY_SOURCE=2'; then
    echo "a compile command lacks -D_FORTIFY_SOURCE=2" >&2
    exit 1
fi
hardening-check --nofortify --nocfprotection "$stage/usr/bin/quillory"
lintian --fail-on error,warning --display-info "$deb"
echo "lintian: no error or warning"
echo "install it with: apt-get install ./$deb"
