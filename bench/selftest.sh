#!/usr/bin/env bash
# Checks the bench's own tools before bench/run.sh trusts their figures:
# startup_profile.sh on a made-up trace and log, size_map.sh on a made-up
# linker map, rehearsal_parts.sh on a made-up profile, and winwait on the floor
# program under Wine (a window found, a title not found, a program that ends
# first, --ready, --idle, and nothing left running afterwards), and that the
# setup's window is told from its full-screen background (when OUT/medium
# holds setup.exe).
#
#   selftest.sh OUT     OUT holds winwait, floor.exe and medium/; needs DISPLAY and a
#                       booted WINEPREFIX, and ZT_BENCH_SCREEN, the display's
#                       size as WIDTHxHEIGHT (bench/run.sh provides them)
# Prints "ok"/"not ok" lines; exit status 1 when any check fails.
set -uo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
OUT="$1"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
FAILED=0

check() {  # description, then a command that must succeed
  local what="$1"
  shift
  if "$@"; then echo "ok - $what"; else echo "not ok - $what"; FAILED=1; fi
}
has() { grep -qF -- "$2" <<<"$1"; }

# ---- startup_profile.sh --------------------------------------------------------------
# The desktop's thread (0030) loads its own libraries before and after the
# setup starts: only the thread that loaded setup.exe counts. The log has
# Windows line ends.
cat >"$WORK/trace.txt" <<'EOF'
100.010:0030:trace:loaddll:build_module Loaded L"C:\\windows\\system32\\winex11.drv" at 0000000251D80000: builtin
100.050:0020:trace:loaddll:build_module Loaded L"Z:\\medium\\setup.exe" at 0000000140000000: native
100.060:0030:trace:loaddll:build_module Loaded L"C:\\windows\\system32\\msxml3.dll" at 00000002EC2E0000: builtin
100.090:0020:trace:loaddll:build_module Loaded L"C:\\windows\\system32\\winex11.drv" at 0000000251D80000: builtin
100.120:0020:trace:loaddll:build_module Loaded L"C:\\windows\\system32\\msxml3.dll" at 00000002EC2E0000: builtin
100.121:0020:err:ole:com_get_class_object class not registered
EOF
printf '%s\r\n' "Zentavo Installation Log  01.02.2026  10:00:00" \
  "01.02.2026 10:00:00.00018704 package info: 2.0 Desktop" \
  "01.02.2026 10:00:00.0001870e loading Z:\\medium\\SetupLanguages.xml" \
  "01.02.2026 10:00:00.00018722 Install language=1033 ENGLISH_US" \
  "01.02.2026 10:00:00.0001872c movie Z:\\medium\\install.swf" \
  "01.02.2026 10:00:00.0001872d background created" \
  "01.02.2026 10:00:01.000187a0 movie shown again" >"$WORK/log.txt"
PROFILE="$(bash "$HERE/startup_profile.sh" "$WORK/trace.txt" "$WORK/log.txt" \
  "window_ms=160.0 start_tick_ms=100000.0")"
EXPECTED="setup.exe mapped by the Wine loader|at 50 ms (+50 ms)
display driver up (winex11.drv: user32 joins the desktop)|at 90 ms (+40 ms)
first log line (setup.ini read, the checks begin)|at 100 ms (+10 ms)
language file: loading starts|at 110 ms (+10 ms)
XML parser loaded (msxml3.dll and what it pulls in)|at 120 ms (+10 ms)
language file loaded, language chosen|at 130 ms (+10 ms)
background window: movie control asked for|at 140 ms (+10 ms)
background window created|at 141 ms (+1 ms)
setup window mapped (what winwait times)|at 160 ms (+19 ms)"
check "startup_profile.sh lays the trace, the log and the window on one clock" \
  test "$PROFILE" = "$EXPECTED"
[ "$PROFILE" = "$EXPECTED" ] || diff <(echo "$EXPECTED") <(echo "$PROFILE") >&2
check "startup_profile.sh says so when the run showed no window" \
  has "$(bash "$HERE/startup_profile.sh" "$WORK/trace.txt" "$WORK/log.txt" "")" "no window"

# ---- size_map.sh ---------------------------------------------------------------------------
# A made-up map in the linker's layout: the discarded sections before the
# memory map do not count, a long section name puts its figures on the next
# line, padding (*fill*) and symbols are not inputs, archive members are
# counted under their library.
cat >"$WORK/setup.map" <<'EOF'
Discarded input sections

 .text$_Z6UnusedV
                0x00000000       0x40 CMakeFiles/zentavo_core.dir/src/app/log.cpp.obj

Linker script and memory map

.text           0x00401000     0x1000
 .text          0x00401000      0x100 /usr/lib/crt2.o
                0x00401000                WinMainCRTStartup
 .text$_ZN11CInstallLog4LogVEPKcPc
                0x00401100      0x200 libzentavo_core.a(log.cpp.obj)
 *fill*         0x00401300        0x4 
 .text$_ZNSt8_Rb_tree 0x00401304       0x30 /usr/lib/libstdc++.a(tree.o)
.rdata          0x00402000      0x200
 .rdata         0x00402000       0x24 libzentavo_core.a(log.cpp.obj)
.rsrc           0x00403000      0x400
 .rsrc          0x00403000      0x3a0 CMakeFiles/setup.dir/src/res/setup.rc.res
EOF
SIZES="$(bash "$HERE/size_map.sh" "$WORK/setup.map" 2)"
EXPECTED_SIZES="library|setup|928
library|libzentavo_core.a|548
object|setup.rc.res (setup)|928
object|log.cpp.obj (libzentavo_core.a)|548
section|.text|4096
section|.rsrc|1024
section|.rdata|512
total|input sections|1780"
check "size_map.sh sums the placed input sections by library and object file, largest first" \
  test "$SIZES" = "$EXPECTED_SIZES"
[ "$SIZES" = "$EXPECTED_SIZES" ] || diff <(echo "$EXPECTED_SIZES") <(echo "$SIZES") >&2
check "size_map.sh refuses a missing map" \
  bash -c "! bash '$HERE/size_map.sh' '$WORK/none.map' 2>/dev/null"

# ---- rehearsal_parts.sh ------------------------------------------------------------------
# A made-up callgrind profile of two rehearsals: each part is its function's
# inclusive share of RunRehearsal, largest first, and the whole is divided by
# the rehearsals the profile ran.
if command -v callgrind_annotate >/dev/null; then
  cat >"$WORK/rehearsal.callgrind" <<'EOF'
version: 1
creator: made-up
events: Ir
fl=runner.cpp
fn=RunRehearsal(RunnerOptions const&)
1 400000
cfl=language_strings.cpp
cfn=LoadLanguageFile(CLanguageStrings&)
calls=1 1
1 1000000
cfl=sha256.cpp
cfn=CSha256::Block(unsigned char const*)
calls=4 1
1 600000
fl=language_strings.cpp
fn=LoadLanguageFile(CLanguageStrings&)
1 1000000
fl=sha256.cpp
fn=CSha256::Block(unsigned char const*)
1 600000
EOF
  PARTS="$(bash "$HERE/rehearsal_parts.sh" "$WORK/rehearsal.callgrind" 2)"
  EXPECTED_PARTS="the language file's load|50.0 %
SHA-256 blocks (all callers)|30.0 %
whole rehearsal|1.0 million instructions"
  check "rehearsal_parts.sh gives each part's share of the rehearsal and one rehearsal's count" \
    test "$PARTS" = "$EXPECTED_PARTS"
  [ "$PARTS" = "$EXPECTED_PARTS" ] || diff <(echo "$EXPECTED_PARTS") <(echo "$PARTS") >&2
fi

# ---- winwait -----------------------------------------------------------------------------
WW="$OUT/winwait"
FLOOR="$OUT/floor.exe"
# The floor programs that show a window (not the one holding the desktop).
floors_running() { pgrep -f 'floor\.exe$' >/dev/null; }

"$WW" --bogus >/dev/null 2>&1
check "winwait refuses an unknown option (exit 2)" test $? -eq 2

start=$SECONDS
"$WW" --title "never" --timeout 20 -- sh -c 'exit 0' >/dev/null 2>&1
status=$?
check "winwait reports a program that ends without a window (exit 1)" test "$status" -eq 1
check "winwait does not wait out its time limit for a program that has ended" \
  test $((SECONDS - start)) -lt 10

LINE="$("$WW" --title "Zentavo floor" --timeout 30 -- wine "$FLOOR")"
status=$?
check "winwait finds the floor's window (exit 0, window_ms)" \
  test "$status" -eq 0 -a -n "$(sed -n 's/.*window_ms=\([0-9.]*\).*/\1/p' <<<"$LINE")"
check "winwait reports the start on Wine's clock" has "$LINE" "start_tick_ms="
check "winwait reports the program's CPU time up to its window" has "$LINE" "window_cpu_ms="
sleep 1
check "winwait leaves no program running" bash -c '! pgrep -f "floor\.exe$" >/dev/null'

LINE="$("$WW" --title "no such window" --timeout 4 -- wine "$FLOOR" 2>/dev/null)"
status=$?
check "winwait does not take a window of another title (exit 1)" test "$status" -eq 1
sleep 1
check "winwait ends the program whose window it did not find" bash -c '! pgrep -f "floor\.exe$" >/dev/null'

READY="$WORK/ready.txt"
(sleep 2 && printf 'starting\0waiting for input\n' >"$READY") &
LINE="$("$WW" --title "Zentavo floor" --timeout 30 --ready "$READY" "waiting for input" -- wine "$FLOOR")"
status=$?
wait
READY_MS="$(sed -n 's/.*ready_ms=\([0-9.]*\).*/\1/p' <<<"$LINE")"
check "winwait --ready waits for the text, past a NUL in the file" \
  awk -v r="$READY_MS" -v s="$status" 'BEGIN { exit !(s == 0 && r + 0 >= 2000) }'

LINE="$("$WW" --title "Zentavo floor" --timeout 4 --ready "$WORK/none.txt" "x" -- wine "$FLOOR")"
status=$?
check "winwait --ready fails when the text never comes" \
  bash -c "[ $status -eq 1 ] && grep -q 'ready=none' <<<'$LINE'"

LINE="$("$WW" --title "Zentavo floor" --timeout 30 --settle 0.5 --idle 1 -- wine "$FLOOR")"
check "winwait --idle counts the program's threads, CPU time and wake-ups" \
  bash -c "grep -q 'idle_cpu_ms=[0-9.]* idle_wakeups=[0-9]* gui_thread_cpu_ms=[0-9.]* gui_thread_wakeups=[0-9]* threads=[1-9]' <<<'$LINE'"
sleep 1
floors_running && { echo "not ok - a floor program is left running" ; FAILED=1; }

# The setup's window, not its full-screen background of the same title.
if [ -f "$OUT/medium/setup.exe" ]; then
  SCREEN="${ZT_BENCH_SCREEN:-1024x768}"
  LINE="$(cd "$OUT/medium" && "$WW" --title "Zentavo Install" --skip-fullscreen --timeout 60 \
            -- wine setup.exe /l 1033)"
  SIZE="$(sed -n 's/.*window_size=\([0-9]*x[0-9]*\).*/\1/p' <<<"$LINE")"
  check "winwait --skip-fullscreen times the setup window ($SIZE), not the background ($SCREEN)" \
    bash -c "[ -n '$SIZE' ] && [ -n '$SCREEN' ] && [ '$SIZE' != '$SCREEN' ] && [ '$SIZE' != 0x0 ]"
fi

exit "$FAILED"
