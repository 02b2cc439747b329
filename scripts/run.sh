#!/usr/bin/env bash
# Builds Vornic and opens the desktop program with the built-in KZ2 simulator selected (press
# "Connect"). Without a display, use the command line: build/default/cli/vornic-cli --simulate info
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target vornic vornic-cli kz2-sim
exec build/default/desktop/qt/vornic --simulate "$@"
