#!/usr/bin/env bash
# Builds vornic.exe (static, for Windows) and drives its real dialogs under Wine on a virtual X
# server: vornic-selftest.exe connects over COM5, which Wine maps to the pseudo-terminal of a
# kz2-sim, and checks the dialogs through window messages against the simulator's trace. Leaves
# vornic.exe in build/windows/desktop/win32/ and a PNG of every dialog in build/windows/screenshots/.
#
#   scripts/windows-ui.sh        exit status 0 only when every check passed
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

scripts/install-deps.sh windows
started=$(date +%s)

echo "== building kz2-sim (Linux) and vornic.exe, vornic-selftest.exe (Windows)"
[ -f build/default/CMakeCache.txt ] || nice cmake --preset default >/dev/null
nice cmake --build build/default --target kz2-sim -j2
[ -f build/windows/CMakeCache.txt ] || nice cmake --preset windows >/dev/null
nice cmake --build build/windows --target vornic vornic-selftest -j2
exe_dir="$root/build/windows/desktop/win32"
shots="$root/build/windows/screenshots"
rm -rf "$shots"
mkdir -p "$shots"
echo "vornic.exe: $(stat -c %s "$exe_dir/vornic.exe") bytes, DLLs:" \
    $(x86_64-w64-mingw32-objdump -p "$exe_dir/vornic.exe" | sed -n 's/.*DLL Name: //p')

# shellcheck source=scripts/wine-env.sh
. scripts/wine-env.sh
trap wine_teardown EXIT

echo "== Wine prefix, kz2-sim on a pseudo-terminal as COM5"
wine_setup
work="$WINE_WORK"
wine_sim_start --level 6 --trace
trace="$work/sim.err"  # the simulator's trace

echo "== vornic-selftest.exe"
status=0
timeout 240 wine "$exe_dir/vornic-selftest.exe" --port 5 --trace "Z:$trace" \
    --shots "Z:$shots" || status=$?
echo "== vornic.exe itself: starts, shows its dialog, ends on the close box"
exe_status=0
wine "$exe_dir/vornic.exe" &
exe_pid=$!
timeout 60 wine "$exe_dir/vornic-selftest.exe" --check-running "Z:$shots" || status=1
timeout 20 tail --pid="$exe_pid" -f /dev/null || { kill "$exe_pid"; status=1; }
wait "$exe_pid" || exe_status=$?
[ "$exe_status" -eq 0 ] || { echo "windows-ui: vornic.exe ended with status $exe_status" >&2; status=1; }

for bmp in "$shots"/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "screenshots: $(ls "$shots" | tr '\n' ' ')"
if [ "$status" -ne 0 ]; then
    echo "windows-ui: the self-test failed (status $status); the simulator's trace:" >&2
    tail -n 40 "$trace" >&2
fi
echo "== Windows dialogs done in $(($(date +%s) - started)) s"
exit "$status"
