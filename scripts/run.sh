#!/usr/bin/env bash
# Builds Vornic and runs it against the built-in KZ2 simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
exec build/default/cli/vornic-cli --simulate info "$@"
