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

echo "== building kz2-sim, vornic-cli (Linux) and vornic.exe, vornic-selftest.exe (Windows)"
[ -f build/default/CMakeCache.txt ] || nice cmake --preset default >/dev/null
nice cmake --build build/default --target kz2-sim vornic-cli -j2
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
lost_pid=""
finish() {
    [ -n "$lost_pid" ] && kill "$lost_pid" 2>/dev/null && wait "$lost_pid" 2>/dev/null
    wine_teardown
}
trap finish EXIT

echo "== Wine prefix, kz2-sim on a pseudo-terminal as COM5"
wine_setup
work="$WINE_WORK"
wine_sim_start --level 6 --trace
trace="$work/sim.err"  # the simulator's trace
# The screen's pixels per inch, read by each program as it starts.
set_dpi() {
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
        >>"$WINE_LOG" 2>&1
    wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
        /v LogPixels /t REG_DWORD /d "$1" /f >>"$WINE_LOG" 2>&1
}

# The line lost mid-session: a second kz2-sim as COM6 hangs up after the connection's seven
# requests and one more. It serves one run, so only the first scale's run uses it.
build/default/sim/kz2-sim --level 6 --fault hangup-after=8 >"$work/lost.out" 2>"$work/lost.err" &
lost_pid=$!
for _ in $(seq 50); do [ -s "$work/lost.out" ] && break; sleep 0.1; done
lost_pty="$(head -n1 "$work/lost.out")"
[ -n "$lost_pty" ] || { echo "windows-ui: the second kz2-sim did not start" >&2; exit 1; }
wine reg add 'HKLM\Software\Wine\Ports' /v COM6 /d "$lost_pty" /f >>"$WINE_LOG" 2>&1
wine_server_persist  # the server reads the port mapping as it starts

status=0
for scale in 100 150 200; do
    echo "== vornic-selftest.exe at $scale %"
    folder="$shots"
    lost=(--lost-port 6)
    [ "$scale" -eq 100 ] || { folder="$shots/$scale"; lost=(); }
    mkdir -p "$folder"
    set_dpi $((96 * scale / 100))
    # A fresh stand-in for %LOCALAPPDATA%: the snapshots of this run, its backup and the files
    # it restores from.
    data="$work/appdata-$scale"
    mkdir -p "$data"
    timeout 300 wine "$exe_dir/vornic-selftest.exe" --port 5 --trace "Z:$trace" \
        --shots "Z:$folder" --data "Z:$data" "${lost[@]}" || status=1
    # The backup the window wrote and the snapshot it undid to both hold what the controller
    # holds, in the command line's own judgement.
    for file in backup.json snapshot.json; do
        if [ -f "$data/$file" ] &&
            build/default/cli/vornic-cli --port "$SIM_PTY" diff "$data/$file" >"$data/diff.out" 2>&1 &&
            grep -q "^No differences\.$" "$data/diff.out"; then
            echo "ok   vornic-cli diff $file: No differences."
        else
            echo "FAIL vornic-cli diff $file: $(tail -n 3 "$data/diff.out" 2>/dev/null)"
            status=1
        fi
    done
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
    tail -n 40 "$trace" >&2
fi
echo "== Windows dialogs done in $(($(date +%s) - started)) s"
exit "$status"
