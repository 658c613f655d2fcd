#!/usr/bin/env bash
# Builds quillory-bench in Release, runs it, and writes bench/RESULTS.md and bench/pass-time.svg.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
tools/deps.sh "${build_packages[@]}"
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORY_WITH_TESTS=OFF >/dev/null
cmake --build build-bench --target quillory-bench
output=$(mktemp)
# The offscreen platform: the window is made active without a window manager, as access keys need.
QT_QPA_PLATFORM=offscreen build-bench/bench/quillory-bench 2>/dev/null | tee "$output"
bench/plot_pass_time.py "$output" bench/pass-time.svg
{
    echo "# Benchmark results"
    echo
    echo "The last run of \`bench/run.sh\` ($(date -u +%Y-%m-%d)), on this machine:"
    echo
    echo "- $(nproc) cores: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
    echo "- $(free -g | awk '/Mem:/ {print $2}') GiB of memory; $(. /etc/os-release && echo "$PRETTY_NAME"); $(g++ --version | head -1)"
    echo
    echo '```'
    cat "$output"
    echo '```'
    echo
    echo '![Pass time against page size](pass-time.svg)'
} > bench/RESULTS.md
rm -f "$output"
echo "wrote bench/RESULTS.md and bench/pass-time.svg"
