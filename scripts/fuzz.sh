#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (the libraries under test instrumented too) and
# runs each for the given number of seconds, starting from its seed corpus in fuzz/corpus/NAME.
# New inputs go to build/fuzz/corpus/NAME, so the committed seeds stay small. Prints each
# target's executions and coverage (edges) at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
for f in build/fuzz/fuzz/vornic_*_fuzz; do
    [ -x "$f" ] || continue
    name="$(basename "$f")"
    name="${name#vornic_}"
    work="build/fuzz/corpus/$name"
    mkdir -p "$work"
    seeds=()
    [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
    echo "-- $name for ${seconds}s"
    log="build/fuzz/$name.log"
    if ! "$f" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 "$work" "${seeds[@]}" \
        >"$log" 2>&1; then
        tail -n 40 "$log"
        exit 1
    fi
    grep -E "^stat::number_of_executed_units|(INITED|DONE) +cov:" "$log" | tail -n 3
done
