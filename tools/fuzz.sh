#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset: clang, ASan and UBSan) and runs every one of them
# for the given seconds (default 60) on a copy of its seed corpus, so that the corpus in the
# repository grows only on purpose. Prints per target the executions, executions per second and
# the coverage reached; exits non-zero when any target finds something.
#   tools/fuzz.sh [seconds]
# Logs, the grown corpora and any finding stay in build-fuzz/fuzz-run/<target>/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

seconds=${1:-60}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [seconds]" >&2
    exit 2
fi

if ! command -v clang++ >/dev/null ||
    ! compgen -G "$(clang++ --print-runtime-dir)/libclang_rt.fuzzer-*.a" >/dev/null; then
    echo "libFuzzer needs clang and its runtime: apt-get install clang libclang-rt-14-dev" >&2
    exit 2
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# Debian's Qt is built without frame pointers, so ASan's fast unwinder reads garbage past Qt's
# allocation frames, and every garbage stack is a new entry in ASan's stack depot: memory grows
# with each run until libFuzzer's RSS limit calls it a finding. A short allocation context stays
# within real frames. (To see a finding's full allocation stack, rerun its input with
# ASAN_OPTIONS=fast_unwind_on_malloc=0.) UBSan aborts on its first report, as the build says.
export ASAN_OPTIONS=${ASAN_OPTIONS:-malloc_context_size=3}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

runs=build-fuzz/fuzz-run
rm -rf "$runs"
found=0
summary=$(printf '%-22s %11s %8s %13s %13s %7s  %s' target executions exec/s \
    "seeds cov/ft" "end cov/ft" corpus result)
for seeds in fuzz/corpus/*/; do
    target=$(basename "$seeds")
    work=$runs/$target
    mkdir -p "$work/corpus"
    cp -R "$seeds." "$work/corpus/"
    echo "fuzz_$target: ${seconds}s"
    status=0
    "build-fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
        -timeout=10 -artifact_prefix="$work/" "$work/corpus" >"$work/log" 2>&1 || status=$?

    stat() { sed -n "s/^stat::$1: *//p" "$work/log" | tail -n1; }
    coverage() { grep -o "$1 *cov: [0-9]* ft: [0-9]*" "$work/log" | tail -n1 |
        sed 's/.*cov: \([0-9]*\) ft: \([0-9]*\)/\1\/\2/'; }
    artifacts=$(find "$work" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' \
        -o -name 'timeout-*' -o -name 'oom-*' \) -printf '%f ')
    result=clean
    if ((status != 0)) || [ -n "$artifacts" ]; then
        result="FOUND (exit $status) $artifacts"
        found=1
        grep -m5 -E 'invariant broken|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error' \
            "$work/log" >&2 || true
    fi
    summary+=$'\n'$(printf '%-22s %11s %8s %13s %13s %7s  %s' "fuzz_$target" \
        "$(stat number_of_executed_units)" "$(stat average_exec_per_sec)" \
        "$(coverage INITED)" "$(coverage '')" "$(find "$work/corpus" -type f | wc -l)" "$result")
done

echo
echo "$summary"
if ((found)); then
    echo "Findings above; inputs and logs in $runs/<target>/." >&2
    exit 1
fi
