#!/usr/bin/env bash
# Runs the README's test command from a fresh clone of this repository's HEAD beside CPU-bound processes,
# as on a busy machine, several times in a row, and prints each run's load average, time and result.
# The runs share nothing but the machine's installed packages: each clones afresh and builds from
# nothing.
#
# Usage: tools/loaded-test.sh [RUNS] [BUSY]   (defaults: 3 runs, 6 CPU-bound processes)
# Environment: LOADED_TEST_DIR  where the clones and logs go (default: a new folder under /tmp)
set -uo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
busy=${2:-6}
dir=${LOADED_TEST_DIR:-$(mktemp -d /tmp/quillory-loaded.XXXXXX)}
mkdir -p "$dir"
repo=$(pwd)

burners=()
stop_burners() {
    for pid in "${burners[@]}"; do kill "$pid" 2>/dev/null; done
    wait "${burners[@]}" 2>/dev/null
}
trap stop_burners EXIT
for _ in $(seq "$busy"); do
    (while :; do :; done) &
    burners+=($!)
done

# The load average over the run: sampled every 10 s, the smallest and largest one-minute figures.
sample_load() {
    while :; do
        cut -d' ' -f1 /proc/loadavg
        sleep 10
    done
}

summary="$dir/summary.txt"
: >"$summary"
failed=0
for run in $(seq "$runs"); do
    clone="$dir/run-$run"
    rm -rf "$clone"
    git clone -q "$repo" "$clone"
    sample_load >"$dir/load-$run.txt" &
    sampler=$!
    start=$(date +%s)
    (cd "$clone" && CI=true bash .ci/run) >"$dir/run-$run.log" 2>&1 </dev/null
    status=$?
    elapsed=$(($(date +%s) - start))
    kill "$sampler" 2>/dev/null
    wait "$sampler" 2>/dev/null
    load=$(sort -n "$dir/load-$run.txt" | sed -n '1p;$p' | paste -sd- -)
    result=passed
    [ "$status" -eq 0 ] || { result="FAILED (exit $status)"; failed=1; }
    line="run $run of $runs: load average $load beside $busy busy processes; ${elapsed} s; $result; log $dir/run-$run.log"
    echo "$line" | tee -a "$summary"
    grep -E 'tests passed|tests failed' "$dir/run-$run.log" | tee -a "$summary"
    rm -rf "$clone"/build-* "$clone"/fuzz/out # the log stays; the builds would fill the disk
done
exit $failed
