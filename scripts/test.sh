#!/usr/bin/env bash
# Builds the simulation with its tests, and setup.exe, zentavo-capture.exe and
# Zentavo.exe of the win32 preset, whose import tables the test ImportTable.*
# reads (the Windows versions they load on); then runs the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset sim -DZT_WIN32_BUILD_DIR="$PWD/build/win32"
cmake --build --preset sim -j2
cmake --preset win32
cmake --build --preset win32 -j2 --target setup zentavo-capture zentavo
ctest --preset sim
