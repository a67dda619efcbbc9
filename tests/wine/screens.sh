#!/usr/bin/env bash
# Runs the real setup.exe (its 64-bit twin) from a demo medium under Wine on
# a virtual display, like a user: checks the language dialog, accepts it,
# checks the greeting (background, setup window, Proceed and Cancel), clicks
# the background, cancels and ends the setup, taking screenshots on the way.
# tests/wine/screens_probe.cpp does the looking and clicking.
#
# Run by tests/wine/run.sh, which provides:
#   DISPLAY     an X server without a window manager (Xvfb)
#   WINEPREFIX  a booted 64-bit prefix
#   build/win64/setup.exe and build/win64/medium/System32/swflash.ocx
# Screenshots go to build/wine/screens/; with ZT_UPDATE_SCREENS=1 they are
# also copied to docs/screens/ (the pictures the README shows).
set -uo pipefail

ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$ROOT"
OUT="${ZT_SCREENS_OUT:-$ROOT/build/wine/screens}"
MEDIUM="$OUT/medium"
PROBE="$OUT/screens_probe.exe"
BUILD="${ZT_WIN64_BUILD:-$ROOT/build/win64}"
FAILED=0
SETUP_PID=""

say() { echo "--- screens: $*"; }
fail() { echo "screens: $*" >&2; FAILED=1; }

finish() {
  # Nothing of the setup may outlive this script: the caller waits for the
  # prefix to become idle.
  if [ -n "$SETUP_PID" ] && kill -0 "$SETUP_PID" 2>/dev/null; then
    wineserver -k >/dev/null 2>&1 || true
  fi
}
trap finish EXIT

: "${DISPLAY:?screens.sh needs DISPLAY (run it through tests/wine/run.sh)}"
: "${WINEPREFIX:?screens.sh needs WINEPREFIX (run it through tests/wine/run.sh)}"
if [ ! -f "$BUILD/setup.exe" ]; then
  echo "screens: $BUILD/setup.exe is missing" >&2
  exit 1
fi

rm -rf "$OUT"
mkdir -p "$MEDIUM/System32"

say "building the probe"
x86_64-w64-mingw32-g++ -std=c++20 -O1 -Wall -Wextra -Werror -static \
  -I "$ROOT/src" tests/wine/screens_probe.cpp src/ui/layout.cpp \
  -o "$PROBE" -luser32 -lgdi32 -ladvapi32 || exit 1

say "laying out the demo medium in $MEDIUM"
cp "$BUILD/setup.exe" "$MEDIUM/"
# The medium's component files that are only stand-ins for the simulation
# are not Windows programs: beside setup.exe they would shadow the system's
# own libraries of the same name, so only real ones are taken.
for file in medium/* medium/System32/*; do
  [ -f "$file" ] || continue
  case "$file" in
    *.dll|*.ocx|*.exe) file -b "$file" | grep -q '^PE32' || continue ;;
  esac
  case "$file" in
    medium/System32/*) cp "$file" "$MEDIUM/System32/" ;;
    *) cp "$file" "$MEDIUM/" ;;
  esac
done
if [ -f "$BUILD/medium/System32/swflash.ocx" ]; then
  cp "$BUILD/medium/System32/swflash.ocx" "$MEDIUM/System32/"
fi

# Without a window manager Wine draws the frames itself, with the caption
# buttons from the Marlett font, which a new prefix may lack.
FONTS="$WINEPREFIX/drive_c/windows/Fonts"
if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$FONTS/marlett.ttf" ]; then
  mkdir -p "$FONTS" && cp /usr/share/wine/fonts/marlett.ttf "$FONTS/"
fi
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
wineserver -w

TEMP_WIN="$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')"
LOG="$(winepath -u "$TEMP_WIN\\ZentavoInstall.log" 2>/dev/null)"
rm -f "$LOG"

shot() {
  xwd -root -silent | convert xwd:- "$OUT/$1.png" || fail "screenshot $1 failed"
}

probe() {
  say "probe $1"
  wine "$PROBE" "$1" 2>/dev/null | tr -d '\r' || fail "probe $1 found faults"
}

say "starting setup.exe"
(cd "$MEDIUM" && exec wine setup.exe) >"$OUT/setup.out" 2>&1 &
SETUP_PID=$!

probe dialog
shot language-dialog
probe accept-language
probe greeting
shot greeting
# The background shows its own colour where the setup window is not.
PIXEL="$(convert "$OUT/greeting.png" -format '%[pixel:p{4,4}]' info: 2>/dev/null)"
case "$PIXEL" in
  "srgb(60,60,150)") echo "ok - the background is dark blue" ;;
  *) echo "not ok - the background is dark blue (found $PIXEL)"; FAILED=1 ;;
esac
probe click-background
probe cancel
shot abort-question
probe finish

for _ in $(seq 1 300); do
  kill -0 "$SETUP_PID" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$SETUP_PID" 2>/dev/null; then
  fail "setup.exe did not end"
else
  wait "$SETUP_PID" || fail "setup.exe ended with exit code $?"
  SETUP_PID=""
fi

say "the log"
for line in "movie " "background created" "cancel" "confirm" "setup terminating" \
            "welcome wnd closed"; do
  if grep -q "$line" "$LOG" 2>/dev/null; then
    echo "ok - the log has \"$line\""
  else
    echo "not ok - the log has \"$line\""
    FAILED=1
  fi
done
if [ "$(tail -n 1 "$LOG" 2>/dev/null | tr -d '\r' | sed 's/^[^ ]* [^ ]* //')" = "welcome wnd closed" ]; then
  echo "ok - \"welcome wnd closed\" is the last line"
else
  echo "not ok - \"welcome wnd closed\" is the last line"
  FAILED=1
fi
cp "$LOG" "$OUT/ZentavoInstall.log" 2>/dev/null || true

if [ "${ZT_UPDATE_SCREENS:-0}" = 1 ]; then
  mkdir -p docs/screens
  cp "$OUT/language-dialog.png" "$OUT/greeting.png" docs/screens/
  say "screenshots copied to docs/screens/"
fi

if [ "$FAILED" -ne 0 ]; then
  say "FAILED (see $OUT)"
  exit 1
fi
say "passed"
