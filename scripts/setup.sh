#!/usr/bin/env bash
# Installs the Debian 12 packages Lumenvale needs (only those missing), then configures and
# builds it in build/ (not with --no-build). Run by run.sh, test.sh and package.sh.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-qpa-plugins libv4l-dev libjpeg-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev clang-format clang-tidy
    xvfb xauth xdotool python3
    libindi-dev indi-bin libcfitsio-dev
    libhidapi-dev libftdi1-dev libgpiod-dev
    dpkg-dev fakeroot file librsvg2-bin lintian desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo_cmd=(sudo)
    fi
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
fi

if [ "${1:-}" = --no-build ]; then
    exit 0
fi
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cmake --preset default -S "$top" >/dev/null
cmake --build "$top/build" --parallel "$(nproc)"
