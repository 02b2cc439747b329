#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer and runs each for the given number of seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
for f in build/fuzz/fuzz/vornic_*_fuzz; do
    [ -x "$f" ] || continue
    echo "-- $(basename "$f") for ${seconds}s"
    "$f" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 2>&1 | tail -n 3
done
