#!/usr/bin/env bash
# The bench: what setup.exe weighs, how fast its window appears under Wine,
# what it costs while it waits, and what a rehearsal costs. From a fresh
# Debian 12 machine: installs its packages, builds in its own folders
# (build/bench-win32, build/bench-win64, build/bench-sim, build/bench), boots
# a 64-bit Wine prefix on a virtual display (build/bench-wine/prefix, kept for
# the next run) and prints one table. docs/performance.md reads it.
#
#   bash bench/run.sh
#
# Environment:
#   ZT_SKIP_APT=1        do not install packages (they are there already)
#   ZT_BENCH_RUNS=N      timed runs of each program (default 21, at least 10)
#   ZT_BENCH_PROFILE=0   leave out where the setup's start-up goes
#   WINEPREFIX=DIR       a prefix of one's own instead of build/bench-wine/prefix
#
# Time to window: from just before the program is started to the X server
# mapping its window (bench/winwait.c), under a prefix that is booted and a
# wineserver that stays up. Two pairs, each of programs of one width:
#
#   64-bit   the setup's x86_64 twin against the NSIS peer's amd64-unicode
#            stub, in a 64-bit prefix, with the floor (bench/floor.c, a plain
#            window with a text and a button); on every machine, through
#            Wine's 64-bit loader by name (scripts/wine_env.sh), whatever
#            Debian's launcher would take
#   32-bit   the shipped i686 setup.exe against the x86-unicode stub, in a
#            32-bit prefix (build/bench-wine/prefix32), through the 32-bit
#            loader; only where this machine runs 32-bit programs and
#            wine32:i386 is (or can be) installed
#
# The setup runs as the shipped program would, from a copy of the demo
# medium, with /l 1033. The programs of a pair are timed in the same rounds,
# one after the other, so that a busy machine weighs on them alike. Timings
# are medians; nothing here asserts them.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
RUNS="${ZT_BENCH_RUNS:-21}"
[ "$RUNS" -ge 10 ] 2>/dev/null || RUNS=10
OUT="$ROOT/build/bench"
START=$SECONDS

say() { echo "--- bench: $* ($((SECONDS - START)) s)" >&2; }

# ---- packages, and what this machine can run ---------------------------------------
. scripts/wine_env.sh
RUNS_I386=0
if zt_runs_i386; then RUNS_I386=1; fi
say "32-bit programs: $([ "$RUNS_I386" = 1 ] && echo "run here" || echo "do not run here") ($ZT_I386_WHY)"
if [ "${ZT_SKIP_APT:-0}" != 1 ]; then
  say "packages"
  bash scripts/deps.sh wine wine64 fonts-wine xvfb xauth nsis gcc libx11-dev file procps \
    valgrind >&2
  # wine32 only where it can run: installed where it cannot, it would take
  # every call of Debian's launcher.
  if [ "$RUNS_I386" = 1 ]; then bash scripts/wine32.sh >&2 || true; fi
fi
PAIR32=""
if [ "$RUNS_I386" = 1 ] && zt_wine32_installed; then
  PAIR32=yes
else
  PAIR32_WHY="$([ "$RUNS_I386" = 1 ] && echo "wine32:i386 is not installed" || echo "this machine cannot run 32-bit programs")"
fi
WINE32_LOADER=/usr/lib/wine/wine

# ---- builds --------------------------------------------------------------------
LAUNCHER=()
if command -v ccache >/dev/null; then
  LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
build() {  # preset, folder, targets...
  local preset="$1" dir="$2"
  shift 2
  say "building $* ($preset preset, $dir)"
  cmake --preset "$preset" -B "$dir" "${LAUNCHER[@]}" >/dev/null
  cmake --build "$dir" -j2 --target "$@" >&2
}
build win32 build/bench-win32 setup flashstub
build win64 build/bench-win64 setup flashstub
build sim build/bench-sim zentavo-bench-sim

mkdir -p "$OUT"
say "building the bench's own programs in $OUT"
gcc -std=c11 -O2 -Wall -Wextra -Werror bench/winwait.c -o "$OUT/winwait" -lX11
x86_64-w64-mingw32-gcc -std=c11 -O2 -Wall -Wextra -Werror -mwindows bench/floor.c \
  -o "$OUT/floor.exe"
# The 32-bit prefix's desktop is held by a 32-bit floor.
i686-w64-mingw32-gcc -std=c11 -O2 -Wall -Wextra -Werror -mwindows bench/floor.c \
  -o "$OUT/floor32.exe"
makensis -V2 -DOUTFILE="$OUT/peer.exe" bench/peer.nsi >&2
makensis -V2 -DOUTFILE="$OUT/peer32.exe" -DTARGET=x86-unicode bench/peer.nsi >&2

# ---- sizes -----------------------------------------------------------------------
# The shipped program is the win32 preset's (MinSizeRel, linked with -s);
# stripping a copy again shows that nothing is left to strip.
cp build/bench-win32/setup.exe "$OUT/setup-i686.exe"
i686-w64-mingw32-strip "$OUT/setup-i686.exe"
SIZE_SETUP=$(stat -c %s "$OUT/setup-i686.exe")
SIZE_PEER=$(stat -c %s "$OUT/peer.exe")
SIZE_PEER32=$(stat -c %s "$OUT/peer32.exe")
SIZE_FLOOR=$(stat -c %s "$OUT/floor.exe")
# Where its bytes go: the linker's map of the same build, summed by library
# and by object file (bench/size_map.sh).
SIZE_MAP="$(bash bench/size_map.sh build/bench-win32/setup.map 10 || true)"

# ---- the rehearsal's costs ------------------------------------------------------------
# Before Wine and the display start: their servers and the desktop keep
# running between the rounds, and on a machine of two cores (a virtual one
# counts the host's other work as its own) they doubled the medians of a
# process's CPU time while its fastest runs stayed the same.
say "rehearsal costs (zentavo-bench-sim)"
SIM="$(build/bench-sim/bench/zentavo-bench-sim --machine docs/machines/xp-upgrade.json --runs 21)"
# What a rehearsal spends its time on: two rehearsals under callgrind, the
# shares of their parts (bench/rehearsal_parts.sh); instruction counts do
# not depend on the machine's load.
REHEARSAL_PARTS=""
if command -v valgrind >/dev/null && command -v callgrind_annotate >/dev/null; then
  say "rehearsal profile (callgrind, two rehearsals)"
  if valgrind --tool=callgrind --callgrind-out-file="$OUT/rehearsal.callgrind" \
       --toggle-collect='*BenchRehearsal*' build/bench-sim/bench/zentavo-bench-sim \
       --machine docs/machines/xp-upgrade.json --runs 2 --only rehearsal >/dev/null 2>&1; then
    REHEARSAL_PARTS="$(bash bench/rehearsal_parts.sh "$OUT/rehearsal.callgrind" 2 || true)"
  fi
fi

# ---- the medium the setup runs from ---------------------------------------------------
# The demo medium's files, but for the stand-ins of the simulation that are not
# Windows programs (beside setup.exe they would shadow the system's own
# libraries), with the win64 build's movie control and a manifest.
lay_medium() {  # folder, build folder (its setup.exe and movie control)
  local medium="$1" build="$2" file
  rm -rf "$medium"
  mkdir -p "$medium/System32"
  cp "$build/setup.exe" "$medium/"
  for file in medium/* medium/System32/*; do
    [ -f "$file" ] || continue
    case "$file" in
      *.dll|*.ocx|*.exe) file -b "$file" | grep -q '^PE32' || continue ;;
    esac
    case "$file" in
      medium/System32/*) cp "$file" "$medium/System32/" ;;
      *) cp "$file" "$medium/" ;;
    esac
  done
  cp "$build/medium/System32/swflash.ocx" "$medium/System32/"
  # The manifest, as the medium targets write it for what they lay out: the
  # setup checks its start-up files against it before its window, as shipped.
  (cd "$medium" && find . -type f ! -name medium.sha | sed 's|^\./||' | LC_ALL=C sort |
     while IFS= read -r file; do sha256sum "$file"; done >medium.sha)
}
MEDIUM="$OUT/medium"
lay_medium "$MEDIUM" build/bench-win64
MEDIUM32="$OUT/medium32"
lay_medium "$MEDIUM32" build/bench-win32

# ---- a virtual display and a warm prefix ---------------------------------------------
XVFB_PID=""
DISPLAY_FILE="$(mktemp)"
PREFIX32="$ROOT/build/bench-wine/prefix32"
cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
  fi
  if [ -d "$PREFIX32" ]; then WINEPREFIX="$PREFIX32" wineserver -k >/dev/null 2>&1 || true; fi
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
  rm -f "$DISPLAY_FILE"
}
trap cleanup EXIT
export ZT_BENCH_SCREEN=1024x768
Xvfb -displayfd 3 -screen 0 "${ZT_BENCH_SCREEN}x24" -nolisten tcp 3>"$DISPLAY_FILE" >/dev/null 2>&1 &
XVFB_PID=$!
for _ in $(seq 1 100); do
  [ -s "$DISPLAY_FILE" ] && break
  sleep 0.1
done
if [ ! -s "$DISPLAY_FILE" ]; then
  echo "bench: Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=":$(head -n1 "$DISPLAY_FILE")"

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# The 64-bit pair through the 64-bit loader by name: with wine32 installed,
# Debian's launcher would take the 32-bit loader, which cannot run on some
# machines and elsewhere starts a 64-bit program outside its process tree.
zt_use_wine64 "$ROOT/build/bench-wine/bin"
export WINEARCH=win64
export WINEPREFIX="${WINEPREFIX:-$ROOT/build/bench-wine/prefix}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  say "booting the prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1
  timeout 120 wineserver -w
fi
# Without a window manager Wine draws the frames itself, with the caption
# buttons from the Marlett font.
FONTS="$WINEPREFIX/drive_c/windows/Fonts"
if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$FONTS/marlett.ttf" ]; then
  mkdir -p "$FONTS" && cp /usr/share/wine/fonts/marlett.ttf "$FONTS/"
fi
# A server that stays up between the runs (a server left from before is
# ended first: -p cannot make it stay), and a program that keeps Wine's
# desktop (explorer.exe) in use: the prefix is warm, as a Windows machine is
# booted before a setup starts.
wineserver -k >/dev/null 2>&1 || true
timeout 60 wineserver -w || true
wineserver -p
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
wine "$OUT/floor.exe" /hold >/dev/null 2>&1 &
TEMP_WIN="$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')"
SETUP_LOG="$(winepath -u "$TEMP_WIN\\ZentavoInstall.log" 2>/dev/null)"

# One run of one program: prints its winwait line. The setup's window is told
# from its full-screen background, which has the same title, by its size.
run_setup() {
  (cd "$MEDIUM" && "$OUT/winwait" --title "Zentavo Install" --skip-fullscreen "$@" \
     -- wine setup.exe /l 1033)
}
run_floor() { "$OUT/winwait" --title "Zentavo floor" "$@" -- wine "$OUT/floor.exe"; }
run_peer() { "$OUT/winwait" --title "Zentavo peer" "$@" -- wine "$OUT/peer.exe"; }

field() {  # key, line
  sed -n "s/.*\\b$1=\\([^ ]*\\).*/\\1/p" <<<"$2"
}
median() {  # numbers on stdin, one a line
  sort -g | awk '{ v[NR] = $1 } END {
    if (NR == 0) { print "n/a"; exit }
    if (NR % 2) print v[(NR + 1) / 2]; else printf "%.1f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# A killed program's end is still being cleaned up for a moment: the next
# start waits for it, so that the runs do not overlap.
settle() { sleep 0.5; }

say "checking the bench's own tools (bench/selftest.sh)"
if ! bash bench/selftest.sh "$OUT" >&2; then
  echo "bench: the bench's own tools failed their checks" >&2
  exit 1
fi

say "warming up (two runs of each program)"
for _ in 1 2; do
  for program in setup floor peer; do
    "run_$program" --timeout 60 >/dev/null || true
    settle
  done
done

say "timing: $RUNS rounds of setup, floor and peer (load: $(cut -d' ' -f1-3 /proc/loadavg))"
: >"$OUT/times.txt"
for round in $(seq 1 "$RUNS"); do
  for program in setup floor peer; do
    line="$("run_$program" --timeout 30 || true)"
    ms="$(field window_ms "$line")"
    cpu="$(field window_cpu_ms "$line")"
    echo "$program ${ms:-none} ${cpu:-none}" >>"$OUT/times.txt"
    settle
  done
  say "round $round: $(tail -n 3 "$OUT/times.txt" | tr '\n' ' ') (program, ms, CPU ms)"
done
times_of() { awk -v p="$1" '$1 == p && $2 != "none" { print $2 }' "$OUT/times.txt"; }
T_SETUP=$(times_of setup | median)
T_FLOOR=$(times_of floor | median)
T_PEER=$(times_of peer | median)
N_SETUP=$(times_of setup | wc -l)
N_FLOOR=$(times_of floor | wc -l)
N_PEER=$(times_of peer | wc -l)
minimum() { sort -g | head -n1; }
cpu_of() { awk -v p="$1" '$1 == p && $3 != "none" { print $3 }' "$OUT/times.txt"; }
C_SETUP=$(cpu_of setup | median)
C_FLOOR=$(cpu_of floor | median)
C_PEER=$(cpu_of peer | median)
M_SETUP=$(times_of setup | minimum)
M_FLOOR=$(times_of floor | minimum)
M_PEER=$(times_of peer | minimum)

say "idle: 5 s of each program waiting for a button"
# The setup's steps run on its timer until it logs that it waits for input;
# the count starts a second after that.
rm -f "$SETUP_LOG"
IDLE_SETUP="$(run_setup --timeout 60 --ready "$SETUP_LOG" "waiting for input" --settle 1 --idle 5 || true)"
settle
IDLE_FLOOR="$(run_floor --timeout 30 --settle 2 --idle 5 || true)"
settle
IDLE_PEER="$(run_peer --timeout 30 --settle 2 --idle 5 || true)"
settle

# ---- the 32-bit pair -------------------------------------------------------------------
# The shipped i686 setup.exe against the x86-unicode stub, in a 32-bit prefix
# through the 32-bit loader, in rounds of their own.
T_SETUP32="n/a" T_PEER32="n/a" C_SETUP32="n/a" C_PEER32="n/a" N_SETUP32=0 N_PEER32=0
if [ -n "$PAIR32" ]; then
  in32() { WINEPREFIX="$PREFIX32" WINEARCH=win32 WINELOADER="$WINE32_LOADER" "$@"; }
  if [ ! -f "$PREFIX32/system.reg" ]; then
    say "booting the 32-bit prefix $PREFIX32"
    mkdir -p "$PREFIX32"
    in32 "$WINE32_LOADER" wineboot.exe --init >/dev/null 2>&1
    in32 timeout 120 wineserver -w
  fi
  if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
    mkdir -p "$PREFIX32/drive_c/windows/Fonts"
    cp -n /usr/share/wine/fonts/marlett.ttf "$PREFIX32/drive_c/windows/Fonts/"
  fi
  in32 wineserver -k >/dev/null 2>&1 || true
  in32 timeout 60 wineserver -w || true
  in32 wineserver -p
  in32 "$WINE32_LOADER" reg.exe add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f \
    >/dev/null 2>&1
  in32 "$WINE32_LOADER" "$OUT/floor32.exe" /hold >/dev/null 2>&1 &
  run_setup32() {
    (cd "$MEDIUM32" && in32 "$OUT/winwait" --title "Zentavo Install" --skip-fullscreen "$@" \
       -- "$WINE32_LOADER" setup.exe /l 1033)
  }
  run_peer32() { in32 "$OUT/winwait" --title "Zentavo peer" "$@" -- "$WINE32_LOADER" "$OUT/peer32.exe"; }
  say "32-bit pair: warming up, then $RUNS rounds of setup.exe (i686) and the x86-unicode peer"
  for _ in 1 2; do
    for program in setup32 peer32; do "run_$program" --timeout 60 >/dev/null || true; settle; done
  done
  for round in $(seq 1 "$RUNS"); do
    for program in setup32 peer32; do
      line="$("run_$program" --timeout 30 || true)"
      echo "$program $(field window_ms "$line" | grep . || echo none) $(field window_cpu_ms "$line" | grep . || echo none)" \
        >>"$OUT/times.txt"
      settle
    done
    say "32-bit round $round: $(tail -n 2 "$OUT/times.txt" | tr '\n' ' ')"
  done
  T_SETUP32=$(times_of setup32 | median)
  T_PEER32=$(times_of peer32 | median)
  C_SETUP32=$(cpu_of setup32 | median)
  C_PEER32=$(cpu_of peer32 | median)
  N_SETUP32=$(times_of setup32 | wc -l)
  N_PEER32=$(times_of peer32 | wc -l)
fi

# ---- where the setup's start-up goes ----------------------------------------------------
# One run with Wine's time stamps on its library loads and the setup's own log,
# whose lines carry the tick count: the milestones on one clock.
PROFILE=""
if [ "${ZT_BENCH_PROFILE:-1}" != 0 ]; then
  say "profile: one run with WINEDEBUG=+timestamp,+loaddll"
  rm -f "$SETUP_LOG"
  WINEDEBUG=+timestamp,+loaddll run_setup --timeout 30 \
    >"$OUT/profile-run.txt" 2>"$OUT/profile-trace.txt" || true
  cp "$SETUP_LOG" "$OUT/profile-log.txt" 2>/dev/null || : >"$OUT/profile-log.txt"
  PROFILE="$(bash bench/startup_profile.sh "$OUT/profile-trace.txt" "$OUT/profile-log.txt" \
             "$(cat "$OUT/profile-run.txt")" || true)"
fi

# ---- the table ----------------------------------------------------------------------------
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a + 0 > 0 && b + 0 > 0) printf "%.2f", a / b; else print "n/a" }'; }
goal() {  # value, limit: "met" when value <= limit
  awk -v v="$1" -v l="$2" 'BEGIN { if (v == "" || v == "n/a") print "n/a"; else if (v + 0 <= l + 0) print "met"; else print "NOT met" }'
}
kb() { awk -v b="$1" 'BEGIN { printf "%.1f KB", b / 1024 }'; }
s_ms() { awk -v v="$1" 'BEGIN { if (v == "n/a" || v == "") print "n/a"; else printf "%.0f ms", v }'; }

IDLE_CPU=$(field idle_cpu_ms "$IDLE_SETUP")
IDLE_WAKE=$(field idle_wakeups "$IDLE_SETUP")
GUI_WAKE=$(field gui_thread_wakeups "$IDLE_SETUP")
idle_goal() {
  if [ -z "$IDLE_WAKE" ]; then echo "n/a"
  elif [ "$GUI_WAKE" = 0 ] && awk -v c="$IDLE_CPU" 'BEGIN { exit !(c + 0 == 0) }'; then echo "met"
  else echo "NOT met"; fi
}
idle_text() {  # winwait line
  local line="$1"
  if [ -z "$(field idle_wakeups "$line")" ]; then echo "n/a"; return; fi
  printf "CPU %s ms, wake-ups %s (GUI thread %s), threads %s" "$(field idle_cpu_ms "$line")" \
    "$(field idle_wakeups "$line")" "$(field gui_thread_wakeups "$line")" "$(field threads "$line")"
}

row() { printf "| %-60s | %-56s | %-14s |\n" "$1" "$2" "$3"; }
echo
echo "Zentavo setup bench, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(wine --version 2>/dev/null), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo
row "What" "Measured" "Goal"
row "$(printf -- '-%.0s' {1..60})" "$(printf -- '-%.0s' {1..56})" "$(printf -- '-%.0s' {1..14})"
row "setup.exe size (i686, stripped, static)" "$SIZE_SETUP bytes ($(kb "$SIZE_SETUP"))" "$(goal "$SIZE_SETUP" 204800) <=200KB"
row "NSIS peer size (amd64-unicode; x86-unicode)" "$SIZE_PEER bytes ($(kb "$SIZE_PEER")); $SIZE_PEER32 bytes ($(kb "$SIZE_PEER32"))" ""
row "floor program size (x86_64)" "$SIZE_FLOOR bytes ($(kb "$SIZE_FLOOR"))" ""
if [ -n "$SIZE_MAP" ]; then
  row "where setup.exe's bytes go (linker map, input bytes)" "$(awk -F'|' '$1 == "total" { print $3 " bytes placed" }' <<<"$SIZE_MAP")" ""
  row "  output sections" "$(awk -F'|' '$1 == "section" && $3 > 0 { printf "%s%s %d", sep, $2, $3; sep = ", " }' <<<"$SIZE_MAP")" ""
  while IFS='|' read -r kind name bytes; do
    case "$kind" in
      library) row "  library: $name" "$bytes bytes" "" ;;
      object) row "  object: $name" "$bytes bytes" "" ;;
    esac
  done <<<"$SIZE_MAP"
fi
row "64-bit pair (64-bit prefix, Wine's 64-bit loader)" "" ""
row "time to window: setup.exe (x86_64 twin, /l 1033)" "$(s_ms "$T_SETUP") (median of $N_SETUP; fastest $(s_ms "$M_SETUP"))" "$(goal "$T_SETUP" 300) <=0.3s"
row "time to window: floor (plain Win32 window)" "$(s_ms "$T_FLOOR") (median of $N_FLOOR; fastest $(s_ms "$M_FLOOR"))" ""
row "time to window: NSIS peer (amd64-unicode)" "$(s_ms "$T_PEER") (median of $N_PEER; fastest $(s_ms "$M_PEER"))" ""
row "ratio setup / floor (medians; fastest runs)" "$(ratio "$T_SETUP" "$T_FLOOR"); $(ratio "$M_SETUP" "$M_FLOOR")" ""
row "ratio setup / peer (medians; fastest runs)" "$(ratio "$T_SETUP" "$T_PEER"); $(ratio "$M_SETUP" "$M_PEER")" "$(awk -v r="$(ratio "$T_SETUP" "$T_PEER")" 'BEGIN { if (r == "n/a") print "n/a"; else if (r + 0 < 1) print "met"; else print "NOT met" }') <1"
row "CPU time to window, medians: setup / floor / peer" "$(s_ms "$C_SETUP") / $(s_ms "$C_FLOOR") / $(s_ms "$C_PEER") (ratio to peer $(ratio "$C_SETUP" "$C_PEER"))" ""
row "setup above the floor" "$(awk -v a="$T_SETUP" -v b="$T_FLOOR" 'BEGIN { if (a + 0 > 0 && b + 0 > 0) printf "%.0f ms", a - b; else print "n/a" }')" ""
if [ -n "$PAIR32" ]; then
  row "32-bit pair (32-bit prefix, Wine's 32-bit loader)" "" ""
  row "time to window: setup.exe (i686, shipped, /l 1033)" "$(s_ms "$T_SETUP32") (median of $N_SETUP32)" ""
  row "time to window: NSIS peer (x86-unicode)" "$(s_ms "$T_PEER32") (median of $N_PEER32)" ""
  row "ratio setup / peer, 32-bit (medians)" "$(ratio "$T_SETUP32" "$T_PEER32")" "$(awk -v r="$(ratio "$T_SETUP32" "$T_PEER32")" 'BEGIN { if (r == "n/a") print "n/a"; else if (r + 0 < 1) print "met"; else print "NOT met" }') <1"
  row "CPU time to window, 32-bit medians: setup / peer" "$(s_ms "$C_SETUP32") / $(s_ms "$C_PEER32") (ratio $(ratio "$C_SETUP32" "$C_PEER32"))" ""
else
  row "32-bit pair (i686 setup.exe, x86-unicode peer)" "not run: $PAIR32_WHY" ""
fi
row "idle 5 s: setup.exe (x86_64 twin)" "$(idle_text "$IDLE_SETUP")" "$(idle_goal) none"
row "idle 5 s: floor" "$(idle_text "$IDLE_FLOOR")" ""
row "idle 5 s: NSIS peer" "$(idle_text "$IDLE_PEER")" ""
row "rehearsal CPU: whole XP upgrade (zentavo-sim)" "$(field rehearsal "$SIM") ms (min $(field rehearsal_min "$SIM"), first $(field rehearsal_first "$SIM"))" "$(goal "$(field rehearsal "$SIM")" 5) <5ms"
row "rehearsal CPU: demo language file load" "$(field language "$SIM") ms (min $(field language_min "$SIM"))" "$(goal "$(field language "$SIM")" 2) <=2ms"
row "rehearsal CPU: one log line (open-append-close)" "$(field logline "$SIM") ms (min $(field logline_min "$SIM"))" "report"
row "medium check CPU: demo medium (manifest, every file)" "$(field medium "$SIM") ms for $(field medium_kb "$SIM") KB in $(field medium_reads "$SIM") reads of 64 KB" "report"
row "medium check CPU: demo medium with a 50 MB package" "$(field medium50 "$SIM") ms for $(field medium50_kb "$SIM") KB in $(field medium50_reads "$SIM") reads of 64 KB" "report"
if [ -n "$REHEARSAL_PARTS" ]; then
  row "what a rehearsal spends its time on (callgrind, inclusive)" "" ""
  echo "$REHEARSAL_PARTS" | while IFS='|' read -r what share; do
    [ -n "$what" ] && row "  $what" "$share" ""
  done
fi
if [ -n "$PROFILE" ]; then
  row "where the setup's start-up goes (one run)" "" ""
  echo "$PROFILE" | while IFS='|' read -r what when; do
    [ -n "$what" ] && row "  $what" "$when" ""
  done
fi
echo
echo "Raw: $OUT/times.txt (each run), $OUT/profile-*.txt (the profiled run), $OUT/rehearsal.callgrind (the rehearsal profile)"
