#!/usr/bin/env bash
# Checks the Debian packages made by package.sh: lintian finds no error, the desktop entry and
# the metainfo validate, the lumenvale package holds what a user needs, every binary's libraries
# resolve once unpacked, and the packaged lumenvale-frames answers a bare call with its usage.
# Usage: packaging/check.sh [--sysroot DIR] PACKAGE.deb...
# Packages for another machine (scripts/cross-build.sh's arm64 ones) are checked with --sysroot:
# their programs' libraries must resolve in that root, and lumenvale-frames runs under qemu.
set -euo pipefail
sysroot=
if [ "${1:-}" = --sysroot ]; then
    sysroot=$(cd "$2" && pwd)
    shift 2
fi
if [ $# -eq 0 ]; then
    echo "usage: packaging/check.sh [--sysroot DIR] PACKAGE.deb..." >&2
    exit 2
fi
# How a packaged program is run, and how its libraries are listed.
run=()
list_libraries=(ldd)
if [ -n "$sysroot" ]; then
    run=(qemu-aarch64-static -L "$sysroot")
    list_libraries=("${run[@]}" "$sysroot/lib/ld-linux-aarch64.so.1" --list)
fi

fail() {
    echo "package check failed: $*" >&2
    exit 1
}

# The unpacked packages, and lintian's own scratch files, which it would otherwise leave in /tmp.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
root="$scratch/root"
mkdir "$root" "$scratch/tmp"

for deb in "$@"; do
    echo "lintian $deb"
    status=0
    report=$(TMPDIR="$scratch/tmp" lintian --fail-on error "$deb" 2>&1) || status=$?
    grep -v '^running with root privileges' <<<"$report" || true
    [ "$status" -eq 0 ] || fail "lintian reports an error in $deb"
    dpkg-deb -x "$deb" "$root"
done

for file in usr/bin/lumenvale usr/bin/lumenvale-frames \
    usr/share/applications/org.lumenvale.Lumenvale.desktop \
    usr/share/metainfo/org.lumenvale.Lumenvale.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/org.lumenvale.Lumenvale.svg \
    usr/share/icons/hicolor/48x48/apps/org.lumenvale.Lumenvale.png \
    usr/share/icons/hicolor/128x128/apps/org.lumenvale.Lumenvale.png \
    usr/share/man/man1/lumenvale.1.gz usr/share/man/man1/lumenvale-frames.1.gz \
    usr/lib/udev/rules.d/60-lumenvale.rules; do
    [ -s "$root/$file" ] || fail "/$file is not in the packages"
done

# The INDI driver's package, when it was made.
if [ -e "$root/usr/bin/indi_lumenvale_ccd" ]; then
    for file in usr/share/indi/indi_lumenvale.xml usr/share/man/man1/indi_lumenvale_ccd.1.gz \
        usr/share/doc/lumenvale-indi/copyright; do
        [ -s "$root/$file" ] || fail "/$file is not in the lumenvale-indi package"
    done
    grep -q 'indi_lumenvale_ccd' "$root/usr/share/indi/indi_lumenvale.xml" ||
        fail "indi_lumenvale.xml does not name the driver"
fi

for entry in "$root"/usr/share/applications/*.desktop; do
    desktop-file-validate "$entry" || fail "desktop-file-validate: $entry"
done
for info in "$root"/usr/share/metainfo/*.xml; do
    appstreamcli validate --no-net "$info" || fail "appstreamcli validate: $info"
done

while IFS= read -r -d '' file; do
    if file -b "$file" | grep -q '^ELF'; then
        missing=$("${list_libraries[@]}" "$file" | grep 'not found' || true)
        [ -z "$missing" ] || fail "${file#"$root"}: $missing"
        echo "libraries resolve: ${file#"$root"}"
    fi
done < <(find "$root" -type f -perm -u+x -print0)

status=0
usage=$("${run[@]}" "$root/usr/bin/lumenvale-frames" 2>&1 >/dev/null) || status=$?
[ "$status" -eq 2 ] || fail "lumenvale-frames without arguments exits $status, not 2"
case "$usage" in
    "usage: lumenvale-frames "*) ;;
    *) fail "lumenvale-frames without arguments says: $usage" ;;
esac
echo "Packages are sound: $*"
