#!/usr/bin/env bash
# The Windows build: cross-compiled with mingw-w64, its tests run under Wine by CTest, and
# vornic-cli.exe checked end to end against kz2-sim on a COM port that Wine maps to the
# simulator's pseudo-terminal; its output must match the Linux build's.
#
#   scripts/windows.sh [--dialogs]   --dialogs: then scripts/windows-ui.sh in the same Wine prefix
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

scripts/install-deps.sh windows
started=$(date +%s)

echo "== Windows cross build"
nice cmake --preset windows >/dev/null
nice cmake --build --preset windows -j2

echo "== Linux kz2-sim and vornic-cli, for the comparison"
if [ ! -f build/default/CMakeCache.txt ]; then
    nice cmake --preset default >/dev/null
fi
nice cmake --build build/default -j2 --target kz2-sim vornic-cli

# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
trap wine_teardown EXIT

echo "== Wine prefix, kz2-sim on COM5"
wine_setup
work="$WINE_WORK"
wine_sim_start --level 6 --state "$work/state.json"
pty="$SIM_PTY"

echo "== Windows tests under Wine"
export VORNIC_TEST_COM_PORT=COM5
# One CTest case per test program; only the platform tests use the simulator's line.
ctest --preset windows

echo "== vornic-cli.exe end to end against kz2-sim on COM5"
cli_exe="build/windows/cli/vornic-cli.exe"
cli_linux="build/default/cli/vornic-cli"
compare() {  # name, then the command's arguments after the port
    local name="$1"
    shift
    wine "$cli_exe" --port COM5 "$@" >"$work/$name.windows" 2>"$work/$name.windows.err" || {
        echo "vornic-cli.exe $*: failed: $(cat "$work/$name.windows.err")" >&2
        exit 1
    }
    "$cli_linux" --port "$pty" "$@" >"$work/$name.linux" 2>"$work/$name.linux.err"
    if ! diff -u "$work/$name.linux" "$work/$name.windows"; then
        echo "vornic-cli.exe $*: output differs from the Linux build's" >&2
        exit 1
    fi
    echo "$name: same output ($(wc -l <"$work/$name.windows") lines)"
}
compare info info
compare info-json --json info
wine "$cli_exe" --port 5 voltage >"$work/voltage" || { echo "--port 5 failed" >&2; exit 1; }

# Backups: the same document but for the date; and restoring one sends nothing when all agree.
wine "$cli_exe" --port COM5 backup "Z:$work/windows.json" >/dev/null
"$cli_linux" --port "$pty" backup "$work/linux.json" >/dev/null
if ! diff -u <(grep -v '"date"' "$work/linux.json") <(grep -v '"date"' "$work/windows.json"); then
    echo "vornic-cli.exe backup differs from the Linux build's" >&2
    exit 1
fi
echo "backup: same document"
wine "$cli_exe" --port COM5 diff "Z:$work/linux.json" >"$work/diff.out"

# Paths beyond ASCII reach the file system whole (Wine hands the arguments over as UTF-8 only in
# a UTF-8 locale); a folder that is not there is named before any port is opened.
unicode_dir="$WINEPREFIX/drive_c/users/Jürgen/日本"
mkdir -p "$unicode_dir"
LC_ALL=C.UTF-8 wine "$cli_exe" --port COM5 backup 'C:\users\Jürgen\日本\b.json' >/dev/null
LC_ALL=C.UTF-8 wine "$cli_exe" --port COM5 diff 'C:\users\Jürgen\日本\b.json' >"$work/unicode.out"
if [ ! -s "$unicode_dir/b.json" ] || ! grep -q "No differences" "$work/unicode.out"; then
    echo "vornic-cli.exe: no backup, or no diff, under C:\users\Jürgen\日本" >&2
    exit 1
fi
status=0
LC_ALL=C.UTF-8 wine "$cli_exe" --port COM231 backup 'C:\users\Jürgen\nirgends\b.json' \
    >/dev/null 2>"$work/unicode.err" || status=$?
if [ "$status" -eq 0 ] || grep -q "COM231" "$work/unicode.err"; then
    echo "vornic-cli.exe: a missing folder must be refused before connecting: $(cat "$work/unicode.err")" >&2
    exit 1
fi
echo "Unicode paths: backup and diff under C:\users\Jürgen\日本; missing folder: $(cat "$work/unicode.err")"

# Without a pseudo-terminal there is no built-in simulator: a clear error, status 1.
status=0
wine "$cli_exe" --simulate info >/dev/null 2>"$work/simulate.err" || status=$?
if [ "$status" -ne 1 ] || ! grep -q "not available on Windows" "$work/simulate.err"; then
    echo "vornic-cli.exe --simulate: expected status 1 and a clear error, got $status" >&2
    exit 1
fi

echo "ports listed by vornic-cli.exe:"
wine "$cli_exe" ports

echo "== the zip for Windows users"
(cd build/windows && nice cpack -G ZIP >"$work/cpack.log") || {
    echo "cpack failed: $(tail -n 5 "$work/cpack.log")" >&2
    exit 1
}
zip="$(ls build/windows/vornic-*-win64.zip)"
listing="$(python3 -m zipfile -l "$zip")"
echo "$listing"
for file in vornic.exe vornic-cli.exe README.txt COPYRIGHT.txt; do
    if ! grep -q "/$file " <<<"$listing"; then
        echo "$zip: $file missing" >&2
        exit 1
    fi
done

echo "== sizes"
for file in build/windows/desktop/win32/vornic.exe build/windows/cli/vornic-cli.exe "$zip"; do
    echo "$file: $(stat -c %s "$file") bytes"
done
echo "== Windows build done in $(($(date +%s) - started)) s"

if [ "${1:-}" = "--dialogs" ]; then
    scripts/windows-ui.sh  # in this Wine set-up (wine_setup exported it)
fi
