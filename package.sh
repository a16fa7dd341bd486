#!/usr/bin/env bash
# Installs every package the project uses (only those missing), builds Lumenvale for Release in
# build-release/ with Debian's build flags and makes the Debian packages there,
# lumenvale_<version>_amd64.deb and lumenvale-indi_<version>_amd64.deb.
# Extra arguments go to CMake's configure step (CI adds -DLUMENVALE_WERROR=ON).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$top/scripts/setup.sh" package
cd "$top"
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CXXFLAGS="$CXXFLAGS $CPPFLAGS"
cmake --preset release "$@"
cmake --build --preset release
rm -f build-release/*.deb
cpack --preset release
