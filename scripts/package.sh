#!/usr/bin/env bash
# Builds the Debian package (build/package/vornic_*.deb) from the default build (build/default;
# the programs are stripped in the package). With --install it then installs it on this machine
# with apt-get, which also pulls in its dependencies, and checks that the installed programs run.
# Without --install it only checks the package: its files, its metadata, its dependencies (as apt
# would resolve them) and the programs unpacked into a scratch folder.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target vornic vornic-cli kz2-sim vornic_package_files
rm -rf build/package
cpack --config build/default/CPackConfig.cmake -B build/package -G DEB >/dev/null
deb=$(ls "$PWD"/build/package/vornic_*.deb)
echo "== $deb"
dpkg-deb --field "$deb" Package Version Depends
contents=$(dpkg-deb --contents "$deb")
for f in usr/bin/vornic usr/bin/vornic-cli usr/bin/kz2-sim usr/share/applications/vornic.desktop \
         usr/share/icons/hicolor/scalable/apps/vornic.svg usr/share/man/man1/vornic.1.gz \
         usr/share/man/man1/vornic-cli.1.gz usr/share/man/man1/kz2-sim.1.gz \
         usr/share/doc/vornic/copyright usr/share/doc/vornic/changelog.Debian.gz; do
    grep -q " \./$f\$" <<<"$contents" || { echo "missing in the package: $f"; exit 1; }
done

# The metadata: a description without list separators, a desktop entry without even a hint, a
# machine-readable copyright and a changelog whose latest entry is this version.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch"
if dpkg-deb --field "$deb" Description | grep -q ';'; then
    echo "the package description has a list separator in it:" >&2
    dpkg-deb --field "$deb" Description >&2
    exit 1
fi
validation=$(desktop-file-validate "$scratch/usr/share/applications/vornic.desktop" 2>&1) || true
[ -z "$validation" ] || { echo "desktop entry: $validation" >&2; exit 1; }
head -n 1 "$scratch/usr/share/doc/vornic/copyright" |
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    { echo "usr/share/doc/vornic/copyright is not in the machine-readable format" >&2; exit 1; }
version=$(dpkg-deb --field "$deb" Version)
zcat "$scratch/usr/share/doc/vornic/changelog.Debian.gz" | head -n 1 |
    grep -q "^vornic ($version) " ||
    { echo "the changelog's latest entry is not version $version" >&2; exit 1; }
for page in vornic vornic-cli kz2-sim; do
    # Each page renders without a warning and carries the program's options.
    warnings=$(MANWIDTH=100 man --warnings -l "$scratch/usr/share/man/man1/$page.1.gz" 2>&1 \
        >"$scratch/$page.txt") || true
    [ -z "$warnings" ] || { echo "man $page: $warnings" >&2; exit 1; }
    grep -q -- "--version" "$scratch/$page.txt" || { echo "man $page: no options" >&2; exit 1; }
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
    for program in vornic vornic-cli kz2-sim; do
        [ "$($program --version)" = "$program $version" ] ||
            { echo "$program --version does not say $version" >&2; exit 1; }
    done
else
    apt-get install --simulate "$deb" >/dev/null
    "$scratch/usr/bin/vornic-cli" --simulate info
fi
echo "== package ok"
