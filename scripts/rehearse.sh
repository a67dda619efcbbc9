#!/usr/bin/env bash
# Builds zentavo-sim and rehearses a whole installation on the embedded
# default machine (Windows XP SP2) with the demo medium. Extra arguments go
# to zentavo-sim, e.g. --screens screens.txt or -- /l 1031. Standard output
# carries what zentavo-sim prints (the log) and nothing else: the package
# installation's lines go to standard error, the build's only when it fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh >&2
build_output=$(mktemp)
if ! { cmake --preset sim && cmake --build --preset sim -j2 --target zentavo-sim; } \
    >"$build_output" 2>&1; then
  cat "$build_output" >&2
  rm -f "$build_output"
  exit 1
fi
rm -f "$build_output"
exec build/sim/zentavo-sim "$@"
