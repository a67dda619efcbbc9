#!/usr/bin/env bash
# Real installations under Wine, driven like a user: the Windows demo medium
# copied into the prefix's drive C: (a folder with a blank in its name), the
# real setup.exe (the i686 program, or its x86_64 twin when the stage falls
# back to it) started on the virtual display and
# answered by tests/wine/setup_driver.cpp, which presses the buttons with
# BM_CLICK and prints every step it answers.
#
#   first      a first installation: the log's lines in order, the Uninstall
#              key, InstallDir, the program, Language_Data, the product
#              started, no resume value left, exit code 0; a screenshot of
#              the completion step
#   net        a first installation from a network package unpacked in the
#              temporary folder: the same answers, then the clean-up copy,
#              started from a new folder of the setup's own, deletes the
#              package's folder and schedules its own removal
#   damaged    a copy of the medium whose package has a flipped byte: the box
#              naming Zentavo.msi, the log's lines, exit code 1603, no
#              installer started, the product not installed
#   upgrade    the earlier 2.x build installed with msiexec and running, the
#              user's address book and calibration file in place, its
#              shortcuts on the desktop and in the Startup folder; setup.exe
#              cancelled at the question to close the product (message box,
#              1602, the product runs on), then again to the end: the running
#              copy closed on OK, the earlier package removed, the new one
#              installed, the user's files back, the desktop shortcut gone,
#              the Startup shortcut made again (a real shell link), exit 0
#   keys       the keyboard alone (the driver's --keys: keys typed into the
#              foreground window): Escape at the greeting stops the
#              installation through the screen the Cancel button leads to
#              (1602, nothing installed); then Return takes the language,
#              Tab moves the focus to Cancel and back (a screenshot shows the
#              focus rectangle), and Return alone carries a first
#              installation to its end, with the first case's checks
#
# The registry items of the user's data are checked in the simulation only:
# Wine's RegRestoreKey is a stub that changes nothing and its RegSaveKey
# writes Wine's own text format, so Settings, Speed Dial and the HKLM tree
# cannot come back here.
#
# Run by tests/wine/run.sh, which provides DISPLAY (Xvfb), WINEPREFIX (booted,
# Wine reporting the version under test), the build (ZT_WIN64_BUILD: the
# win32 preset, or win64 for the twin) with its Windows media (target
# windows_media) and, for a version older than 2000, ZT_RUNTIME_LINE. Results go to build/wine/install/; with ZT_UPDATE_SCREENS=1
# the screenshot is also copied to docs/screens/. ZT_INSTALL_CASES names the
# cases to run (default "first net upgrade"); ZT_MEDIUM names another medium
# folder, ZT_CD_ROOT a CD drive D: to start the medium from instead.
set -uo pipefail

ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$ROOT"
BUILD="${ZT_WIN64_BUILD:-$ROOT/build/win64}"
OUT="${ZT_INSTALL_OUT:-$ROOT/build/wine/install}"
DRIVER="$BUILD/tests/wine/setup_driver.exe"
SOURCE_MEDIUM="${ZT_MEDIUM:-$BUILD/windows-medium}"
EARLIER_MSI="$BUILD/package/earlier/Zentavo.msi"
CASES="${ZT_INSTALL_CASES:-first net upgrade}"
# What the analysis says of the run-time libraries: on 2000 and XP they are
# recent enough; where Wine reports an older Windows the analysis updates
# them with the medium's vcredist.exe (ZT_RUNTIME_LINE).
RUNTIME_LINE="${ZT_RUNTIME_LINE:-run-time libraries will not be updated}"
# Every wait of the driver is limited to this many seconds; a whole run of
# the driver and the wait for setup.exe to end have limits of their own.
STEP_SECONDS="${ZT_STEP_SECONDS:-90}"

# The product's registry names, FAILED, pass, fail and check; reg_value,
# reg_missing, key_missing, expect_value and expect_in_order.
. "$ROOT/tests/wine/checks.sh"

SETUP_PID=""
PRODUCT_PID=""

say() { echo "--- install: $*"; }

finish() {
  # Nothing started here may outlive the script: the caller waits for the
  # prefix to become idle.
  local pid
  for pid in $SETUP_PID $PRODUCT_PID; do
    if kill -0 "$pid" 2>/dev/null; then
      wineserver -k >/dev/null 2>&1 || true
      break
    fi
  done
}
trap finish EXIT

: "${DISPLAY:?install.sh needs DISPLAY (run it through tests/wine/run.sh)}"
: "${WINEPREFIX:?install.sh needs WINEPREFIX (run it through tests/wine/run.sh)}"
for needed in "$DRIVER" "$SOURCE_MEDIUM/setup.exe" "$SOURCE_MEDIUM/Zentavo.msi" "$EARLIER_MSI"; do
  if [ ! -f "$needed" ]; then
    echo "install: $needed is missing (build the win64 preset and its target windows_medium)" >&2
    exit 1
  fi
done
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$BUILD/CMakeCache.txt"; }
VERSION="$(cache_value ZT_PRODUCT_VERSION)"
EARLIER_VERSION="$(cache_value ZT_EARLIER_PRODUCT_VERSION)"

rm -rf "$OUT"
mkdir -p "$OUT"

# ---- helpers -------------------------------------------------------------------

# A folder of the Shell Folders key as a Unix path (empty when unread).
shell_folder() {
  local folder
  folder="$(reg_value_cu 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' "$1")"
  [ -n "$folder" ] && winepath -u "$folder" 2>/dev/null
}
reg_value_cu() {
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^    $2    REG_[A-Z_]*    //Ip"
}
plant_link() {
  mkdir -p "$1"
  printf 'a shortcut of the earlier edition\r\n' >"$1/Zentavo.lnk"
}

# A text in a shell link, stored in the ANSI code page or as UTF-16 (at
# either byte alignment).
link_has() {
  grep -qaF -- "$2" "$1" ||
    iconv -f UTF-16LE -t UTF-8 -c "$1" 2>/dev/null | grep -qaF -- "$2" ||
    tail -c +2 "$1" | iconv -f UTF-16LE -t UTF-8 -c 2>/dev/null | grep -qaF -- "$2"
}
is_shell_link() { [ "$(head -c 4 "$1" 2>/dev/null | od -An -tx1 | tr -d ' \n')" = 4c000000 ]; }

not_in_log() { ! grep -qF -- "$1" "$LOG" 2>/dev/null; }

hex_dword() { printf '0x%x' "$1"; }

# Runs the driver with its answers; the whole run is limited as well.
drive() {
  local record="$1"
  shift
  say "driver: $*"
  timeout 900 wine "$DRIVER" --timeout "$STEP_SECONDS" "$@" 2>/dev/null | tr -d '\r' |
    tee -a "$OUT/$record.driver.txt" | sed 's/^/    /'
  local status="${PIPESTATUS[0]}"
  [ "$status" -eq 0 ] || fail "the driver's answers $* were taken (exit $status)"
  return "$status"
}

shot() {
  if xwd -root -silent | convert xwd:- "$OUT/$1.png"; then
    pass "screenshot $1.png"
  else
    fail "screenshot $1.png"
  fi
}

# Waits (polling, at most $2 seconds) for a background process to end and
# puts its exit code, as the shell sees it (modulo 256), in EXIT_STATUS.
wait_for_end() {
  local pid="$1" seconds="$2" i
  EXIT_STATUS=""
  for ((i = 0; i < seconds * 10; ++i)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    return 1
  fi
  EXIT_STATUS=0
  wait "$pid" || EXIT_STATUS=$?
  return 0
}

MEDIUM_WINDOWS='C:\Zentavo Setup'
MEDIUM="$WINEPREFIX/drive_c/Zentavo Setup"
# From the CD: ZT_CD_ROOT is the Unix folder of the CD drive D: (read-only,
# of type cdrom), which the medium is started from as it is.
if [ -n "${ZT_CD_ROOT:-}" ]; then
  MEDIUM_WINDOWS='D:'
  MEDIUM="$ZT_CD_ROOT"
fi
PROGRAM_WINDOWS="$PROGRAM_FILES_WINDOWS\\Zentavo\\Zentavo.exe"
INSTALL_DIR="$WINEPREFIX/drive_c/$PROGRAM_FILES_UNIX/Zentavo"
TEMP_WIN="$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')"
LOG="$(winepath -u "$TEMP_WIN\\ZentavoInstall.log" 2>/dev/null)"

# A fresh copy of the medium, no product, no log: each case starts from a
# machine that never saw Zentavo (also on a prefix used before).
clean_machine() {
  drive clean close=Zentavo >/dev/null
  timeout 300 wine msiexec /x "$PRODUCT_CODE" /qn >/dev/null 2>&1
  wine reg delete 'HKCU\Software\Corvane' /f >/dev/null 2>&1
  wine reg delete 'HKLM\Software\Corvane' /f "/reg:$REG_VIEW" >/dev/null 2>&1
  rm -rf "$INSTALL_DIR"
  local folder
  for folder in Startup Desktop; do
    folder="$(shell_folder "$folder")"
    [ -n "$folder" ] && rm -f "$folder/Zentavo.lnk"
  done
  rm -f "$LOG"
  if [ -z "${ZT_CD_ROOT:-}" ]; then
    rm -rf "$MEDIUM"
    cp -r "$SOURCE_MEDIUM" "$MEDIUM"
  fi
}

# tests/wine/fidelity.sh watches one run of a case (ZT_FIDELITY_RUN): it is
# called just before setup.exe starts and just after it has ended (with the
# log, the exit status and the run's standard error, which holds Wine's trace).
fidelity_hook() {  # before|after, name
  if watched "$2"; then
    bash "$ZT_FIDELITY_HOOK" hook "$1" "$2" "$LOG" "${EXIT_STATUS:-}" "$OUT/$2.setup.out"
  fi
}
watched() { [ -n "${ZT_FIDELITY_HOOK:-}" ] && [ "$1" = "${ZT_FIDELITY_RUN:-}" ]; }

# Wine's trace for the watched run: the programs it starts and the libraries
# they load, with the process of each line.
setup_debug() {  # name
  if watched "$1"; then echo "+pid,+process,+loaddll"; else echo "${WINEDEBUG:-}"; fi
}

start_setup() {  # name, setup.exe's arguments...
  local name="$1"
  shift
  say "starting $MEDIUM_WINDOWS\\setup.exe $*"
  rm -f "$LOG"
  fidelity_hook before "$name"
  (cd "$MEDIUM" && WINEDEBUG="$(setup_debug "$name")" exec wine setup.exe "$@") \
    >"$OUT/$name.setup.out" 2>&1 &
  SETUP_PID=$!
}

# Waits for setup.exe to end and checks its exit code (modulo 256).
expect_setup_exit() {
  local name="$1" expected="$2"
  if ! wait_for_end "$SETUP_PID" 60; then
    fail "setup.exe ($name) ends"
    wineserver -k >/dev/null 2>&1
    wait "$SETUP_PID" 2>/dev/null
  elif [ "$EXIT_STATUS" -eq $((expected % 256)) ]; then
    pass "setup.exe ($name) ends with $expected"
  else
    fail "setup.exe ($name) ends with $expected (the shell saw $EXIT_STATUS)"
  fi
  SETUP_PID=""
  cp "$LOG" "$OUT/$name.log" 2>/dev/null
  fidelity_hook after "$name"
}

# After an answer that did not take: the setup (and whatever it started) is
# ended, so that the case stops at once instead of waiting on each answer.
abandon() {
  say "abandoning the case $1"
  wineserver -k >/dev/null 2>&1
  [ -n "$SETUP_PID" ] && wait "$SETUP_PID" 2>/dev/null
  [ -n "$PRODUCT_PID" ] && wait "$PRODUCT_PID" 2>/dev/null
  SETUP_PID=""
  PRODUCT_PID=""
  cp "$LOG" "$OUT/$1.log" 2>/dev/null
}

# The product as the new package leaves it, started by the setup's last step.
check_installed_product() {
  local name="$1" major minor
  major="${VERSION%%.*}"
  minor="${VERSION#*.}"
  minor="${minor%%.*}"
  expect_value "$UNINSTALL_KEY" VersionMajor "$(hex_dword "$major")"
  expect_value "$UNINSTALL_KEY" VersionMinor "$(hex_dword "$minor")"
  expect_value "$UNINSTALL_KEY" DisplayVersion "$VERSION"
  expect_value "$INSTALLATION_KEY" InstallDir "$PROGRAM_FILES_WINDOWS\\Zentavo\\"
  check "the new program is installed ($PROGRAM_WINDOWS is the built $VERSION)" \
    cmp -s "$INSTALL_DIR/Zentavo.exe" "$BUILD/product/Zentavo.exe"
  expect_value "$SETTINGS_KEY" Language_Data "English US"
  check "no resume value \"ZenSetupSetup\" is left (64-bit view)" reg_missing "$RUN_KEY" ZenSetupSetup 64
  check "no resume value \"ZenSetupSetup\" is left (32-bit view)" reg_missing "$RUN_KEY" ZenSetupSetup 32
  # The product's window, and from which program it runs.
  if drive "$name" window=Zentavo; then
    check "the window \"Zentavo\" runs $PROGRAM_WINDOWS" \
      grep -qF "program $PROGRAM_WINDOWS" <(tail -n 3 "$OUT/$name.driver.txt")
  fi
}

# Closes the product's window (as a user would) so that the prefix can idle.
close_product() {
  drive "$1" close=Zentavo >/dev/null || true
}

# ---- a first installation ---------------------------------------------------------

case_first() {
  say "first installation"
  clean_machine
  check "no Zentavo is installed before" key_missing "$UNINSTALL_KEY"
  start_setup first
  drive first lang=1033 "confirm=Ready to install Zentavo" "confirm=Media Player update needed" \
    "ready=Installation complete" || { abandon first; return; }
  shot complete
  drive first "confirm=Installation complete" end || { abandon first; return; }
  expect_setup_exit first 0

  expect_in_order "$LOG" \
    "Install language=1033 ENGLISH_US" \
    "OS version: " \
    "RAM detected" \
    "existing MSI version is " \
    "$RUNTIME_LINE" \
    "no previous version of Zentavo detected" \
    "Analyze action=0 state=Analysis complete" \
    "launching: C:\\windows\\system32\\msiexec.exe /i \"$MEDIUM_WINDOWS\\Zentavo.msi\" TRANSFORMS=\"1033.mst\" REBOOT=ReallySuppress" \
    "Zentavo setup complete - exit code " \
    "new Zentavo executable version is $VERSION.0" \
    "setting default language" \
    "setting value" \
    "launching: $PROGRAM_WINDOWS " \
    "setup terminating"
  check_installed_product first
  close_product first
}

# ---- a damaged medium ----------------------------------------------------------------

# A copy of the medium whose package has one byte flipped: the setup checks the
# medium against its manifest before it uses any file of it, shows the box
# naming Zentavo.msi, ends with 1603 and installs nothing.
case_damaged() {
  say "installation from a medium whose package is damaged"
  clean_machine
  local offset=4096 byte
  byte="$(od -An -tu1 -j "$offset" -N1 "$MEDIUM/Zentavo.msi" | tr -d ' ')"
  printf "$(printf '\\%03o' $((byte ^ 1)))" |
    dd of="$MEDIUM/Zentavo.msi" bs=1 seek="$offset" conv=notrunc status=none
  check "the copied package no longer matches medium.sha" \
    bash -c "! (cd \"$MEDIUM\" && sha256sum --quiet -c medium.sha >/dev/null 2>&1)"
  start_setup damaged /l 1033
  drive damaged box end || { abandon damaged; return; }
  check "the box names Zentavo.msi and says the medium is damaged" \
    grep -qF "its file Zentavo.msi is not as it was made" "$OUT/damaged.driver.txt"
  expect_setup_exit damaged 1603
  expect_in_order "$LOG" \
    "medium manifest lists " \
    "background created" \
    "medium file Zentavo.msi is damaged" \
    "setup terminating"
  check "no installer was started" not_in_log "launching:"
  check "the product is not installed" key_missing "$UNINSTALL_KEY"
}

# ---- a network package unpacked in the temporary folder -----------------------------

case_net() {
  say "first installation from a network package in the temporary folder"
  clean_machine
  local net_windows="$TEMP_WIN\\zt net package"
  local net
  net="$(winepath -u "$net_windows" 2>/dev/null)"
  rm -rf "$net"
  cp -r "$SOURCE_MEDIUM" "$net"
  sed -i 's/^PackageType=.*/PackageType=Net\r/' "$net/setup.ini"
  grep -q '^PackageType=' "$net/setup.ini" || printf 'PackageType=Net\r\n' >>"$net/setup.ini"
  # The package's own manifest names the edited setup.ini, as its maker writes it.
  sed -i "s|^[0-9a-f]*  setup.ini\$|$(sha256sum "$net/setup.ini" | cut -d' ' -f1)  setup.ini|" \
    "$net/medium.sha"
  say "starting $net_windows\\setup.exe /l 1033"
  rm -f "$LOG"
  (cd "$net" && exec wine setup.exe /l 1033) >"$OUT/net.setup.out" 2>&1 &
  SETUP_PID=$!
  drive net "confirm=Ready to install Zentavo" "confirm=Media Player update needed" \
    "ready=Installation complete" "confirm=Installation complete" end || { abandon net; return; }
  expect_setup_exit net 0
  # The copy runs after the setup has ended; it deletes the folder.
  for _ in $(seq 1 300); do
    [ -d "$net" ] || break
    sleep 0.2
  done
  close_product net
  cp "$LOG" "$OUT/net.log" 2>/dev/null
  check "the network package's folder is deleted" test ! -d "$net"
  # The copy runs beside the ending setup: its lines and the setup's last
  # ones may interleave.
  expect_in_order "$LOG" \
    "temp directory $net_windows will be cleaned up" \
    "clean-up copy is " \
    "launching: " \
    "cleaning up $net_windows" \
    "is removed when Windows next starts"
  local cleaner
  cleaner="$(sed -n 's/^.* clean-up copy is \(.*\)\r\{0,1\}$/\1/p' "$LOG" | tr -d '\r' | head -n 1)"
  check "the copy sits in a folder of its own (\"$cleaner\")" \
    grep -qiF -- "$TEMP_WIN\\ztcl" <<<"$cleaner"
  check "the copy is scheduled for deletion at the next start of Windows" \
    grep -qiF -- "$(basename "$(winepath -u "$cleaner" 2>/dev/null)")" \
    <(wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
        /v PendingFileRenameOperations /reg:64 2>/dev/null)
}

# ---- an upgrade of the earlier 2.x build ---------------------------------------------

# Content of the user's own, which the upgrade must keep.
write_user_files() {
  printf 'Zentavo address book of the Wine stage\r\nAda Lovelace;+44 20 7946 0000\r\nGrace Hopper;+1 202 555 0142\r\n' \
    >"$INSTALL_DIR/Zentavo.mdb"
  printf '[Calibration]\r\nBrightness=61\r\nContrast=48\r\nWhiteBalance=5200\r\n' \
    >"$INSTALL_DIR/calibrate.mi"
  cp "$INSTALL_DIR/Zentavo.mdb" "$INSTALL_DIR/calibrate.mi" "$OUT/"
}

case_upgrade() {
  say "upgrade of the earlier $EARLIER_VERSION"
  clean_machine
  say "installing the earlier package with msiexec /qn"
  cp "$EARLIER_MSI" "$WINEPREFIX/drive_c/Zentavo-$EARLIER_VERSION.msi"
  if ! timeout 300 wine msiexec /i "C:\\Zentavo-$EARLIER_VERSION.msi" /qn >/dev/null 2>&1; then
    fail "msiexec installs the earlier package"
  fi
  expect_value "$UNINSTALL_KEY" DisplayVersion "$EARLIER_VERSION"
  check "the earlier program is installed" \
    cmp -s "$INSTALL_DIR/Zentavo.exe" "$BUILD/product-earlier/Zentavo.exe"
  write_user_files
  # Shortcuts of the earlier edition: on the desktop (removed for good) and
  # in the Startup folder (removed, then made again by the new setup).
  STARTUP_DIR="$(shell_folder Startup)"
  DESKTOP_DIR="$(shell_folder Desktop)"
  if [ -n "$STARTUP_DIR" ] && [ -n "$DESKTOP_DIR" ]; then
    plant_link "$STARTUP_DIR"
    plant_link "$DESKTOP_DIR"
  else
    fail "the Startup and Desktop shell folders are read"
  fi
  say "starting the earlier program"
  (cd "$INSTALL_DIR" && exec wine Zentavo.exe) >"$OUT/upgrade.earlier.out" 2>&1 &
  PRODUCT_PID=$!
  drive upgrade window=Zentavo || { abandon upgrade; return; }

  # Cancel at the question whether to close the running product: a message
  # box, then the setup ends with 1602 and the product runs on, untouched.
  start_setup upgrade-cancel /l 1033
  drive upgrade-cancel confirm "cancel=Closing Zentavo" box end || { abandon upgrade-cancel; return; }
  expect_setup_exit upgrade-cancel 1602
  expect_in_order "$OUT/upgrade-cancel.log" "Zentavo instance found running" "setup terminating"
  check "the earlier program still runs after the cancel" kill -0 "$PRODUCT_PID"
  expect_value "$UNINSTALL_KEY" DisplayVersion "$EARLIER_VERSION"

  start_setup upgrade
  drive upgrade lang=1033 confirm "confirm=Closing Zentavo" "confirm=Media Player update needed" \
    "confirm=Installation complete" end || { abandon upgrade; return; }
  expect_setup_exit upgrade 0
  if wait_for_end "$PRODUCT_PID" 10; then
    pass "the earlier program has ended (exit $EXIT_STATUS)"
  else
    fail "the earlier program has ended"
  fi
  PRODUCT_PID=""

  expect_in_order "$LOG" \
    "Zentavo version ${EARLIER_VERSION%.*} detected - this version will be updated" \
    "Zentavo install dir: $PROGRAM_FILES_WINDOWS\\Zentavo\\" \
    "Zentavo instance found running" \
    "shutting down Zentavo application" \
    "preserving user data" \
    "preserving AddressBook Zentavo.mdb" \
    "preserving Calibration calibrate.mi" \
    "launching: C:\\windows\\system32\\msiexec.exe /x $PRODUCT_CODE /q REBOOT=ReallySuppress" \
    "uninstall complete - exit code 0x0" \
    "launching: C:\\windows\\system32\\msiexec.exe /i \"$MEDIUM_WINDOWS\\Zentavo.msi\" TRANSFORMS=\"1033.mst\" REBOOT=ReallySuppress" \
    "Zentavo setup complete - exit code " \
    "new Zentavo executable version is $VERSION.0" \
    "restoring user data" \
    "setting default language" \
    "launching: $PROGRAM_WINDOWS " \
    "setup terminating"
  for text in "save address book failed" "save calibration failed" "copy failed" \
              "failed to uninstall previous version" "Zentavo software install failed" \
              "restore address book failed" "restore calibration failed"; do
    check "the log lacks \"$text\"" not_in_log "$text"
  done
  check "the desktop shortcut of the earlier edition is gone" test ! -e "$DESKTOP_DIR/Zentavo.lnk"
  local link="$STARTUP_DIR/Zentavo.lnk"
  check "the Startup shortcut is made again as a shell link" is_shell_link "$link"
  check "the Startup shortcut starts $PROGRAM_WINDOWS" link_has "$link" "$PROGRAM_WINDOWS"
  check "the Startup shortcut passes \"AutoStart\"" link_has "$link" "AutoStart"
  check "the log lacks \"create startup link failed\"" not_in_log "create startup link failed"
  cp "$link" "$OUT/startup.lnk" 2>/dev/null
  check "the address book is back with the user's content" cmp -s "$INSTALL_DIR/Zentavo.mdb" "$OUT/Zentavo.mdb"
  check "the calibration file is back with the user's content" \
    cmp -s "$INSTALL_DIR/calibrate.mi" "$OUT/calibrate.mi"
  check_installed_product upgrade
  echo "# the registry items of the user's data (Settings, Speed Dial, the HKLM tree) are"
  echo "# checked in the simulation only: Wine's RegRestoreKey changes nothing"
  close_product upgrade
}

# ---- the keyboard -------------------------------------------------------------------

case_keys() {
  say "the keyboard alone"
  clean_machine
  start_setup keys-cancel /l 1033
  drive keys-cancel --keys "cancel=Ready to install Zentavo" "confirm=Installation stopped" end ||
    { abandon keys-cancel; return; }
  expect_setup_exit keys-cancel 1602
  expect_in_order "$OUT/keys-cancel.log" "cancel" "confirm" "setup terminating"
  check "nothing is installed after Escape" key_missing "$UNINSTALL_KEY"

  start_setup keys
  drive keys --keys lang=1033 tab=cancel || { abandon keys; return; }
  shot keys-focus
  drive keys --keys tab=confirm "confirm=Ready to install Zentavo" "confirm=Media Player update needed" \
    "confirm=Installation complete" end || { abandon keys; return; }
  expect_setup_exit keys 0
  expect_in_order "$LOG" \
    "Install language=1033 ENGLISH_US" \
    "confirm" \
    "launching: C:\\windows\\system32\\msiexec.exe /i \"$MEDIUM_WINDOWS\\Zentavo.msi\" TRANSFORMS=\"1033.mst\" REBOOT=ReallySuppress" \
    "confirm" \
    "setup terminating"
  check_installed_product keys
  close_product keys
}

for name in $CASES; do
  case "$name" in
    first) case_first ;;
    keys) case_keys ;;
    damaged) case_damaged ;;
    net) case_net ;;
    upgrade) case_upgrade ;;
    *) fail "unknown case $name" ;;
  esac
  if ! timeout 60 wineserver -w; then
    fail "the prefix becomes idle after the case $name"
    wineserver -k >/dev/null 2>&1
  fi
done

if [ "${ZT_UPDATE_SCREENS:-0}" = 1 ] && [ -f "$OUT/complete.png" ]; then
  mkdir -p docs/screens
  cp "$OUT/complete.png" docs/screens/
  say "screenshot copied to docs/screens/"
fi

if [ "$FAILED" -ne 0 ]; then
  say "FAILED (see $OUT)"
  exit 1
fi
say "passed"
