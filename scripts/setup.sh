#!/usr/bin/env bash
# Installs the Debian packages of one set (only those missing), then builds for it. Debian 12
# (bookworm) and 13 (trixie), and the distributions built on them, such as Raspberry Pi OS.
#
#   scripts/setup.sh run       building and running the program; builds the program, the frames
#                              tool and the INDI driver in build-run/ (no tests, no benchmarks)
#   scripts/setup.sh test      that, plus the tests and benchmarks; builds everything in build/
#   scripts/setup.sh package   that, plus making and checking the Debian packages and the
#                              source checks (clang-format, clang-tidy, the fuzzers); no build
#   scripts/setup.sh cross     that, plus what scripts/cross-build.sh needs; no build
#
# With --no-build after the set it only installs; with --list it prints the set's packages, one
# a line, and does nothing else. Run by run.sh, test.sh, package.sh, .ci/run and
# scripts/cross-build.sh. As root it installs with apt-get; as anyone else through sudo.
set -euo pipefail

# Every name below is the same in Debian 12 and 13 (libclang-rt-dev is the default clang's
# runtime in both), so one list serves both releases.
run_set=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-qpa-plugins libv4l-dev
    libindi-dev indi-bin libcfitsio-dev
    libopencv-imgproc-dev libeigen3-dev
    libhidapi-dev libftdi1-dev libgpiod-dev
)
test_set=(
    libjpeg-dev googletest libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth xdotool python3
)
package_set=(
    clang libclang-rt-dev clang-format clang-tidy
    dpkg-dev fakeroot file librsvg2-bin lintian desktop-file-utils appstream
)
# Building for arm64 on this machine: the cross compiler, qemu-user to run the tests, mmdebstrap
# for the arm64 root the build links against.
cross_set=(g++-aarch64-linux-gnu qemu-user-static mmdebstrap)

case "${1:-}" in
run) packages=("${run_set[@]}") preset=run ;;
test) packages=("${run_set[@]}" "${test_set[@]}") preset=default ;;
package) packages=("${run_set[@]}" "${test_set[@]}" "${package_set[@]}") preset= ;;
cross) packages=("${run_set[@]}" "${test_set[@]}" "${package_set[@]}" "${cross_set[@]}") preset= ;;
*)
    echo "usage: $0 run|test|package|cross [--no-build|--list]" >&2
    exit 2
    ;;
esac

if [ "${2:-}" = --list ]; then
    printf '%s\n' "${packages[@]}"
    exit 0
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            echo "Installing packages needs root, and sudo is not installed here." >&2
            echo "Run the same command as root (su -, then cd back here), or install sudo." >&2
            exit 1
        fi
        # sudo asks for the user's password; a user it does not let in is told so, not left
        # with apt-get's failure.
        if ! sudo -v; then
            echo "sudo does not let $(id -un) install packages here." >&2
            echo "Run the same command as root (su -, then cd back here), or ask for sudo." >&2
            exit 1
        fi
        as_root=(sudo)
    fi
    "${as_root[@]}" apt-get update -qq
    # sudo passes no environment on: the setting goes through env.
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends "${missing[@]}"
fi

if [ -z "$preset" ] || [ "${2:-}" = --no-build ]; then
    exit 0
fi
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --parallel "$(nproc)"
