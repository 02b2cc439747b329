#!/usr/bin/env bash
# Builds the Debian package (build/package/vornic_*.deb). With --install it then installs it on
# this machine with apt-get, which also pulls in its dependencies, and checks that the installed
# programs run. Without --install it only checks the package: its files, its dependencies (as apt
# would resolve them) and the programs unpacked into a scratch folder.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORNIC_BUILD_TESTS=OFF >/dev/null
cmake --build build/package -j "$(nproc)"
(cd build/package && rm -f vornic_*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$PWD"/build/package/vornic_*.deb)
echo "== $deb"
dpkg-deb --field "$deb" Package Version Depends
contents=$(dpkg-deb --contents "$deb")
for f in usr/bin/vornic usr/bin/vornic-cli usr/bin/kz2-sim usr/share/applications/vornic.desktop \
         usr/share/icons/hicolor/scalable/apps/vornic.svg; do
    grep -q " \./$f\$" <<<"$contents" || { echo "missing in the package: $f"; exit 1; }
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
if [ "${1:-}" = "--install" ]; then
    $SUDO apt-get install -y "$deb"
    vornic-cli --simulate info
    # Without a display the desktop program must say so, point to vornic-cli, and exit 1.
    status=0
    message=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM vornic 2>&1) || status=$?
    [ "$status" -eq 1 ] && grep -q vornic-cli <<<"$message" || {
        echo "vornic without a display: exit $status, said: $message"
        exit 1
    }
else
    apt-get install --simulate "$deb" >/dev/null
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    dpkg-deb -x "$deb" "$scratch"
    "$scratch/usr/bin/vornic-cli" --simulate info
fi
echo "== package ok"
