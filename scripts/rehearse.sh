#!/usr/bin/env bash
# Builds zentavo-sim and rehearses a whole installation on the embedded
# default machine (Windows XP SP2) with the demo medium. Extra arguments go
# to zentavo-sim, e.g. --screens screens.txt or -- /l 1031.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset sim >/dev/null
cmake --build --preset sim -j2 --target zentavo-sim
exec build/sim/zentavo-sim "$@"
