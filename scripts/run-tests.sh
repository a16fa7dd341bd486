#!/usr/bin/env bash
# Runs the test suite of one build folder with ctest (extra arguments go to ctest): test.sh's
# for build/, scripts/cross-build.sh's for build-arm64/.
#
# The run gets a folder of its own in /tmp, removed at the end: the tests make their scratch
# folders in its tmp/ (as TMPDIR), and where no login session gave Qt a runtime directory (root
# after su, CI) Qt's goes into its runtime/. Anything a test leaves in tmp/ is named at the end
# and fails the run, and the folder is kept; so does an X server's socket or lock file left in
# /tmp.
set -euo pipefail
if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD-DIR [CTEST-ARGUMENTS...]" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
shift
run=$(mktemp -d "${TMPDIR:-/tmp}/lumenvale-tests-XXXXXX")
trap 'rm -rf "$run"' EXIT
# The tests that drop root's rights to an ordinary user's must still reach their folders.
chmod 0755 "$run"
mkdir "$run/tmp"
mkdir -m 0700 "$run/runtime"
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR="$run/runtime"
fi
# The Python tests' imports leave no compiled copies in the source tree.
export PYTHONDONTWRITEBYTECODE=1
# The X servers the end-to-end tests start must take their sockets and lock files with them.
x_files() {
    ls -A /tmp/.X11-unix 2>/dev/null
    ls -d /tmp/.X*-lock 2>/dev/null || true
}
x_before=$(x_files)
status=0
TMPDIR="$run/tmp" ctest --test-dir "$build" --output-on-failure --timeout 300 "$@" || status=$?
# With ctest's --repeat a test that failed and then passed leaves the folder its failed try kept
# (named in that try's message): named here, not a failure of a run whose tests all passed.
retried=0
for argument in "$@"; do
    [ "$argument" = --repeat ] && retried=1
done
left=$(ls -A "$run/tmp")
if [ -n "$left" ]; then
    trap - EXIT
    echo "The tests left these behind in $run/tmp:"
    echo "$left"
    if [ "$status" -eq 0 ] && [ "$retried" -eq 1 ]; then
        echo "(every test passed: a try that failed before passing kept them)"
    elif [ "$status" -eq 0 ]; then
        status=1
    fi
fi
x_left=$(comm -13 <(sort <<<"$x_before") <(x_files | sort))
if [ -n "$x_left" ]; then
    echo "The tests left these X server files behind in /tmp (from /tmp/.X11-unix and locks):"
    echo "$x_left"
    if [ "$status" -eq 0 ]; then
        status=1
    fi
fi
exit "$status"
