#!/usr/bin/env bash
# Checks the desktop entry, the AppStream metainfo and the manual page with the tools that read them, and
# fails on any error or warning. appstreamcli's pedantic notes are shown without failing: the one it
# gives, an upper-case letter in the id, comes with the reverse-DNS id org.quillory.Quillory itself.
# Usage: tools/check-metadata.sh        the files of the source tree, and that they name one version
#        tools/check-metadata.sh ROOT   the files installed under ROOT/usr (a package's staging tree)
set -euo pipefail
root=${1:+$(realpath "$1")}
cd "$(dirname "$0")/.."
id=org.quillory.Quillory
failed=0
fail() {
    echo "FAIL: $*" >&2
    failed=1
}

if [ -z "$root" ]; then
    desktop=src/app/resources/$id.desktop
    manpage=docs/quillory.1
    appstreamcli validate --pedantic --no-net --strict src/app/resources/$id.metainfo.xml ||
        fail "appstreamcli validate: $id.metainfo.xml"
else
    desktop=$root/usr/share/applications/$id.desktop
    manpage=$(ls "$root"/usr/share/man/man1/quillory.1*)
    # The tree as a whole: the metainfo and the desktop entry it launches.
    appstreamcli validate-tree --pedantic --no-net --strict "$root" || fail "appstreamcli validate-tree: $root"
fi

# desktop-file-validate exits 0 on warnings and hints: any output is a finding.
out=$(desktop-file-validate "$desktop" 2>&1) || true
[ -z "$out" ] || fail "desktop-file-validate: $out"

# As lintian reads a manual page: groff's warnings on stderr are findings.
out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$manpage" 2>&1 >/dev/null) || true
[ -z "$out" ] || fail "man --warnings $manpage: $out"

if [ -z "$root" ]; then
    # One version everywhere: the project's, the changelog's, the newest release and the manual page's.
    project=$(sed -n 's/^project(Quillory VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
    changelog=$(sed -n '1s/^quillory (\([^)]*\)).*/\1/p' packaging/debian/changelog)
    release=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' src/app/resources/$id.metainfo.xml | head -1)
    manual=$(sed -n 's/^\.TH .*"Quillory \([^"]*\)".*/\1/p' $manpage)
    for version in "$changelog" "$release" "$manual"; do
        if [ "$version" != "${project%.0}" ]; then
            fail "versions differ: project $project, changelog $changelog, metainfo $release, manual $manual"
            break
        fi
    done
fi

[ "$failed" -eq 0 ] || exit 1
echo "desktop entry, metainfo and manual page: no error or warning"
