#!/usr/bin/env bash
# Builds and runs the micro benchmarks in the default build (build/default, -O2 as the package).
# Extra arguments go to the benchmark binary.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default -DVORNIC_BUILD_BENCH=ON >/dev/null
cmake --build --preset default --target vornic_bench -j "$(nproc)"
exec build/default/bench/vornic_bench "$@"
