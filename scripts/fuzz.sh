#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (the libraries under test instrumented too) and
# runs each for the given number of seconds, starting from its seed corpus in fuzz/corpus/NAME,
# as many at a time as there are processors (each fuzzer is one process on one core). New inputs
# go to build/fuzz/corpus/NAME, so the committed seeds stay small. Prints each target's executions
# and coverage (edges) at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

fuzz_one() {  # the fuzz target's binary; its log goes to build/fuzz/NAME.log
    local f="$1" name work log
    name="$(basename "$f")"
    name="${name#vornic_}"
    work="build/fuzz/corpus/$name"
    log="build/fuzz/$name.log"
    mkdir -p "$work"
    local seeds=()
    [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
    "$f" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 "$work" "${seeds[@]}" \
        >"$log" 2>&1
}

targets=()
for f in build/fuzz/fuzz/vornic_*_fuzz; do
    [ -x "$f" ] && targets+=("$f")
done
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets were built" >&2; exit 1; }
echo "-- ${#targets[@]} targets for ${seconds}s each, $(nproc) at a time"
declare -A running=()  # process id -> target
failed=()
# A run stopped half-way leaves no fuzzer behind.
trap 'for pid in "${!running[@]}"; do kill "$pid" 2>/dev/null || true; done' EXIT
reap() {  # waits for one fuzzer to end and notes it when it found something
    local pid status=0
    wait -n -p pid "${!running[@]}" || status=$?
    [ "$status" -eq 0 ] || failed+=("${running[$pid]}")
    unset "running[$pid]"
}
for f in "${targets[@]}"; do
    while [ ${#running[@]} -ge "$(nproc)" ]; do reap; done
    fuzz_one "$f" &
    running[$!]="$f"
done
while [ ${#running[@]} -gt 0 ]; do reap; done

for f in "${targets[@]}"; do
    name="$(basename "$f")"
    name="${name#vornic_}"
    echo "-- $name"
    grep -E "^stat::number_of_executed_units|(INITED|DONE) +cov:" "build/fuzz/$name.log" |
        tail -n 3 || true  # a fuzzer that found something ends without its statistics
done
for f in "${failed[@]}"; do
    name="$(basename "$f")"
    name="${name#vornic_}"
    echo "-- $name FAILED:" >&2
    tail -n 40 "build/fuzz/$name.log" >&2
done
[ ${#failed[@]} -eq 0 ]
