#!/usr/bin/env bash
# Builds the desktop program and opens it with the built-in KZ2 simulator selected (press
# "Connect"). Only the window is built first, so that it opens as soon as it can; vornic-cli and
# kz2-sim come with `scripts/test.sh` or `cmake --build --preset default`. Without a display
# (DISPLAY and WAYLAND_DISPLAY unset, e.g. over ssh) it builds the command line instead and shows
# what the simulator holds: `vornic-cli --simulate info`. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
cmake --preset default >/dev/null
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    cmake --build --preset default -j "$(nproc)" --target vornic
    exec build/default/desktop/qt/vornic --simulate "$@"
fi
echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): the command line instead." >&2
cmake --build --preset default -j "$(nproc)" --target vornic-cli kz2-sim
exec build/default/cli/vornic-cli --simulate "${@:-info}"
