#!/usr/bin/env bash
# Installs the Debian 12 packages Vornic needs. Safe to run again.
#
#   scripts/install-deps.sh run       what building and running the three programs needs
#   scripts/install-deps.sh [test]    and the tests, sanitizers, fuzzing, benchmarks and packaging
#   scripts/install-deps.sh windows   and the Windows cross build, Wine and the dialogs' screenshots
set -euo pipefail

group="${1:-test}"

# The programs: the command line's header-only libraries, Qt 6 Widgets with its platform plugins,
# and a font for the window.
packages=(
    build-essential cmake ninja-build pkg-config
    libcli11-dev nlohmann-json3-dev
    qt6-base-dev qt6-qpa-plugins fonts-dejavu-core
)
case "$group" in
    run) ;;
    test | windows)
        packages+=(
            git procps
            googletest libgtest-dev libgmock-dev libbenchmark-dev
            clang clang-format libclang-rt-14-dev
            # The Debian package: its dependencies are worked out with dpkg-shlibdeps, and its
            # desktop entry and manual pages are checked with desktop-file-validate and man.
            dpkg-dev file desktop-file-utils man-db
        )
        if [ "$group" = windows ]; then
            # mingw-w64 and Wine on a virtual X server; the dialogs' screenshots need ImageMagick.
            packages+=(g++-mingw-w64-x86-64-posix wine wine64 fonts-wine xvfb xauth imagemagick)
        fi
        ;;
    *)
        echo "usage: $0 [run|test|windows]" >&2
        exit 2
        ;;
esac

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
