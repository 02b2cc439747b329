#!/usr/bin/env bash
# Builds and runs the micro benchmarks (Release). Extra arguments go to the benchmark binary.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORNIC_BUILD_BENCH=ON \
    -DVORNIC_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench --target vornic_bench -j "$(nproc)"
exec build/bench/bench/vornic_bench "$@"
