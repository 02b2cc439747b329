# Sourced by scripts/windows.sh and scripts/windows-ui.sh: a fresh, quiet Wine prefix of our own
# for the Windows tests. Sets WINEPREFIX and friends; wine_prefix_end must be called (trap) to stop
# the wine server. A prefix handed down in VORNIC_WINE_PREFIX (windows.sh --dialogs passes its own
# to windows-ui.sh) is used as it is and left to its owner, so that one set-up serves both.

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

wine_prefix_begin() {
    if [ -n "${VORNIC_WINE_PREFIX:-}" ] && [ -d "$VORNIC_WINE_PREFIX/drive_c" ]; then
        WINEPREFIX="$VORNIC_WINE_PREFIX"
        WINE_LOG="$WINEPREFIX.log"
        WINE_PREFIX_BORROWED=1
        export WINEPREFIX WINE_LOG
        return 0
    fi
    WINE_PREFIX_BORROWED=""
    WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/vornic-wine.XXXXXX")"
    export WINEPREFIX
    WINE_LOG="$WINEPREFIX.log"
    export WINE_LOG
    # No display is needed by the command-line programs; wineboot still wants one on some
    # set-ups, so it runs under a virtual X server when one is at hand.
    local runner=()
    if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
        runner=(xvfb-run -a)
    fi
    "${runner[@]}" wineboot -i >>"$WINE_LOG" 2>&1
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    # A virtual desktop, so that closing a window does not wait for a window manager.
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >>"$WINE_LOG" 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f \
        >>"$WINE_LOG" 2>&1
}

# Maps COMn to a device path (a pty of kz2-sim); the server is restarted to read it again, and
# stays up from then on.
wine_map_port() {
    wine reg add 'HKLM\Software\Wine\Ports' /v "$1" /d "$2" /f >>"$WINE_LOG" 2>&1
    wine_server_persist
}

# From here one persistent server serves every program: a server that ends on its own a few
# seconds after the last program races with the next one starting ("recvmsg: Connection reset by
# peer"). Started here, its exit dump goes to the log rather than into the output. The first
# program under a server also starts Wine's own services and desktop, which live as long as the
# server and keep that program's output open: a throw-away program starts them here, writing to
# the log, so that a test's output ends when the test does (CTest waits for it).
wine_server_persist() {
    wineserver -k >>"$WINE_LOG" 2>&1 || true
    wineserver -w >>"$WINE_LOG" 2>&1 || true
    wineserver -p >>"$WINE_LOG" 2>&1
    wine cmd /c exit >>"$WINE_LOG" 2>&1 </dev/null
}

wine_prefix_end() {
    if [ -n "${WINE_PREFIX_BORROWED:-}" ]; then
        return 0
    fi
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        wineserver -k >>"$WINE_LOG" 2>&1 || true
        wineserver -w >>"$WINE_LOG" 2>&1 || true
        rm -rf "$WINEPREFIX"
    fi
}
