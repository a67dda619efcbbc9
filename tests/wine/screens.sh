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
# The probe and the stand-in movie control for the prefix's architecture:
# i686 in a 32-bit prefix.
PROBE_CXX=x86_64-w64-mingw32-g++
[ "${WINEARCH:-win64}" = win32 ] && PROBE_CXX=i686-w64-mingw32-g++
"$PROBE_CXX" -std=c++20 -O1 -Wall -Wextra -Werror -static \
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
  # Cancelled at the greeting: ERROR_INSTALL_USEREXIT (1602), which the shell
  # sees modulo 256.
  STATUS=0
  wait "$SETUP_PID" || STATUS=$?
  if [ "$STATUS" -eq $((1602 % 256)) ]; then
    echo "ok - setup.exe ends with 1602 after the cancel"
  else
    echo "not ok - setup.exe ends with 1602 after the cancel (found $STATUS)"
    FAILED=1
  fi
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

# ---- the movie control, through a stand-in registered for these runs ---------
FLASH_DLL="$OUT/screens_flash_control.dll"
FLASH_KEY='HKLM\Software\Classes\CLSID\{D27CDB6E-AE6D-11CF-96B8-444553540000}'
# In the setup's own view: with wine32 installed, `wine reg` in a 64-bit
# prefix may be the 32-bit reg.exe, so the view is named (ZT_REG_VIEW, as in
# checks.sh; a 32-bit prefix has one view and ignores it).
REG_VIEW="/reg:${ZT_REG_VIEW:-64}"
say "building the stand-in movie control"
# --kill-at: the i686 exports without their stdcall decoration
# (DllGetClassObject, not DllGetClassObject@12), as COM looks them up.
"$PROBE_CXX" -std=c++20 -O1 -Wall -Wextra -Werror -shared -static -Wl,--kill-at \
  tests/wine/screens_flash_control.cpp -o "$FLASH_DLL" -lole32 -loleaut32 -luuid -luser32 \
  -lgdi32 || FAILED=1

expect_line() {  # file, text, present (1) or absent (0)
  if grep -qF -- "$2" "$1" 2>/dev/null; then found=1; else found=0; fi
  if [ "$found" = "$3" ]; then
    echo "ok - $(basename "$1") $([ "$3" = 1 ] && echo has || echo lacks) \"$2\""
  else
    echo "not ok - $(basename "$1") $([ "$3" = 1 ] && echo has || echo lacks) \"$2\""
    FAILED=1
  fi
}

# One run of setup.exe with the stand-in: `ok` walks to the greeting and
# ends the setup; a failing put (FAIL=<dispid>:exception|error) must end the
# setup before any window shows.
movie_case() {
  local name="$1" rule="$2"
  local record="$OUT/movie-$name.txt"
  rm -f "$record" "$LOG"
  wine reg add "$FLASH_KEY\\InprocServer32" /ve /t REG_SZ /d "$(winepath -w "$FLASH_DLL")" /f "$REG_VIEW" \
    >/dev/null 2>&1
  wine reg add "$FLASH_KEY\\InprocServer32" /v ThreadingModel /t REG_SZ /d Apartment /f "$REG_VIEW" \
    >/dev/null 2>&1
  say "setup.exe with the stand-in movie control ($name)"
  (cd "$MEDIUM" && ZT_FAKE_FLASH_RECORD="$(winepath -w "$record")" ZT_FAKE_FLASH_FAIL="$rule" \
     exec wine setup.exe /l 1033) >"$OUT/setup-$name.out" 2>&1 &
  SETUP_PID=$!
  if [ "$name" = ok ]; then
    probe greeting
    shot greeting-movie
    PIXEL="$(convert "$OUT/greeting-movie.png" -format '%[pixel:p{4,4}]' info: 2>/dev/null)"
    case "$PIXEL" in
      "srgb(20,120,60)") echo "ok - the movie shows through the overlay" ;;
      *) echo "not ok - the movie shows through the overlay (found $PIXEL)"; FAILED=1 ;;
    esac
    probe click-background
    probe cancel
    probe finish
  fi
  for _ in $(seq 1 600); do
    kill -0 "$SETUP_PID" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$SETUP_PID" 2>/dev/null; then
    fail "setup.exe ($name) did not end"
    wineserver -k >/dev/null 2>&1
  fi
  wait "$SETUP_PID" 2>/dev/null
  SETUP_PID=""
  wine reg delete "$FLASH_KEY" /f "$REG_VIEW" >/dev/null 2>&1
  wineserver -w
  cp "$LOG" "$OUT/movie-$name.log" 2>/dev/null
}

if [ -f "$FLASH_DLL" ]; then
  MOVIE="$(winepath -w "$MEDIUM")\\install.swf"
  movie_case ok ""
  R="$OUT/movie-ok.txt"
  expect_line "$R" "activate framed window" 1
  expect_line "$R" "rects $(identify -format '%wx%h' "$OUT/greeting-movie.png" 2>/dev/null)" 1
  expect_line "$R" "close" 1
  if [ "$(grep '^put' "$R" 2>/dev/null | tr -d '\r')" = "$(printf 'put 102 BSTR %s\nput 135 BOOL 0\nput 106 BOOL -1' "$MOVIE")" ]; then
    echo "ok - the movie, menu and loop properties are put in that order"
  else
    echo "not ok - the movie, menu and loop properties are put in that order"
    FAILED=1
  fi
  expect_line "$OUT/movie-ok.log" "movie $MOVIE" 1
  expect_line "$OUT/movie-ok.log" "background created" 1

  movie_case exception "135:exception"
  expect_line "$OUT/movie-exception.txt" "put 135 BOOL 0" 1
  expect_line "$OUT/movie-exception.txt" "put 106" 0
  expect_line "$OUT/movie-exception.log" "caught COleDispatchException!" 1
  expect_line "$OUT/movie-exception.log" "background created" 0

  movie_case error "102:error"
  expect_line "$OUT/movie-error.txt" "put 102 BSTR" 1
  expect_line "$OUT/movie-error.txt" "put 135" 0
  expect_line "$OUT/movie-error.log" "caught COleException" 1
  expect_line "$OUT/movie-error.log" "background created" 0
fi

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
