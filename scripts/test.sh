#!/usr/bin/env bash
# Builds Vornic and runs every default test (unit, end-to-end on pseudo-terminals, fuzz smoke).
# Usage: scripts/test.sh [preset]   (default, asan or tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
scripts/install-deps.sh
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset"
