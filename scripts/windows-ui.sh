#!/usr/bin/env bash
# Builds vornic.exe (static, for Windows) and drives its real dialogs under Wine on a virtual X
# server: vornic-selftest.exe connects over COM5, which Wine maps to the pseudo-terminal of a
# kz2-sim, and checks the dialogs through window messages against the simulator's trace, at 100 %
# and again at 150 % and 200 % (Wine's LogPixels). Leaves vornic.exe in build/windows/desktop/win32/
# and a PNG of every dialog in build/windows/screenshots/ (100 %), .../150/ and .../200/.
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

work="$(mktemp -d "${TMPDIR:-/tmp}/vornic-ui.XXXXXX")"
sim_pid=""
lost_pid=""
xvfb_pid=""
# shellcheck source=scripts/wine-env.sh
. scripts/wine-env.sh
finish() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    [ -n "$lost_pid" ] && kill "$lost_pid" 2>/dev/null && wait "$lost_pid" 2>/dev/null
    wine_prefix_end
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
    true
}
trap finish EXIT

# A virtual X server on a free display number.
exec 9>"$work/display"
Xvfb -displayfd 9 -screen 0 2400x1800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"

echo "== Wine prefix"
# Now and then a fresh prefix comes up without its system DLLs ("could not load kernel32.dll");
# a second one does.
if ! wine_prefix_begin; then
    echo "windows-ui: the Wine prefix failed to start ($(tail -n1 "$WINE_LOG")); again" >&2
    wine_prefix_end
    wine_prefix_begin
fi
# Room for the main dialog at 200 %.
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 2300x1700 /f >>"$WINE_LOG" 2>&1
# The screen's pixels per inch, read by each program as it starts.
set_dpi() {
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
        >>"$WINE_LOG" 2>&1
    wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
        /v LogPixels /t REG_DWORD /d "$1" /f >>"$WINE_LOG" 2>&1
}

echo "== kz2-sim on a pseudo-terminal as COM5"
build/default/sim/kz2-sim --level 6 --trace >"$work/sim.out" 2>"$work/trace.log" &
sim_pid=$!
for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
pty="$(head -n1 "$work/sim.out")"
[ -n "$pty" ] || { echo "windows-ui: kz2-sim did not start" >&2; exit 1; }
wine_map_port COM5 "$pty"

# The line lost mid-session: a second kz2-sim as COM6 hangs up after the connection's seven
# requests and one more. It serves one run, so only the first scale's run uses it.
build/default/sim/kz2-sim --level 6 --fault hangup-after=8 >"$work/lost.out" 2>"$work/lost.err" &
lost_pid=$!
for _ in $(seq 50); do [ -s "$work/lost.out" ] && break; sleep 0.1; done
lost_pty="$(head -n1 "$work/lost.out")"
[ -n "$lost_pty" ] || { echo "windows-ui: the second kz2-sim did not start" >&2; exit 1; }
wine_map_port COM6 "$lost_pty"

status=0
for scale in 100 150 200; do
    echo "== vornic-selftest.exe at $scale %"
    folder="$shots"
    lost=(--lost-port 6)
    [ "$scale" -eq 100 ] || { folder="$shots/$scale"; lost=(); }
    mkdir -p "$folder"
    set_dpi $((96 * scale / 100))
    timeout 240 wine "$exe_dir/vornic-selftest.exe" --port 5 --trace "Z:$work/trace.log" \
        --shots "Z:$folder" "${lost[@]}" || status=1
done
set_dpi 96
echo "== vornic.exe itself: starts, shows its dialog, ends on the close box"
exe_status=0
wine "$exe_dir/vornic.exe" &
exe_pid=$!
timeout 60 wine "$exe_dir/vornic-selftest.exe" --check-running "Z:$shots" || status=1
timeout 20 tail --pid="$exe_pid" -f /dev/null || { kill "$exe_pid"; status=1; }
wait "$exe_pid" || exe_status=$?
[ "$exe_status" -eq 0 ] || { echo "windows-ui: vornic.exe ended with status $exe_status" >&2; status=1; }

for bmp in "$shots"/*.bmp "$shots"/*/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "screenshots: $(cd "$shots" && find . -name '*.png' | sort | tr '\n' ' ')"
if [ "$status" -ne 0 ]; then
    echo "windows-ui: the self-test failed (status $status); the simulator's trace:" >&2
    tail -n 40 "$work/trace.log" >&2
fi
echo "== Windows dialogs done in $(($(date +%s) - started)) s"
exit "$status"
