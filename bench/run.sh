#!/usr/bin/env bash
# Builds quillory-bench in Release and runs it twice: in a window on an X display with a window manager
# (Alt+Z through the X server, as a user types it) and on the offscreen platform; then the scripted
# Chromium doing the same pass on the same pages (bench/scripted). Writes bench/RESULTS.md with the
# ratio of the two, and bench/pass-time.svg.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
tools/deps.sh "${build_packages[@]}" openbox x11-utils libxcb-xtest0-dev
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORY_WITH_TESTS=OFF >/dev/null
cmake --build build-bench --target quillory-bench
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --disable-background-networking --disable-component-update"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

tests/support/run-under-x.sh build-bench/bench/quillory-bench 2>/dev/null | tee "$work/x11.txt"
QT_QPA_PLATFORM=offscreen build-bench/bench/quillory-bench 2>/dev/null |
    sed -n '/^Answering pass/,/^Document text/p' | tee "$work/offscreen.txt"
bench/scripted/run.sh --json "$work/scripted.json" | tee "$work/scripted.txt"

bench/plot_pass_time.py "$work/x11.txt" bench/pass-time.svg
# Our pass against the scripted one, page by page (both less the download, both on settled pages).
python3 - "$work/x11.txt" "$work/offscreen.txt" "$work/scripted.json" >"$work/ratio.txt" <<'PY'
import json, re, sys
row = re.compile(r"^\s*(\d+) KB page, nested (\d+) deep(, live)?\s+([\d.]+) ms")
def ours(path):
    figures = {}
    for line in open(path, encoding="utf-8"):
        match = row.match(line)
        if match and not line.startswith("    "):
            figures.setdefault(f"{match[1]} KB, nested {match[2]} deep{match[3] or ''}", float(match[4]))
    return figures
x11, offscreen = ours(sys.argv[1]), ours(sys.argv[2])
scripted = json.load(open(sys.argv[3], encoding="utf-8"))["medians"]
print(f"{'page':28} {'X11 ms':>8} {'offscreen':>10} {'scripted':>9} {'ratio X11':>10} {'ratio off':>10}")
for page, theirs in scripted.items():
    a, b = x11.get(page), offscreen.get(page)
    if a is None or b is None:
        continue
    print(f"{page:28} {a:8.1f} {b:10.1f} {theirs:9.1f} {a / theirs:10.2f} {b / theirs:10.2f}")
PY
cat "$work/ratio.txt"
{
    echo "# Benchmark results"
    echo
    echo "The last run of \`bench/run.sh\` ($(date -u +%Y-%m-%d)), on this machine:"
    echo
    echo "- $(nproc) cores: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
    echo "- $(free -g | awk '/Mem:/ {print $2}') GiB of memory; $(. /etc/os-release && echo "$PRETTY_NAME"); $(g++ --version | head -1)"
    echo
    echo "## quillory-bench in a window on X (Xvfb with openbox), Alt+Z through the X server"
    echo
    echo '```'
    cat "$work/x11.txt"
    echo '```'
    echo
    echo "## The same passes on the offscreen platform"
    echo
    echo '```'
    cat "$work/offscreen.txt"
    echo '```'
    echo
    echo "## A scripted Chromium doing the same read, cut, fetch and fill (bench/scripted)"
    echo
    echo '```'
    grep -v '^{' "$work/scripted.txt"
    echo '```'
    echo
    echo "## Ours against the scripted Chromium (ms beyond the download; ratio: ours / scripted)"
    echo
    echo '```'
    cat "$work/ratio.txt"
    echo '```'
    echo
    echo '![Pass time against page size](pass-time.svg)'
} > bench/RESULTS.md
echo "wrote bench/RESULTS.md and bench/pass-time.svg"
