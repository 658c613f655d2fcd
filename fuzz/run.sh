#!/usr/bin/env bash
# Builds the libFuzzer targets of the text rules, the page's character set and the document text with
# AddressSanitizer and UndefinedBehaviorSanitizer and runs each for a fixed number of inputs (or time). Fails when a target
# crashes or breaks an invariant.
#
#   fuzz/run.sh [target ...]   targets: findfrom midtext zhuanzi lookup cutquestion pagecharset
#                              documenttext (default: all)
#
# Environment:
#   FUZZ_RUNS      inputs per target (default 200000)
#   FUZZ_SECONDS   seconds per target instead (the test command runs each target for a short while)
#   FUZZ_MAX_LEN   longest input in bytes (default 4096)
#   FUZZ_JOBS      targets built and run at once (default: the number of cores)
#   FUZZ_OUT       build and work directory (default fuzz/out, ignored by git)
#   CXX            the clang++ to use (default: clang++-14, else clang++)
#
# New inputs that libFuzzer finds go to $FUZZ_OUT/corpus/<target>; the seeds in fuzz/corpus/<target>
# are only read. A crashing input is saved as $FUZZ_OUT/artifacts/<target>/crash-*; rerun it with
# $FUZZ_OUT/bin/fuzz_<target> <file>.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
runs=${FUZZ_RUNS:-200000}
seconds=${FUZZ_SECONDS:-} # when set, each target runs this long instead of for FUZZ_RUNS inputs
max_len=${FUZZ_MAX_LEN:-4096}
out=${FUZZ_OUT:-$here/out}
all_targets=(findfrom midtext zhuanzi lookup cutquestion pagecharset documenttext)
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=("${all_targets[@]}")

log() { printf '== %s\n' "$*" >&2; }

apt_install() {
    if ! command -v apt-get >/dev/null; then
        log "missing: $*; install them"
        exit 2
    fi
    log "installing $*"
    "$root/tools/deps.sh" "$@" >/dev/null
}

pick_cxx() {
    if [[ -n ${CXX:-} ]] && command -v "$CXX" >/dev/null; then
        echo "$CXX"
    elif command -v clang++-14 >/dev/null; then
        echo clang++-14
    elif command -v clang++ >/dev/null; then
        echo clang++
    fi
}

# A compiler whose libFuzzer runtime links: Debian ships it apart from clang (libclang-rt-NN-dev).
fuzzer_links() {
    local probe="$out/probe"
    printf '#include <cstdint>\n#include <cstddef>\nextern "C" int LLVMFuzzerTestOneInput(const uint8_t *, size_t) { return 0; }\n' \
        >"$probe.cpp"
    "$1" -fsanitize=fuzzer,address,undefined "$probe.cpp" -o "$probe" >/dev/null 2>&1
}

mkdir -p "$out/bin"
cxx=$(pick_cxx)
if [[ -z $cxx ]]; then
    apt_install clang-14 libclang-rt-14-dev
    cxx=$(pick_cxx)
fi
if ! fuzzer_links "$cxx"; then
    version=$("$cxx" -dumpversion | cut -d. -f1)
    apt_install "libclang-rt-$version-dev"
    fuzzer_links "$cxx" || { log "$cxx still cannot link -fsanitize=fuzzer"; exit 2; }
fi
if ! pkg-config --exists Qt6Core; then
    apt_install qt6-base-dev pkg-config
fi
log "compiler: $($cxx --version | head -n1); Qt $(pkg-config --modversion Qt6Core)"

# The same strict settings as the CMake build, plus the sanitizers; UB aborts instead of warning.
cxxflags=(-std=c++20 -g -O1 -fPIC -fno-omit-frame-pointer
          -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
          -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Woverloaded-virtual -Werror
          -DQT_NO_CAST_FROM_ASCII -DQT_NO_CAST_TO_ASCII -DQT_NO_CAST_FROM_BYTEARRAY
          -DQT_NO_URL_CAST_FROM_STRING -DQT_USE_QSTRINGBUILDER -DQT_NO_KEYWORDS
          -DQT_NO_NARROWING_CONVERSIONS_IN_CONNECT -DQT_DISABLE_DEPRECATED_UP_TO=0x060400
          -I"$root/src" -I"$here" -I"$root/tests/support")
read -r -a qt_cflags <<<"$(pkg-config --cflags Qt6Core)"
read -r -a qt_libs <<<"$(pkg-config --libs Qt6Core)"

sources_for() {
    local s="$root/src"
    case $1 in
        findfrom | midtext) echo "$s/pagetext/textrules.cpp" ;;
        zhuanzi) echo "$s/pagetext/textrules.cpp $s/pagetext/zhuanzi.cpp" ;;
        lookup) echo "$s/pagetext/textrules.cpp $s/pagetext/zhuanzi.cpp $s/answer/attributelookup.cpp" ;;
        cutquestion) echo "$s/pagetext/textrules.cpp $s/answer/passrules.cpp" ;;
        pagecharset) echo "$s/pagetext/pagecharset.cpp" ;;
        documenttext) echo "$s/pagetext/textrules.cpp $s/pagetext/documenttext.cpp $s/answer/passrules.cpp" ;;
        *) log "unknown target: $1 (known: ${all_targets[*]})"; exit 2 ;;
    esac
}

# Builds and runs one target; fails when it does not build or breaks an invariant.
fuzz_one() {
    local target=$1 binary work artifacts sources
    read -r -a sources <<<"$(sources_for "$target")"
    binary="$out/bin/fuzz_$target"
    log "building fuzz_$target"
    "$cxx" "${cxxflags[@]}" "${qt_cflags[@]}" "$here/fuzz_$target.cpp" "${sources[@]}" "${qt_libs[@]}" \
        -o "$binary" || return 1

    work="$out/corpus/$target"
    artifacts="$out/artifacts/$target/"
    mkdir -p "$work" "$artifacts"
    log "running fuzz_$target for $([[ -n $seconds ]] && echo "$seconds s" || echo "$runs inputs")"
    if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$binary" "$([[ -n $seconds ]] && echo "-max_total_time=$seconds" || echo "-runs=$runs")" \
        -max_len="$max_len" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
        -dict="$here/quillory.dict" -artifact_prefix="$artifacts" "$work" "$here/corpus/$target" \
        >"$out/$target.log" 2>&1; then
        log "fuzz_$target: $(grep -E '^(stat::number_of_executed_units|Done)' "$out/$target.log" | tail -n1)"
    else
        log "fuzz_$target FAILED; the log is $out/$target.log, the input under $artifacts"
        grep -E 'ERROR|invariant failed|runtime error|SUMMARY' "$out/$target.log" | head -n 20 >&2 || true
        return 1
    fi
}

# Two targets at a time (FUZZ_JOBS): each build and each run uses one core.
jobs_at_once=${FUZZ_JOBS:-$(nproc)}
status=0
for target in "${targets[@]}"; do
    while [[ $(jobs -rp | wc -l) -ge $jobs_at_once ]]; do
        wait -n || status=1
    done
    fuzz_one "$target" &
done
while [[ $(jobs -rp | wc -l) -gt 0 ]]; do
    wait -n || status=1
done
wait || status=1
exit $status
