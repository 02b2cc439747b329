#!/usr/bin/env bash
# Installs the Debian 12 packages Vornic needs to build and test. Safe to run again.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    libcli11-dev nlohmann-json3-dev
    clang clang-format libclang-rt-14-dev
    procps
    # The desktop program (Qt 6 Widgets), its fonts and platform plugins, and the Debian package
    qt6-base-dev qt6-qpa-plugins fonts-dejavu-core dpkg-dev file
)

# ---- Windows cross build: `scripts/install-deps.sh windows` adds mingw-w64 and Wine ----
if [ "${1:-}" = "windows" ]; then
    packages+=(g++-mingw-w64-x86-64-posix wine wine64 fonts-wine xvfb xauth)
fi
# ---- end of the Windows block ----

# ---- Windows dialogs under Wine (scripts/windows-ui.sh): PNG screenshots need ImageMagick ----
if [ "${1:-}" = "windows" ]; then
    packages+=(imagemagick)
fi
# ---- end of the Windows dialogs block ----

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
