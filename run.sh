#!/usr/bin/env bash
# Sets everything up (packages, build) and starts Lumenvale in the current directory.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$top/scripts/setup.sh"
exec "$top/build/src/app/lumenvale"
