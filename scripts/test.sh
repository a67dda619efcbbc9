#!/usr/bin/env bash
# Builds the simulation with its tests and runs them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset sim
cmake --build --preset sim -j2
ctest --preset sim
