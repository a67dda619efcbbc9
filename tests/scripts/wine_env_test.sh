#!/usr/bin/env bash
# What the Windows stage runs on each kind of machine, and through which Wine
# loader (scripts/wine_env.sh), and that scripts/wine32.sh installs nothing
# where 32-bit programs cannot run.
set -uo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
. "$HERE/../../scripts/wine_env.sh"

FAILED=0
expect() {  # what, expected, actual
  if [ "$2" = "$3" ]; then echo "ok - $1"; else echo "not ok - $1: expected \"$2\", got \"$3\""; FAILED=1; fi
}

# runs i386 | wine32 installed | ZT_FORCE_TWIN | preset, loader, reason
while IFS='|' read -r runs wine32 force expected; do
  [ -z "$runs" ] && continue
  expect "runs i386 $runs, wine32 $wine32, force $force" "$expected" \
    "$(zt_stage_decision "$runs" "$wine32" "$force")"
done <<'TABLE'
1|1|0|win32 launcher
1|0|0|win64 wine64 wine32:i386 is not installed
1|1|1|win64 wine64 ZT_FORCE_TWIN=1
0|1|0|win64 wine64 this machine cannot run 32-bit programs
0|0|0|win64 wine64 this machine cannot run 32-bit programs
0|1|1|win64 wine64 this machine cannot run 32-bit programs
TABLE

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

# The probe: a real i386 program where the binutils can make one, or the
# answer it was given.
if command -v as >/dev/null && command -v ld >/dev/null; then
  zt_runs_i386
  status=$?
  case "$ZT_I386_WHY" in
    "a static i386 program ran") expect "the probe's answer agrees with what it saw" 0 "$status" ;;
    "a static i386 program ended with"*) expect "the probe's answer agrees with what it saw" 1 "$status" ;;
    *) expect "the probe ran its program" "a static i386 program ..." "$ZT_I386_WHY" ;;
  esac
fi
ZT_RUNS_I386=0 zt_runs_i386
expect "ZT_RUNS_I386=0 answers for the machine" 1 "$?"

# The 64-bit loader by name: every Wine command goes to it, the tools as
# their programs, and Wine's own starts too.
printf '#!/bin/sh\necho "loader $*"\n' >"$WORK/loader"
printf '#!/bin/sh\necho "server $*"\n' >"$WORK/server"
chmod +x "$WORK/loader" "$WORK/server"
(
  ZT_WINE64_LOADER="$WORK/loader" ZT_WINE64_SERVER="$WORK/server"
  zt_use_wine64 "$WORK/bin"
  expect "wine is the 64-bit loader" "loader cmd /c ver" "$(wine cmd /c ver)"
  expect "wineboot is the loader's wineboot.exe" "loader wineboot.exe --init" "$(wineboot --init)"
  expect "winepath is the loader's winepath.exe" "loader winepath.exe -w /tmp" "$(winepath -w /tmp)"
  expect "wineserver is the 64-bit server" "server -k" "$(wineserver -k)"
  expect "WINELOADER names the loader for what Wine starts" "$WORK/loader" "$WINELOADER"
  exit "$FAILED"
) || FAILED=1
ZT_WINE64_LOADER="$WORK/none" zt_use_wine64 "$WORK/bin2" 2>/dev/null
expect "a missing 64-bit loader is refused" 1 "$?"

# wine32.sh asks the machine before it installs anything.
out="$(ZT_RUNS_I386=0 bash "$HERE/../../scripts/wine32.sh" 2>&1)"
expect "wine32.sh ends with 1 where 32-bit programs cannot run" 1 "$?"
expect "wine32.sh's last line says why it installed nothing" \
  "--- wine32: nothing installed: this machine cannot run 32-bit programs (ZT_RUNS_I386=0)" \
  "$(tail -n 1 <<<"$out")"

exit "$FAILED"
