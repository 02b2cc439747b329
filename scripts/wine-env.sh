# Sourced by scripts/windows.sh and scripts/windows-ui.sh: the one Wine set-up both run in.
#
#   wine_setup        a virtual X server and a fresh, quiet Wine prefix of our own; sets DISPLAY,
#                     WINEPREFIX, WINE_LOG and WINE_WORK (a scratch folder)
#   wine_sim_start    kz2-sim (build/default) on a pseudo-terminal that Wine maps to COM5; its
#                     arguments go to kz2-sim, its stdout and stderr to $WINE_WORK/sim.out and
#                     $WINE_WORK/sim.err; sets SIM_PTY
#   wine_teardown     ends all of it (call it from a trap)
#
# A set-up handed down by the caller (windows.sh --dialogs runs windows-ui.sh in its own) is used
# as it is and left to its owner: wine_setup exports VORNIC_WINE_SHARED for that.

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

WINE_OWNED=""
WINE_XVFB_PID=""
SIM_PID=""

wine_setup() {
    WINE_WORK="$(mktemp -d "${TMPDIR:-/tmp}/vornic-wine-work.XXXXXX")"
    export WINE_WORK
    if [ -n "${VORNIC_WINE_SHARED:-}" ] && [ -d "${WINEPREFIX:-}/drive_c" ] && [ -n "${DISPLAY:-}" ]
    then
        return 0
    fi
    WINE_OWNED=1

    # A virtual X server on a free display number: the dialogs need one, and wineboot wants one
    # on some set-ups.
    exec 9>"$WINE_WORK/display"
    Xvfb -displayfd 9 -screen 0 2400x1800x24 -nolisten tcp >"$WINE_WORK/xvfb.log" 2>&1 &
    WINE_XVFB_PID=$!
    exec 9>&-
    for _ in $(seq 50); do [ -s "$WINE_WORK/display" ] && break; sleep 0.1; done
    [ -s "$WINE_WORK/display" ] || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=":$(head -n1 "$WINE_WORK/display")"

    # Now and then a fresh prefix comes up without its system DLLs ("could not load
    # kernel32.dll"); a second one does.
    if ! wine_prefix_begin; then
        echo "the Wine prefix failed to start ($(tail -n1 "$WINE_LOG")); again" >&2
        wine_prefix_end
        wine_prefix_begin
    fi
    export VORNIC_WINE_SHARED=1
}

wine_prefix_begin() {
    WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/vornic-wine.XXXXXX")"
    WINE_LOG="$WINE_WORK/wine.log"
    export WINEPREFIX WINE_LOG
    wineboot -i >>"$WINE_LOG" 2>&1
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    # A virtual desktop, so that closing a window does not wait for a window manager; large
    # enough for the main dialog at 200 %.
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >>"$WINE_LOG" 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 2300x1700 /f \
        >>"$WINE_LOG" 2>&1
}

wine_prefix_end() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        wineserver -k >>"$WINE_LOG" 2>&1 || true
        wineserver -w >>"$WINE_LOG" 2>&1 || true
        rm -rf "$WINEPREFIX"
    fi
}

wine_sim_start() {
    build/default/sim/kz2-sim "$@" >"$WINE_WORK/sim.out" 2>"$WINE_WORK/sim.err" &
    SIM_PID=$!
    for _ in $(seq 50); do [ -s "$WINE_WORK/sim.out" ] && break; sleep 0.1; done
    SIM_PTY="$(head -n1 "$WINE_WORK/sim.out")"
    if [ -z "$SIM_PTY" ] || [ ! -e "$SIM_PTY" ]; then
        echo "kz2-sim did not start: $(tail -n 5 "$WINE_WORK/sim.err")" >&2
        return 1
    fi
    wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$SIM_PTY" /f >>"$WINE_LOG" 2>&1
    wine_server_persist
}

# The server is restarted to read the port mapping again. From here one persistent server serves
# every program: a server that ends on its own a few seconds after the last program races with the
# next one starting ("recvmsg: Connection reset by peer"). Started here, its exit dump goes to the
# log rather than into the output. The first program under a server also starts Wine's own
# services and desktop, which live as long as the server and keep that program's output open: a
# throw-away program starts them here, writing to the log, so that a test's output ends when the
# test does (CTest waits for it).
wine_server_persist() {
    wineserver -k >>"$WINE_LOG" 2>&1 || true
    wineserver -w >>"$WINE_LOG" 2>&1 || true
    wineserver -p >>"$WINE_LOG" 2>&1
    wine cmd /c exit >>"$WINE_LOG" 2>&1 </dev/null
}

wine_teardown() {
    if [ -n "$SIM_PID" ]; then
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
    fi
    if [ -n "$WINE_OWNED" ]; then
        wine_prefix_end
        if [ -n "$WINE_XVFB_PID" ]; then
            kill "$WINE_XVFB_PID" 2>/dev/null || true
            wait "$WINE_XVFB_PID" 2>/dev/null || true
        fi
    fi
    [ -n "${WINE_WORK:-}" ] && rm -rf "$WINE_WORK"
    true
}
