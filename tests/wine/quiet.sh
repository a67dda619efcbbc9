#!/usr/bin/env bash
# An unattended installation under Wine with nobody at the screen and no
# automation client: the Windows demo medium copied afresh into
# 'C:\Zentavo Quiet', no product on the machine, and the real setup.exe (the
# i686 program, or its x86_64 twin) started as a deployment starts it,
#
#   setup.exe /quiet /log "C:\Zentavo Logs\quiet install.log"
#
# It must end by itself with 0, leave the product installed and not started,
# write its log to the named file (the usual %TEMP%\ZentavoInstall.log stays
# absent), and never change the display while it runs: the screen is
# captured before the start and compared with captures taken all along. A
# second run, `setup.exe /quiet /?`, ends with 0 and changes nothing at all.
# With ZT_QUIET_RESTART=1 (NT 4.0) the installation ends with 3010 for its
# forced restart, and the run Wine's restart resumes completes it.
#
# Run by tests/wine/run.sh, which provides DISPLAY (Xvfb), WINEPREFIX (booted,
# Wine reporting the version under test) and the build (ZT_WIN64_BUILD) with its Windows medium (target
# windows_medium); it can also run alone with those set. Results go to
# build/wine/quiet/ (ZT_QUIET_OUT).
set -uo pipefail

ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$ROOT"
BUILD="${ZT_WIN64_BUILD:-$ROOT/build/win64}"
OUT="${ZT_QUIET_OUT:-$ROOT/build/wine/quiet}"
SOURCE_MEDIUM="${ZT_MEDIUM:-$BUILD/windows-medium}"
# Limits in seconds: the whole installation, and the wait for /?.
RUN_SECONDS="${ZT_QUIET_SECONDS:-300}"
# ZT_QUIET_RESTART=1: the installation ends with the forced restart of
# NT 4.0 and resumes when Wine restarts.
RESTART="${ZT_QUIET_RESTART:-0}"

# The product's registry names, FAILED, pass, fail and check; reg_value,
# reg_missing, key_missing, expect_value and expect_in_order.
. "$ROOT/tests/wine/checks.sh"

SETUP_PID=""

say() { echo "--- quiet: $*"; }

finish() {
  # Nothing started here may outlive the script.
  if [ -n "$SETUP_PID" ] && kill -0 "$SETUP_PID" 2>/dev/null; then
    wineserver -k >/dev/null 2>&1 || true
  fi
}
trap finish EXIT

: "${DISPLAY:?quiet.sh needs DISPLAY (run it through tests/wine/run.sh)}"
: "${WINEPREFIX:?quiet.sh needs WINEPREFIX (run it through tests/wine/run.sh)}"
for needed in "$SOURCE_MEDIUM/setup.exe" "$SOURCE_MEDIUM/Zentavo.msi" "$BUILD/product/Zentavo.exe"; do
  if [ ! -f "$needed" ]; then
    echo "quiet: $needed is missing (build the win64 preset and its target windows_medium)" >&2
    exit 1
  fi
done
VERSION="$(sed -n 's/^ZT_PRODUCT_VERSION:[A-Z]*=//p' "$BUILD/CMakeCache.txt")"

rm -rf "$OUT"
mkdir -p "$OUT"

# ---- helpers -------------------------------------------------------------------

# No line of the log before "setup terminating" is exactly this message.
lacks_before_end() {
  ! sed '/setup terminating/,$d' "$LOG" | tr -d '\r' | cut -c30- | grep -qxF -- "$1"
}
not_in_log() { ! grep -qF -- "$1" "$LOG" 2>/dev/null; }
msiexec_quiet() { grep -F -- 'msiexec.exe /i' "$LOG" | grep -qF -- '.mst" REBOOT=ReallySuppress /qn'; }

# The display's pixels, as a checksum: of the pixels alone, since xwd's
# header changes with what Wine does to windows nobody sees.
screen_sum() { xwd -root -silent 2>/dev/null | convert xwd:- rgb:- 2>/dev/null | md5sum | cut -d' ' -f1; }

# Starts setup.exe from the medium with these arguments, then watches the
# display until it ends (at most $1 seconds): SCREEN_CHANGED names the first
# capture that differs from the one taken before the start, EXIT_STATUS is
# the exit code as the shell sees it (modulo 256), empty when it did not end.
run_unattended() {
  local seconds="$1" name="$2" i sum
  shift 2
  local before
  before="$(screen_sum)"
  xwd -root -silent | convert xwd:- "$OUT/$name.before.png" 2>/dev/null
  SCREEN_CHANGED=""
  EXIT_STATUS=""
  say "starting $MEDIUM_WINDOWS\\setup.exe $*"
  (cd "$MEDIUM" && exec wine setup.exe "$@") >"$OUT/$name.setup.out" 2>&1 &
  SETUP_PID=$!
  for ((i = 0; i < seconds * 4; ++i)); do
    sum="$(screen_sum)"
    if [ -z "$SCREEN_CHANGED" ] && [ "$sum" != "$before" ]; then
      SCREEN_CHANGED="$OUT/$name.shown.png"
      xwd -root -silent | convert xwd:- "$SCREEN_CHANGED" 2>/dev/null
    fi
    kill -0 "$SETUP_PID" 2>/dev/null || break
    sleep 0.25
  done
  if kill -0 "$SETUP_PID" 2>/dev/null; then
    wineserver -k >/dev/null 2>&1
    wait "$SETUP_PID" 2>/dev/null
    SETUP_PID=""
    return 1
  fi
  EXIT_STATUS=0
  wait "$SETUP_PID" || EXIT_STATUS=$?
  SETUP_PID=""
  # A program the setup started (the product) would show after it ended.
  for ((i = 0; i < 12; ++i)); do
    sleep 0.25
    sum="$(screen_sum)"
    if [ -z "$SCREEN_CHANGED" ] && [ "$sum" != "$before" ]; then
      SCREEN_CHANGED="$OUT/$name.shown.png"
      xwd -root -silent | convert xwd:- "$SCREEN_CHANGED" 2>/dev/null
    fi
  done
  return 0
}

MEDIUM_WINDOWS='C:\Zentavo Quiet'
MEDIUM="$WINEPREFIX/drive_c/Zentavo Quiet"
LOG_FOLDER="$WINEPREFIX/drive_c/Zentavo Logs"
LOG_WINDOWS='C:\Zentavo Logs\quiet install.log'
LOG="$LOG_FOLDER/quiet install.log"
PROGRAM_WINDOWS="$PROGRAM_FILES_WINDOWS\\Zentavo\\Zentavo.exe"
INSTALL_DIR="$WINEPREFIX/drive_c/$PROGRAM_FILES_UNIX/Zentavo"
TEMP_WIN="$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')"
USUAL_LOG="$(winepath -u "$TEMP_WIN\\ZentavoInstall.log" 2>/dev/null)"

# ---- a machine that never saw Zentavo ----------------------------------------------
# Whatever ran before in this prefix ends first (a product left running would
# hold its files); then the product, its keys, its folder and every log go.
say "a clean machine"
wineserver -k >/dev/null 2>&1
wineserver -w
wine msiexec /x "$PRODUCT_CODE" /qn >/dev/null 2>&1
wine reg delete 'HKCU\Software\Corvane' /f >/dev/null 2>&1
wine reg delete 'HKLM\Software\Corvane' /f "/reg:$REG_VIEW" >/dev/null 2>&1
wine reg delete "$RUN_KEY" /v ZenSetupSetup /f /reg:64 >/dev/null 2>&1
wine reg delete "$RUN_KEY" /v ZenSetupSetup /f /reg:32 >/dev/null 2>&1
wineserver -w
rm -rf "$INSTALL_DIR" "$MEDIUM" "$LOG_FOLDER"
rm -f "$USUAL_LOG"
cp -r "$SOURCE_MEDIUM" "$MEDIUM"
mkdir -p "$LOG_FOLDER"
check "no Zentavo is installed before" key_missing "$UNINSTALL_KEY"

# ---- /quiet /log -------------------------------------------------------------------
say "an unattended installation"
if run_unattended "$RUN_SECONDS" install /quiet /log "$LOG_WINDOWS"; then
  pass "setup.exe /quiet ends by itself"
else
  fail "setup.exe /quiet ends by itself within $RUN_SECONDS s"
fi
if [ "$RESTART" = 1 ]; then
  # NT 4.0: after the package the setup forces a restart (3010) with its
  # resume value in the Run key; Wine's restart (ExitWindowsEx, or
  # wineboot --restart when that did not come) starts it again, and the
  # resumed run completes the installation and ends with 0.
  check "setup.exe /quiet ends with 3010 for the restart (the shell saw ${EXIT_STATUS:-nothing})" \
    [ "${EXIT_STATUS:-x}" = $((3010 % 256)) ]
  for ((i = 0; i < 120; ++i)); do
    grep -qF "continuing setup after reboot" "$LOG" 2>/dev/null && break
    if [ "$i" -eq 20 ]; then
      say "no restart yet: wineboot --restart"
      wineboot --restart >/dev/null 2>&1
    fi
    sleep 1
  done
  for ((i = 0; i < 120; ++i)); do
    sed -n '/continuing setup after reboot/,$p' "$LOG" 2>/dev/null | grep -qF "unattended: exit code" && break
    sleep 1
  done
  timeout 60 wineserver -w
  expect_in_order "$LOG" \
    "Scheduling forced restart required for NT." \
    "unattended: Windows is restarted without asking" \
    "unattended: exit code 3010" \
    "continuing setup after reboot" \
    "unattended: the installation is complete - OK" \
    "unattended: exit code 0"
else
  check "setup.exe /quiet ends with 0 (the shell saw ${EXIT_STATUS:-nothing})" [ "${EXIT_STATUS:-x}" = 0 ]
fi
if [ -z "$SCREEN_CHANGED" ]; then
  pass "nothing appeared on the display"
else
  fail "nothing appeared on the display (see $SCREEN_CHANGED)"
fi
cp "$LOG" "$OUT/install.log" 2>/dev/null
check "the log is in $LOG_WINDOWS" [ -s "$LOG" ]
check "the usual log $TEMP_WIN\\ZentavoInstall.log is not written" [ ! -e "$USUAL_LOG" ]
expect_in_order "$LOG" \
  "unattended: quiet installation - nothing is shown" \
  "unattended: language " \
  "Install language=" \
  "movie $MEDIUM_WINDOWS\\install.swf not played - quiet installation" \
  "background created" \
  "unattended: the greeting proceeds" \
  "launching: C:\\windows\\system32\\msiexec.exe /i \"$MEDIUM_WINDOWS\\Zentavo.msi\" TRANSFORMS=\"" \
  "Zentavo setup complete - exit code " \
  "new Zentavo executable version is $VERSION.0" \
  "unattended: the installation is complete - OK" \
  "setting default language" \
  "unattended: the product is not started" \
  "setup terminating"
check "Windows Installer ran without its dialogs (/qn)" msiexec_quiet
for text in "waiting for input" "confirm"; do
  check "no \"$text\" before the end: nothing waited" lacks_before_end "$text"
done
for text in "Zentavo software install failed" "message box not shown" "cannot log to"; do
  check "the log lacks \"$text\"" not_in_log "$text"
done

major="${VERSION%%.*}"
minor="${VERSION#*.}"
minor="${minor%%.*}"
expect_value "$UNINSTALL_KEY" DisplayVersion "$VERSION"
expect_value "$UNINSTALL_KEY" VersionMajor "$(printf '0x%x' "$major")"
expect_value "$UNINSTALL_KEY" VersionMinor "$(printf '0x%x' "$minor")"
expect_value "$INSTALLATION_KEY" InstallDir "$PROGRAM_FILES_WINDOWS\\Zentavo\\"
check "the program is installed ($PROGRAM_WINDOWS is the built $VERSION)" \
  cmp -s "$INSTALL_DIR/Zentavo.exe" "$BUILD/product/Zentavo.exe"
check "the product's language is recorded" reg_value "$SETTINGS_KEY" Language_Data
check "no resume value \"ZenSetupSetup\" is left (64-bit view)" reg_missing "$RUN_KEY" ZenSetupSetup 64
check "no resume value \"ZenSetupSetup\" is left (32-bit view)" reg_missing "$RUN_KEY" ZenSetupSetup 32

# ---- /quiet /? -----------------------------------------------------------------------
say "the list of switches, quietly"
rm -f "$USUAL_LOG"
if run_unattended 60 help /quiet /?; then
  check "setup.exe /quiet /? ends with 0 (the shell saw $EXIT_STATUS)" [ "$EXIT_STATUS" = 0 ]
else
  fail "setup.exe /quiet /? ends by itself"
fi
if [ -z "$SCREEN_CHANGED" ]; then
  pass "/quiet /? shows nothing"
else
  fail "/quiet /? shows nothing (see $SCREEN_CHANGED)"
fi
check "/quiet /? writes no log" [ ! -e "$USUAL_LOG" ]

if ! timeout 60 wineserver -w; then
  fail "the prefix becomes idle"
  wineserver -k >/dev/null 2>&1
fi

if [ "$FAILED" -ne 0 ]; then
  say "FAILED (see $OUT)"
  exit 1
fi
say "passed"
