#!/usr/bin/env bash
# Builds Lumenvale for 64-bit ARM (a Raspberry Pi with a 64-bit system) on this machine and runs
# the test suite under qemu-user:
#
#   scripts/cross-build.sh arm64 [CTEST-ARGUMENTS...]
#
# Installs what it needs (scripts/setup.sh cross), makes an arm64 root in build-arm64/sysroot
# from the run and test sets with mmdebstrap (unpacked only, nothing configured; made again when
# the sets change), builds the program, the frames tool, the INDI driver and the tests in
# build-arm64/ with Debian's cross compiler, makes the two Debian packages there
# (lumenvale_<version>_arm64.deb, lumenvale-indi_<version>_arm64.deb) with their Depends read
# from the arm64 libraries' own shlibs, checks them as packaging/check.sh checks the native ones,
# and runs ctest with every test program under qemu-aarch64-static (extra arguments go to
# ctest). Without binfmt_misc nothing runs an arm64 program by itself: CMake's emulator setting
# starts each one under qemu.
set -euo pipefail
if [ "${1:-}" != arm64 ]; then
    echo "usage: $0 arm64 [CTEST-ARGUMENTS...]" >&2
    exit 2
fi
shift
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$top/build-arm64
sysroot=$out/sysroot

"$top/scripts/setup.sh" cross

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi

# The arm64 root: the libraries of the run and test sets, their headers and the C++ runtime. The
# build machine's own tools (compiler, CMake, Xvfb, indiserver, Python) are not in it.
host_only='^(build-essential|cmake|ninja-build|pkg-config|indi-bin|xvfb|xauth|xdotool|python3)$'
mapfile -t libraries < <({
    "$top/scripts/setup.sh" test --list | grep -Ev "$host_only"
    echo libc6-dev
    echo "libstdc++-$(aarch64-linux-gnu-g++ -dumpversion | cut -d. -f1)-dev"
})
release=$(. /etc/os-release && echo "$VERSION_CODENAME")
wanted="$release ${libraries[*]}"
if [ "$(cat "$sysroot.made" 2>/dev/null)" != "$wanted" ]; then
    "${as_root[@]}" rm -rf "$sysroot" "$sysroot.made"
    mkdir -p "$out"
    mirror=http://deb.debian.org/debian
    echo "Making the arm64 root in $sysroot"
    # The downloaded packages stay in the root: their shlibs give the packages' Depends.
    "${as_root[@]}" mmdebstrap --quiet --variant=extract --architectures=arm64 \
        --skip=cleanup/apt/cache --include="$(
            IFS=,
            echo "${libraries[*]}"
        )" "$release" "$sysroot" "deb $mirror $release main" \
        "deb $mirror $release-updates main" \
        "deb http://deb.debian.org/debian-security $release-security main"
    # No device nodes: under qemu /dev must be the machine's own (a pseudo-terminal opened
    # through the root's /dev/ptmx would find no devpts beside it).
    "${as_root[@]}" rm -rf "$sysroot/dev"
    if [ "$(id -u)" -ne 0 ]; then
        "${as_root[@]}" chown -R "$(id -u):$(id -g)" "$sysroot"
    fi
    # Unpacked, no package ran its scripts: the libraries that update-alternatives would link
    # into place (BLAS and LAPACK, which OpenCV needs) are linked here.
    for library in "$sysroot"/usr/lib/aarch64-linux-gnu/{blas,lapack}/lib*.so.[0-9]; do
        link=$sysroot/usr/lib/aarch64-linux-gnu/$(basename "$library")
        [ -e "$link" ] || ln -s "${library#"$sysroot/usr/lib/aarch64-linux-gnu/"}" "$link"
    done
    echo "$wanted" >"$sysroot.made"
fi

# Release flags as Debian's packages are built for arm64, warnings as errors for our own code;
# the benchmarks are left out (they are measured on the machine they run on).
eval "$(DEB_HOST_ARCH=arm64 DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CXXFLAGS="$CXXFLAGS $CPPFLAGS"
cmake -S "$top" -B "$out" -G Ninja --toolchain "$top/cmake/aarch64-linux-gnu.cmake" \
    -DLUMENVALE_SYSROOT="$sysroot" -DCMAKE_BUILD_TYPE=Release -DLUMENVALE_WERROR=ON \
    -DLUMENVALE_BUILD_BENCH=OFF >/dev/null
cmake --build "$out" --parallel "$(nproc)"

# The packages, their Depends from the libraries each package's programs need.
depends() {
    local component=$1
    local files=()
    mapfile -t files < <(cmake --install "$out" --component "$component" \
        --prefix "$out/package-$component" | sed -n 's/^-- Installing: //p')
    python3 "$top/packaging/shlib-depends.py" "$sysroot" "${files[@]}"
}
program_depends=$(depends program)
indi_depends=$(depends indi)
rm -rf "$out/package-program" "$out/package-indi" "$out"/*.deb
(cd "$out" && cpack -G DEB --config CPackConfig.cmake \
    -D CPACK_DEBIAN_PACKAGE_ARCHITECTURE=arm64 -D CPACK_DEBIAN_PACKAGE_SHLIBDEPS=OFF \
    -D "CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS=$program_depends" \
    -D "CPACK_DEBIAN_INDI_PACKAGE_DEPENDS=$indi_depends")
"$top/packaging/check.sh" --sysroot "$sysroot" "$out"/*.deb

# The tests, as test.sh runs them natively. Under emulation a program runs several times slower
# than on the machine itself, and translates each piece of code the first time it runs (the INDI
# driver's first exposure reads some 6 ms long), so a test that fails gets two more tries. The
# two that judge an exposure to a few per cent from the emulated webcam's pixels are left to the
# native runs: under qemu the work done while the exposure is timed (the whole program's, or the
# webcam test's own wait, which handles the stream's events meanwhile) lengthens it by 40 to
# 125 ms.
exec "$top/scripts/run-tests.sh" "$out" --repeat until-pass:3 \
    -E '^(e2e_webcam_session|RealWebcamTest\.OnTheEmulatedWebcam)$' "$@"
