#!/usr/bin/env bash
# Installs what building and running Lumenvale needs (only what is missing), builds the program,
# the frames tool and the INDI driver in build-run/ and starts Lumenvale in the current directory.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$top/scripts/setup.sh" run
exec "$top/build-run/src/app/lumenvale"
