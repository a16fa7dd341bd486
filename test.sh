#!/usr/bin/env bash
# Installs what the tests need (only what is missing), builds everything in build/ and runs the
# whole test suite (extra arguments go to ctest) with scripts/run-tests.sh, which says what a run
# may leave behind.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$top/scripts/setup.sh" test
exec "$top/scripts/run-tests.sh" "$top/build" "$@"
