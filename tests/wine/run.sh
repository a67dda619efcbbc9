#!/usr/bin/env bash
# The Windows test stage. From a fresh Debian 12 machine: installs the cross
# compilers, Wine with its 32-bit half (scripts/wine32.sh) and an X server,
# builds the win32 preset (the shipped i686 setup.exe) with its media, and
# runs the shipped program under Wine on every Windows version it supports,
# each in a 32-bit prefix of its own with Wine reporting that version and
# with the medium made for it:
#
#   win98   Windows 98 SE   medium TargetOS=Win98   contract, first, upgrade, quiet, fidelity
#   winme   Windows Me      medium TargetOS=Win98   contract, first
#   nt40    Windows NT 4.0  medium TargetOS=WinNT   contract, quiet with the forced restart
#   win2k   Windows 2000    medium TargetOS=Win2K   contract, first
#   winxp   Windows XP      medium TargetOS=Win2K   contract, screens, first, keys, upgrade, quiet, cd,
#                                                   damaged (a flipped byte in the package),
#                                                   fidelity, fit
#   wow64   the i686 program in a 64-bit prefix: contract, first, quiet
#
# contract is zentavo_contract_tests.exe (the seam's contract suite and the
# back end's own tests against the real Win32 back end); first and upgrade
# (and keys, the keyboard alone) are tests/wine/install.sh (driven by
# setup_driver.cpp), quiet is
# tests/wine/quiet.sh (setup.exe /quiet /log FILE); cd is the first
# installation from the medium's CD image (target windows_media_iso) as the
# read-only CD drive D:; fidelity is tests/wine/fidelity.sh (a capture of the
# prefix rehearsed with zentavo-sim against the real run: XP's first
# installation and upgrade, 98 SE's first installation); fit is
# tests/wine/text_fit.sh (every text of the setup window in every language at
# 96 and 120 DPI, Japanese in code page 932, and the contact sheets). The run ends with one
# table, version x case: passed, FAILED, or not run, with the notes of each
# cell. ZT_VERSIONS and ZT_CASES_<version> choose other sets (for example
# ZT_VERSIONS=winxp ZT_CASES_winxp="first").
#
# First the stage finds out whether this machine runs 32-bit programs
# (scripts/wine_env.sh runs a static i386 program). Where it cannot, or
# wine32 cannot be installed, the stage falls back to the x86_64 twin (win64
# preset) in a 64-bit prefix (twin64: contract, screens, first, keys, upgrade,
# quiet, fidelity, fit), with every Wine command through Wine's 64-bit loader by
# name (an installed wine32 would otherwise be taken by Debian's launcher and
# fail there), and its last line says that the shipped program's stage did
# not run and why.
#
# Environment:
#   ZT_SKIP_APT=1      do not install packages (they are there already)
#   ZT_FORCE_TWIN=1    run the x86_64 twin even when wine32 is there
#   ZT_RUNS_I386=0|1   take this answer instead of asking the machine
#                      (ZT_RUNS_I386=0 rehearses a machine without 32-bit
#                      programs: the twin, through the 64-bit loader)
#   ZT_MKMST=PATH      the transform tool of a native sim build for the Windows
#                      media (default build/sim/tools/mkmst/zentavo-mkmst,
#                      built here when missing)
# The prefixes are build/wine/prefix-<version>, made afresh for every run;
# each case's output is in build/wine/<version>/.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$ROOT"
STAGE_START=$SECONDS

log() { echo "--- wine stage: $* ($((SECONDS - STAGE_START)) s)"; }

# ---- packages, and what this machine can run ------------------------------------
. "$ROOT/scripts/wine_env.sh"
RUNS_I386=0
if zt_runs_i386; then RUNS_I386=1; fi
log "32-bit programs: $([ "$RUNS_I386" = 1 ] && echo "run here" || echo "do NOT run here") ($ZT_I386_WHY)"
mkdir -p "$ROOT/build/wine"
rm -f "$ROOT/build/wine/wine32-install.txt"
if [ "${ZT_SKIP_APT:-0}" != 1 ]; then
  log "installing packages"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  # An index that cannot be fetched (a mirror in sync, the i386 lists of
  # wine32 disagreeing) fails the update; the lists there are still serve the
  # packages below, whose own install fails plainly if they do not.
  $SUDO apt-get update -qq || log "apt-get update failed; installing from the package lists there are"
  # wixl and msitools build the Windows media's packages; the native
  # libraries build its transform tool when no sim build has it.
  $SUDO apt-get install -y -qq --no-install-recommends \
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 fonts-wine fonts-liberation \
    fonts-vlgothic locales xvfb xauth x11-apps imagemagick googletest cmake ninja-build xorriso \
    wixl msitools g++ pkg-config libmsi-dev libgsf-1-dev libxml2-dev nlohmann-json3-dev \
    libgtest-dev >/dev/null
  # The Japanese measurement of the fit case runs in code page 932, which
  # Wine takes from the ja_JP.UTF-8 locale.
  if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
    log "generating the ja_JP.UTF-8 locale"
    $SUDO localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 || log "the ja_JP.UTF-8 locale could not be generated"
  fi
  if [ "$RUNS_I386" = 1 ] && [ "${ZT_FORCE_TWIN:-0}" != 1 ]; then
    log "installing wine32:i386"
    bash scripts/wine32.sh >"$ROOT/build/wine/wine32-install.txt" 2>&1 || true
    sed 's/^/    /' "$ROOT/build/wine/wine32-install.txt"
  fi
fi
WINE32=0
if zt_wine32_installed; then WINE32=1; fi
read -r PRESET LOADER WINE32_NOTE <<<"$(zt_stage_decision "$RUNS_I386" "$WINE32" "${ZT_FORCE_TWIN:-0}")"
if [ "$WINE32_NOTE" = "wine32:i386 is not installed" ] && [ -s "$ROOT/build/wine/wine32-install.txt" ]; then
  WINE32_NOTE="wine32:i386 could not be installed ($(tail -n 1 "$ROOT/build/wine/wine32-install.txt" | sed 's/^--- wine32: //'))"
fi
if [ "$LOADER" = wine64 ]; then
  # Every Wine command of this script and of the cases it starts goes
  # through the 64-bit loader, whatever the launcher would take.
  zt_use_wine64 "$ROOT/build/wine/bin"
  log "Wine through its 64-bit loader $ZT_WINE64_LOADER ($WINE32_NOTE)"
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

# ---- build ---------------------------------------------------------------------
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
MKMST="${ZT_MKMST:-$ROOT/build/sim/tools/mkmst/zentavo-mkmst}"
if [ ! -x "$MKMST" ] && [ -z "${ZT_MKMST:-}" ]; then
  log "building zentavo-mkmst (sim preset) for the Windows media's transforms"
  cmake --preset sim >/dev/null
  cmake --build --preset sim --target zentavo-mkmst -j 2
fi
# zentavo-sim of the sim preset, for the fidelity case (tests/wine/fidelity.sh);
# brought up to date here unless ZT_SIM names one.
SIM="${ZT_SIM:-$ROOT/build/sim/zentavo-sim}"
if [ -z "${ZT_SIM:-}" ]; then
  log "building zentavo-sim (sim preset) for the fidelity case"
  cmake --preset sim >/dev/null
  cmake --build --preset sim --target zentavo-sim -j 2 >/dev/null
fi
if [ "$PRESET" = win32 ]; then
  DEFAULT_VERSIONS="win98 winme nt40 win2k winxp wow64"
else
  # The fallback: the x86_64 twin, in a 64-bit prefix, with XP's cases.
  DEFAULT_VERSIONS="twin64"
fi
BUILD="$ROOT/build/$PRESET"
log "building the $PRESET preset and its Windows media"
cmake --preset "$PRESET" -DZT_MKMST="$MKMST" >/dev/null
cmake --build --preset "$PRESET" -j 2
cmake --build --preset "$PRESET" --target windows_media windows_media_iso -j 2

STATUS=0
RESULTS="$ROOT/build/wine/results.txt"
mkdir -p "$ROOT/build/wine"
: >"$RESULTS"

# record VERSION CASE RESULT NOTE: a cell of the summary table.
record() {
  printf '%s|%s|%s|%s\n' "$1" "$2" "$3" "$4" >>"$RESULTS"
  if [ "$3" = FAILED ]; then STATUS=1; fi
  log "$1 $2: $3${4:+ ($4)}"
}

# Waits until the prefix is idle; a program that hangs on is ended, and the
# stage fails, instead of stalling the run.
idle() {
  if ! timeout 120 wineserver -w; then
    echo "wine stage: the prefix did not become idle after $1" >&2
    wineserver -k >/dev/null 2>&1 || true
    STATUS=1
  fi
}

# What each version runs, its medium and what its analysis says of the
# run-time libraries (ZT_CASES_<version> overrides the cases).
version_cases() {
  local own="ZT_CASES_$1"
  if [ -n "${!own:-}" ]; then echo "${!own}"; return; fi
  case "$1" in
    # 98 SE's fidelity runs on the fresh prefix: the first installation leaves
    # the stand-in vcredist.exe's MFC42.DLL behind, a change the case expects.
    win98) echo "contract fidelity first upgrade quiet" ;;
    winxp) echo "contract screens first keys net upgrade quiet cd damaged fidelity fit" ;;
    winme | win2k) echo "contract first" ;;
    nt40) echo "contract quiet" ;;
    wow64) echo "contract first quiet" ;;
    twin64) echo "contract screens first keys upgrade quiet fidelity fit" ;;
  esac
}
version_medium() {
  case "$1" in
    win98 | winme) echo "$BUILD/windows-medium-Win98" ;;
    nt40) echo "$BUILD/windows-medium-WinNT" ;;
    *) echo "$BUILD/windows-medium" ;;
  esac
}
version_image() {
  case "$1" in
    win98 | winme) echo "$BUILD/cd/Zentavo-Win98.iso" ;;
    nt40) echo "$BUILD/cd/Zentavo-WinNT.iso" ;;
    *) echo "$BUILD/cd/Zentavo-Win2K.iso" ;;
  esac
}
version_name() {
  case "$1" in
    win98) echo "Windows 98 SE" ;; winme) echo "Windows Me" ;; nt40) echo "Windows NT 4.0" ;;
    win2k) echo "Windows 2000" ;; winxp) echo "Windows XP" ;;
    wow64) echo "64-bit prefix (i686 setup.exe)" ;; twin64) echo "64-bit prefix (x86_64 twin)" ;;
  esac
}

boot_prefix() {  # version
  export WINEPREFIX="$ROOT/build/wine/prefix-$1"
  case "$1" in wow64 | twin64) export WINEARCH=win64 ;; *) export WINEARCH=win32 ;; esac
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1
  wineserver -w
  case "$1" in
    wow64 | twin64) ;;
    *) wine reg add 'HKCU\Software\Wine' /v Version /d "$1" /f >/dev/null 2>&1
       wineserver -w ;;
  esac
  log "$1: prefix $WINEPREFIX ($WINEARCH), Wine reports: $(wine cmd /c ver 2>/dev/null | tr -d '\r' | grep -v '^$')"
}

# Runs one case; its output goes to build/wine/<version>/<case>.txt.
run_case() {  # version case
  local version="$1" name="$2" out="$ROOT/build/wine/$1" medium runtime_line=""
  local -a env=(ZT_WIN64_BUILD="$BUILD")
  mkdir -p "$out"
  medium="$(version_medium "$version")"
  # Windows Me has the run-time libraries the setup asks for; 98 and NT 4.0
  # get them from the medium's vcredist.exe.
  case "$version" in
    win98 | nt40) runtime_line="run-time libraries will be updated" ;;
  esac
  if [ "$version" = wow64 ]; then
    env+=(ZT_REG_VIEW=32 "ZT_PROGRAM_FILES=C:\\Program Files (x86)")
  fi
  env+=(ZT_MEDIUM="$medium" ZT_WINDOWS_VERSION="$version")
  [ -n "$runtime_line" ] && env+=(ZT_RUNTIME_LINE="$runtime_line")
  local log_file="$out/$name.txt" status=0 checks
  case "$version:$name" in
    win98:upgrade | winme:upgrade)
      # The 9x lookup of the running product finds its window's program with
      # GetWindowModuleFileName, which under Wine names no other process's
      # module (as on NT): the running earlier copy cannot be found there.
      record "$version" upgrade "n/p" "not possible under Wine: the 9x window lookup of the running product (GetWindowModuleFileName names no other process's module)"
      return ;;
  esac
  case "$name" in
    contract)
      timeout 600 wine "$BUILD/tests/wine/zentavo_contract_tests.exe" --gtest_color=no \
        >"$log_file" 2>&1 || status=$?
      idle "the contract tests"
      checks="$(tr -d '\r' <"$log_file" | sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1 passed/p')"
      if [ "$status" -ne 0 ]; then
        record "$version" contract FAILED "$(tr -d '\r' <"$log_file" | grep -c '^\[  FAILED  \] [A-Z]' || true) failed; see $log_file"
      else
        record "$version" contract passed "$checks"
      fi
      return ;;
    first | net | upgrade | damaged | keys)
      env "${env[@]}" ZT_INSTALL_CASES="$name" ZT_INSTALL_OUT="$out/$name" \
        bash tests/wine/install.sh >"$log_file" 2>&1 || status=$? ;;
    quiet)
      [ "$version" = nt40 ] && env+=(ZT_QUIET_RESTART=1)
      env "${env[@]}" ZT_QUIET_OUT="$out/quiet" bash tests/wine/quiet.sh >"$log_file" 2>&1 || status=$? ;;
    cd)
      # The first installation from the CD: the image's files as drive D:,
      # read-only and of type cdrom; nothing may be written to it.
      local image cd_root
      image="$(version_image "$version")"
      cd_root="$ROOT/build/wine/cd-$version"
      [ -d "$cd_root" ] && chmod -R u+w "$cd_root"
      rm -rf "$cd_root"
      mkdir -p "$cd_root"
      if ! xorriso -osirrox on -indev "$image" -extract / "$cd_root" >"$log_file" 2>&1; then
        record "$version" cd FAILED "the image $image could not be read"
        return
      fi
      chmod -R a-w "$cd_root"
      ln -sfn "$cd_root" "$WINEPREFIX/dosdevices/d:"
      wine reg add 'HKLM\Software\Wine\Drives' /v d: /d cdrom /f >/dev/null 2>&1
      wineserver -w
      local before
      before="$(cd "$cd_root" && find . -printf '%p %s %T@\n' | sort | md5sum)"
      env "${env[@]}" ZT_CD_ROOT="$cd_root" ZT_INSTALL_CASES=first ZT_INSTALL_OUT="$out/cd" \
        bash tests/wine/install.sh >>"$log_file" 2>&1 || status=$?
      if [ "$before" = "$(cd "$cd_root" && find . -printf '%p %s %T@\n' | sort | md5sum)" ]; then
        echo "ok - nothing was written to the CD" >>"$log_file"
      else
        echo "not ok - nothing was written to the CD" >>"$log_file"
        status=1
      fi
      if grep -qi '^open=setup.exe' "$cd_root/autorun.inf" 2>/dev/null; then
        echo "ok - the CD's autorun.inf starts setup.exe" >>"$log_file"
      else
        echo "not ok - the CD's autorun.inf starts setup.exe" >>"$log_file"
        status=1
      fi ;;
    screens)
      env "${env[@]}" bash tests/wine/screens.sh >"$log_file" 2>&1 || status=$? ;;
    fit)
      # Every text in every language at 96 and 120 DPI; the DPI goes back to
      # 96 for the cases after it.
      env "${env[@]}" ZT_FIT_OUT="$out/fit" bash tests/wine/text_fit.sh >"$log_file" 2>&1 || status=$?
      grep -E '^(CLIPPED|--- text fit: .*Japanese NOT measured)' "$log_file" | sed 's/^/    /' || true ;;
    fidelity)
      # The rehearsal of a capture of this prefix against the real run.
      local fidelity_cases="xp-first xp-upgrade"
      [ "$version" = win98 ] && fidelity_cases="98-first"
      [ "$version" = twin64 ] && fidelity_cases="x64-first x64-upgrade"
      env "${env[@]}" ZT_SIM="$SIM" ZT_FIDELITY_CASES="$fidelity_cases" \
        ZT_FIDELITY_OUT="$out/fidelity" bash tests/wine/fidelity.sh >"$log_file" 2>&1 || status=$?
      idle "the case $name"
      local counts
      counts="$(sed -n 's/^fidelity //p' "$log_file" | paste -sd '|' - | sed 's/|/; /g')"
      if [ "$status" -eq 0 ]; then
        record "$version" fidelity passed "$counts"
      else
        record "$version" fidelity FAILED "${counts:+$counts; }see $log_file"
      fi
      return ;;
  esac
  idle "the case $name"
  checks="$(grep -c '^ok - ' "$log_file" || true) checks"
  if [ "$status" -eq 0 ]; then
    record "$version" "$name" passed "$checks"
  else
    record "$version" "$name" FAILED "$(grep -c '^not ok - ' "$log_file" || true) of $checks failed; see $log_file"
  fi
}

for version in ${ZT_VERSIONS:-$DEFAULT_VERSIONS}; do
  started=$SECONDS
  boot_prefix "$version"
  for name in $(version_cases "$version"); do
    run_case "$version" "$name"
  done
  wineserver -k >/dev/null 2>&1 || true
  record "$version" time "$((SECONDS - started)) s" ""
done

# ---- the summary table -----------------------------------------------------------
ALL_CASES="contract first keys net upgrade quiet cd screens fit damaged fidelity"
echo
echo "Windows stage: $( [ "$PRESET" = win32 ] && echo "the shipped i686 setup.exe" || echo "the x86_64 twin")"
printf '%-32s' "version"
for name in $ALL_CASES time; do printf '%-10s' "$name"; done
echo
for version in ${ZT_VERSIONS:-$DEFAULT_VERSIONS}; do
  printf '%-32s' "$(version_name "$version")"
  for name in $ALL_CASES time; do
    cell="$(awk -F'|' -v v="$version" -v c="$name" '$1 == v && $2 == c { print $3 }' "$RESULTS")"
    printf '%-10s' "${cell:--}"
  done
  echo
done
echo "notes:"
awk -F'|' '$4 != "" { printf "  %s %s: %s\n", $1, $2, $4 }' "$RESULTS"
echo "  -: not run in this stage (the cases of each version are chosen to fit the CI's time)"
echo "  not possible under Wine: the 9x Windows Installer redistributable and its restart"
echo "  (Wine's own Windows Installer is always present and recent), the 9x window lookup of"
echo "  the running product (Wine's GetWindowModuleFileName does not name another process's"
echo "  module) and the user's registry data (Wine's RegRestoreKey is a stub); see the README"

if [ "$STATUS" -ne 0 ]; then
  log "FAILED$([ "$PRESET" = win32 ] || echo " (the x86_64 twin, because $WINE32_NOTE)")"
  exit 1
fi
if [ "$PRESET" != win32 ]; then
  log "passed with the x86_64 twin through Wine's 64-bit loader: the shipped i686 setup.exe's stage did NOT run, because $WINE32_NOTE"
  exit 0
fi
log "passed"
