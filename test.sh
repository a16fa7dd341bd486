#!/usr/bin/env bash
# Installs what the tests need (only what is missing), builds everything in build/ and runs the
# whole test suite (extra arguments go to ctest). The tests make their scratch folders in
# build/test-tmp/ (emptied first) instead of /tmp; anything a test leaves behind there is named
# at the end and fails the run.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# Without a login session (root after su, CI) Qt makes its runtime directory in the temporary
# directory, as runtime-<user>: the build's test listing and the tests get one under build/.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR="$top/build/test-runtime"
    mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
fi
"$top/scripts/setup.sh" test
cd "$top"
scratch="$top/build/test-tmp"
rm -rf "$scratch"
mkdir -p "$scratch"
status=0
TMPDIR="$scratch" ctest --test-dir build --output-on-failure --timeout 300 "$@" || status=$?
left=$(ls -A "$scratch")
if [ -n "$left" ]; then
    echo "The tests left these behind in $scratch:"
    echo "$left"
    if [ "$status" -eq 0 ]; then
        status=1
    fi
fi
exit "$status"
