# Cross-building for 64-bit ARM (a Raspberry Pi on a 64-bit system) with Debian's cross compiler
# against an arm64 sysroot, as scripts/cross-build.sh makes it. Qt's host tools (moc, rcc, uic)
# come from the build machine's own Qt; tests run under qemu-user with the sysroot's libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(LUMENVALE_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build-arm64/sysroot"
    CACHE PATH "The arm64 root the program is built against")
get_filename_component(LUMENVALE_SYSROOT "${LUMENVALE_SYSROOT}" ABSOLUTE)
set(CMAKE_SYSROOT "${LUMENVALE_SYSROOT}")
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the sysroot's .pc files and prefixes their paths with it.
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${CMAKE_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR}
    "${CMAKE_SYSROOT}/usr/lib/aarch64-linux-gnu/pkgconfig:${CMAKE_SYSROOT}/usr/share/pkgconfig")

set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

# Test programs run under qemu, with the sysroot as the root of the libraries they load. Qt's
# plugins are named outright: under qemu Qt does not find them by the path it was built with.
set(CMAKE_CROSSCOMPILING_EMULATOR
    qemu-aarch64-static -L "${CMAKE_SYSROOT}"
    -E "QT_PLUGIN_PATH=${CMAKE_SYSROOT}/usr/lib/aarch64-linux-gnu/qt6/plugins")
