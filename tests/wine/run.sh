#!/usr/bin/env bash
# The Windows test stage. From a fresh Debian 12 machine: installs the cross
# compilers, Wine and an X server, boots a 64-bit Wine prefix on a virtual
# display, builds the win64 preset and runs zentavo_contract_tests.exe (the
# seam's contract suite and the back end's own tests against the real Win32
# back end) under Wine, takes screenshots of setup.exe (screens.sh), and makes
# real installations with the Windows demo medium (install.sh: a first
# installation and an upgrade, driven by tests/wine/setup_driver.cpp; quiet.sh:
# an unattended installation with setup.exe /quiet /log FILE). Fails
# when any test fails.
#
# These machines cannot run 32-bit Windows code (there is no wine32), so the
# shipped i686 program is tested through its x86_64 twin.
#
# Environment:
#   ZT_SKIP_APT=1      do not install packages (they are there already)
#   WINEPREFIX=DIR     use this prefix as it is; by default build/wine/prefix
#                      is created afresh for every run
#   ZT_MKMST=PATH      the transform tool of a native sim build for the Windows
#                      medium (default build/sim/tools/mkmst/zentavo-mkmst,
#                      built here when missing)
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$ROOT"
STAGE_START=$SECONDS

log() { echo "--- wine stage: $* ($((SECONDS - STAGE_START)) s)"; }

# ---- packages ---------------------------------------------------------------
if [ "${ZT_SKIP_APT:-0}" != 1 ]; then
  log "installing packages"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  # An index that cannot be fetched (a mirror in sync, a foreign architecture
  # whose lists disagree) fails the update; the lists there are still serve
  # the packages below, whose own install fails plainly if they do not.
  $SUDO apt-get update -qq || log "apt-get update failed; installing from the package lists there are"
  # Never wine32: the 32-bit loader cannot run here. wixl and msitools build
  # the Windows medium's packages; the native libraries build its transform
  # tool when no sim build has it.
  $SUDO apt-get install -y -qq --no-install-recommends \
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 fonts-wine fonts-liberation \
    xvfb xauth x11-apps imagemagick googletest cmake ninja-build \
    wixl msitools g++ pkg-config libmsi-dev libgsf-1-dev libxml2-dev nlohmann-json3-dev \
    libgtest-dev >/dev/null
fi

# ---- a virtual display, and clean-up of what this script starts ---------------
XVFB_PID=""
DISPLAY_FILE="$(mktemp)"
cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "${WINEPREFIX}" ]; then
    wineserver -k >/dev/null 2>&1 || true
  fi
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
  rm -f "$DISPLAY_FILE"
}
trap cleanup EXIT

ZT_SCREEN="${ZT_SCREEN:-1024x768x24}"
Xvfb -displayfd 3 -screen 0 "$ZT_SCREEN" -nolisten tcp 3>"$DISPLAY_FILE" >/dev/null 2>&1 &
XVFB_PID=$!
for _ in $(seq 1 100); do
  [ -s "$DISPLAY_FILE" ] && break
  sleep 0.1
done
if [ ! -s "$DISPLAY_FILE" ]; then
  echo "wine stage: Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=":$(head -n1 "$DISPLAY_FILE")"
log "Xvfb on display $DISPLAY ($ZT_SCREEN)"

# ---- the Wine prefix ---------------------------------------------------------
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX="$ROOT/build/wine/prefix"
  rm -rf "$WINEPREFIX"
fi
mkdir -p "$WINEPREFIX"
log "booting the prefix $WINEPREFIX"
wineboot --init >/dev/null 2>&1
wineserver -w

# ---- build -------------------------------------------------------------------
MKMST="${ZT_MKMST:-$ROOT/build/sim/tools/mkmst/zentavo-mkmst}"
if [ ! -x "$MKMST" ] && [ -z "${ZT_MKMST:-}" ]; then
  log "building zentavo-mkmst (sim preset) for the Windows medium's transforms"
  cmake --preset sim >/dev/null
  cmake --build --preset sim --target zentavo-mkmst -j 2
fi
log "building the win64 preset and its Windows medium"
cmake --preset win64 -DZT_MKMST="$MKMST" >/dev/null
cmake --build --preset win64 -j 2
cmake --build --preset win64 --target windows_medium -j 2

STATUS=0

# Waits until the prefix is idle; a program that hangs on is ended, and the
# stage fails, instead of stalling the run.
idle() {
  if ! timeout 120 wineserver -w; then
    echo "wine stage: the prefix did not become idle after $1" >&2
    wineserver -k >/dev/null 2>&1 || true
    STATUS=1
  fi
}

# ---- contract tests ----------------------------------------------------------
TESTS="$ROOT/build/win64/tests/wine/zentavo_contract_tests.exe"
log "running $(basename "$TESTS") under Wine"
if timeout 600 wine "$TESTS" --gtest_color=no; then
  log "contract tests passed"
else
  echo "wine stage: contract tests FAILED" >&2
  STATUS=1
fi
idle "the contract tests"

# ---- screenshots of setup.exe ------------------------------------------------
# The run of setup.exe on this display with screenshots goes here. Available:
# DISPLAY (Xvfb, $ZT_SCREEN), WINEPREFIX (booted, 64-bit), build/win64/setup.exe
# (built above when src/ui/win32/winmain.cpp exists), imagemagick, x11-apps.
# Set STATUS=1 on failure; do not exit early, so that the summary below runs.
if [ -f tests/wine/screens.sh ]; then
  log "screenshots"
  if ! bash tests/wine/screens.sh; then
    echo "wine stage: screenshots FAILED" >&2
    STATUS=1
  fi
  idle "the screenshots"
fi
# ---- end of the screenshots ---------------------------------------------------

# ---- real installations ---------------------------------------------------------
# A first installation and an upgrade from the Windows demo medium, driven by
# setup_driver.exe (tests/wine/install.sh). Further runs of setup.exe (the
# unattended switches) follow it, each leaving the prefix idle.
log "installations"
if ! bash tests/wine/install.sh; then
  echo "wine stage: installations FAILED" >&2
  STATUS=1
fi
idle "the installations"

# An unattended installation: setup.exe /quiet /log FILE with no automation
# client, the product installed and nothing shown (tests/wine/quiet.sh).
log "unattended installation"
if ! bash tests/wine/quiet.sh; then
  echo "wine stage: unattended installation FAILED" >&2
  STATUS=1
fi
idle "the unattended installation"
echo "wine stage: the user's registry data (Settings, Speed Dial, the HKLM tree) is checked"
echo "  in the simulation only: Wine's RegRestoreKey is a stub and its RegSaveKey writes"
echo "  Wine's own format"

if [ "$STATUS" -ne 0 ]; then
  log "FAILED"
  exit 1
fi
log "passed"
