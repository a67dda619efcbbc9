#!/usr/bin/env bash
# The rehearsal's fidelity: how far zentavo-sim's rehearsal of a machine
# agrees with what the shipped setup.exe really does there. For each case,
# zentavo-capture.exe (from the medium in the prefix) captures the Wine
# prefix just before setup.exe starts, and again at once (the two must
# compare equal: the capture changes nothing); zentavo-sim rehearses the
# captured machine, unedited, with the same medium and the same answers;
# tests/wine/install.sh runs the real setup.exe with its automation client,
# as in its own cases; after the run the prefix is captured again. Then:
#
#   the log      the rehearsal's log and the real one, line by line, with
#                time stamps and tick counts masked
#   the changes  the rehearsal's --changes report and zentavo-sim --compare
#                of the captures before and after the real run (the groups
#                that two descriptions can tell; process ids, cached package
#                names and command lines of running programs masked)
#
# Every line that differs must be listed, with its reason, in
# tests/wine/known_differences.txt; the case fails on any other. Each case
# prints its count:
#   fidelity xp-first: log 87 lines compared, 87 equal; changes 64 compared,
#   63 equal; differences 1, known 1
#
# Cases (ZT_FIDELITY_CASES; run.sh gives those of the version under test):
#   xp-first    a first installation on Windows XP
#   xp-upgrade  the upgrade of the running earlier edition with the user's data
#   98-first    a first installation on Windows 98 SE, from its medium
#   x64-first   the x86_64 twin's first installation in a 64-bit prefix (the
#   x64-upgrade stage's fallback where 32-bit programs cannot run), and its
#               upgrade: the capture says the machine is x64
#
# Run by tests/wine/run.sh (DISPLAY, WINEPREFIX, ZT_WIN64_BUILD, ZT_MEDIUM as
# for install.sh). ZT_SIM names zentavo-sim of a native sim build (default
# build/sim/zentavo-sim). Output in ZT_FIDELITY_OUT (build/wine/fidelity).
#
# install.sh calls this script back around the one run of setup.exe a case
# watches (ZT_FIDELITY_HOOK): "fidelity.sh hook before|after RUN [LOG]".
set -uo pipefail

ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$ROOT"
BUILD="${ZT_WIN64_BUILD:-$ROOT/build/win32}"
SIM="${ZT_SIM:-$ROOT/build/sim/zentavo-sim}"
OUT="${ZT_FIDELITY_OUT:-$ROOT/build/wine/fidelity}"
KNOWN="$ROOT/tests/wine/known_differences.txt"
DRIVER="$BUILD/tests/wine/setup_driver.exe"
CAPTURE_WINDOWS='C:\Zentavo Setup\zentavo-capture.exe'

say() { echo "--- fidelity: $*"; }

# zentavo-capture.exe in the prefix: FILE [EARLIER].
capture() {
  local file="$1" earlier="${2:-}" status=0
  if [ -n "$earlier" ]; then
    timeout 120 wine "$CAPTURE_WINDOWS" "$(winepath -w "$file")" --since "$(winepath -w "$earlier")" \
      >/dev/null 2>&1 || status=$?
  else
    timeout 120 wine "$CAPTURE_WINDOWS" "$(winepath -w "$file")" >/dev/null 2>&1 || status=$?
  fi
  [ "$status" -eq 0 ] && [ -s "$file" ]
}

# ---- the hook: around the real run --------------------------------------------

if [ "${1:-}" = hook ]; then
  when="$2" run="$3" real_log="${4:-}"
  dir="$OUT/$ZT_FIDELITY_CASE"
  mkdir -p "$dir"
  case "$when" in
    before)
      if ! capture "$dir/before.json"; then
        echo "capture before the run failed" >"$dir/problems.txt"
        exit 0
      fi
      # A capture changes nothing: one more, at once, compares equal.
      capture "$dir/again.json" &&
        "$SIM" --compare "$dir/before.json" "$dir/again.json" >"$dir/capture-changes.txt" 2>&1
      echo "$?" >"$dir/capture-status.txt"
      # The rehearsal of the captured machine, as it was captured.
      "$SIM" --machine "$dir/before.json" --medium "$ZT_MEDIUM" --answers "$ZT_FIDELITY_ANSWERS" \
        --log "$dir/rehearsal.log" --changes "$dir/rehearsal-changes.txt" \
        --screens "$dir/rehearsal-screens.txt" >"$dir/rehearsal.out" 2>&1
      echo "$?" >"$dir/rehearsal-status.txt"
      ;;
    after)
      cp "$real_log" "$dir/real.log" 2>/dev/null
      # The product the setup started: its window is part of what changed.
      timeout 120 wine "$DRIVER" --timeout 30 window=Zentavo >/dev/null 2>&1
      capture "$dir/after.json" "$dir/before.json" || echo "capture after the run failed" >>"$dir/problems.txt"
      ;;
  esac
  exit 0
fi

# ---- comparing ------------------------------------------------------------------

# The log with its time stamps and tick counts masked, and the names of the
# setup's own folders (the saved data, the redistributables' copies, the
# clean-up copy) and of the files the upgrade keeps the user's data in (drawn
# from the clock).
mask_log() {
  tr -d '\r' <"$1" | sed -E \
    -e 's/^[0-9]{2}\.[0-9]{2}\.[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9a-fA-F]{8} /<time> /' \
    -e 's/\\zt(sv|rn|cl)[0-9a-fA-F]{8}/\\zt\1<n>/g' \
    -e 's/\\crv[0-9a-fA-F]+\.tmp/\\crv<n>.tmp/g' \
    -e 's/^(Zentavo Installation Log +)[0-9]{2}\.[0-9]{2}\.[0-9]{4} +[0-9]{2}:[0-9]{2}:[0-9]{2}$/\1<time>/'
}

# The report without its title and without the groups that two descriptions
# cannot tell; what differs from run to run masked, and each group sorted
# again (a process's id decided the order of its lines). The log's size
# goes too: the log is compared line by line, and its size depends on the
# masked names.
mask_changes() {
  tr -d '\r' <"$1" | awk '
    NR == 1 { next }
    /^== / { skip = ($0 ~ /^== (Programs started|Restarts|Libraries loaded)/) }
    !skip && $0 != "" { print }' | sed -E \
    -e 's/\(id [0-9]+\)(: .*)?$/(id <n>)/' \
    -e 's/\\Installer\\[0-9a-fA-F]+\.(msi|mst)/\\Installer\\<cached>.\1/g' \
    -e 's/(\\ZentavoInstall\.log: )[0-9]+ bytes/\1<size> bytes/' |
    awk '/^== / { group++ } { printf "%06d\t%s\t%s\n", group, (/^== / ? "" : "x"), $0 }' |
    LC_ALL=C sort -t "$(printf '\t')" -k1,1 -k2,2 -k3 | cut -f3-
}

# Whether a case matches an entry's cases: patterns separated by ",".
matches_case() {
  local pattern
  IFS=',' read -ra patterns <<<"$2"
  for pattern in "${patterns[@]}"; do
    pattern="$(trim "$pattern")"
    # shellcheck disable=SC2053
    [[ "$1" == $pattern ]] && return 0
  done
  return 1
}

trim() { sed -E 's/^[[:space:]]+//; s/[[:space:]]+$//' <<<"$1"; }

# Whether a differing line is listed: CASE WHAT SIDE TEXT; sets REASON.
known() {
  local name="$1" what="$2" side="$3" text="$4" c w s pattern reason
  REASON=""
  while IFS='|' read -r c w s pattern reason; do
    c="$(trim "$c")"
    [ -z "$c" ] || [ "${c:0:1}" = "#" ] && continue
    w="$(trim "$w")"
    s="$(trim "$s")"
    pattern="$(trim "$pattern")"
    matches_case "$name" "$c" || continue
    [ "$w" = "$what" ] && [ "$s" = "$side" ] || continue
    if printf '%s\n' "$text" | grep -qE -- "$pattern"; then
      REASON="$(trim "$reason")"
      USED["$c|$w|$s|$pattern"]=1
      return 0
    fi
  done <"$KNOWN"
  return 1
}

declare -A USED
STATUS=0

# Compares two texts line by line; prints the differences and sets
# COMPARED, EQUAL, DIFFERENT, KNOWN_COUNT, UNKNOWN.
compare_texts() {  # case what rehearsal-file real-file
  local name="$1" what="$2" sim="$3" real="$4" line side text
  local sim_lines real_lines only_sim=0
  sim_lines="$(wc -l <"$sim")"
  real_lines="$(wc -l <"$real")"
  COMPARED=$((sim_lines > real_lines ? sim_lines : real_lines))
  DIFFERENT=0
  KNOWN_COUNT=0
  UNKNOWN=0
  while IFS= read -r line; do
    case "$line" in
      "< "*) side=rehearsal; only_sim=$((only_sim + 1)) ;;
      "> "*) side=real ;;
      *) continue ;;
    esac
    text="${line:2}"
    DIFFERENT=$((DIFFERENT + 1))
    if known "$name" "$what" "$side" "$text"; then
      KNOWN_COUNT=$((KNOWN_COUNT + 1))
      echo "  known   $what, only the $side: $text"
      echo "          ($REASON)"
    else
      UNKNOWN=$((UNKNOWN + 1))
      echo "  UNKNOWN $what, only the $side: $text"
    fi
  done < <(diff "$sim" "$real")
  EQUAL=$((sim_lines - only_sim))
}

# The comparison of a case whose files are in DIR: the log and the changes.
compare_case() {  # name dir
  local name="$1" dir="$2"
  "$SIM" --compare "$dir/before.json" "$dir/after.json" >"$dir/real-changes.txt" 2>"$dir/compare.err"
  mask_log "$dir/rehearsal.log" >"$dir/rehearsal.log.masked"
  mask_log "$dir/real.log" >"$dir/real.log.masked"
  mask_changes "$dir/rehearsal-changes.txt" >"$dir/rehearsal-changes.masked"
  mask_changes "$dir/real-changes.txt" >"$dir/real-changes.masked"

  compare_texts "$name" log "$dir/rehearsal.log.masked" "$dir/real.log.masked"
  local log_compared=$COMPARED log_equal=$EQUAL log_diff=$DIFFERENT log_known=$KNOWN_COUNT
  local unknown=$UNKNOWN
  compare_texts "$name" changes "$dir/rehearsal-changes.masked" "$dir/real-changes.masked"
  unknown=$((unknown + UNKNOWN))
  local summary="log $log_compared lines compared, $log_equal equal; changes $COMPARED compared, $EQUAL equal; differences $((log_diff + DIFFERENT)), known $((log_known + KNOWN_COUNT))"
  echo "fidelity $name: $summary" | tee "$dir/summary.txt"
  if [ "$unknown" -eq 0 ]; then
    echo "ok - $name: every difference is a known one"
  else
    echo "not ok - $name: $unknown differences not in tests/wine/known_differences.txt"
    STATUS=1
  fi
}

# ---- the cases --------------------------------------------------------------------

run_fidelity_case() {  # name install-case answers
  local name="$1" install_case="$2" answers="$3" dir="$OUT/$1" problems=""
  rm -rf "$dir"
  mkdir -p "$dir"
  say "$name: capture, rehearsal, the real run ($install_case of install.sh), capture"
  ZT_FIDELITY_HOOK="$ROOT/tests/wine/fidelity.sh" ZT_FIDELITY_RUN="$install_case" \
    ZT_FIDELITY_CASE="$name" ZT_FIDELITY_ANSWERS="$answers" ZT_FIDELITY_OUT="$OUT" \
    ZT_INSTALL_CASES="$install_case" ZT_INSTALL_OUT="$dir/install" \
    bash tests/wine/install.sh >"$dir/install.txt" 2>&1
  local install_status=$?
  [ "$install_status" -eq 0 ] || problems+="install.sh's checks failed (see $dir/install.txt); "
  [ -f "$dir/problems.txt" ] && problems+="$(tr '\n' ' ' <"$dir/problems.txt")"
  for needed in before.json after.json rehearsal.log real.log; do
    [ -s "$dir/$needed" ] || problems+="no $needed; "
  done
  if [ "$(cat "$dir/capture-status.txt" 2>/dev/null)" = 0 ]; then
    echo "ok - a capture changes nothing (a capture at once after it compares equal)"
  else
    problems+="a capture right after a capture does not compare equal (see $dir/capture-changes.txt); "
  fi
  if [ -n "$problems" ]; then
    echo "not ok - $name: $problems"
    STATUS=1
    return
  fi
  echo "ok - the captured machine rehearses as it is (zentavo-sim exit $(cat "$dir/rehearsal-status.txt"))"
  compare_case "$name" "$dir"
}

# "fidelity.sh compare NAME DIR": the comparison again, of a case's files.
if [ "${1:-}" = compare ]; then
  compare_case "$2" "$3"
  exit "$STATUS"
fi

: "${DISPLAY:?fidelity.sh needs DISPLAY (run it through tests/wine/run.sh)}"
: "${WINEPREFIX:?fidelity.sh needs WINEPREFIX (run it through tests/wine/run.sh)}"
: "${ZT_MEDIUM:?fidelity.sh needs ZT_MEDIUM (run it through tests/wine/run.sh)}"
if [ ! -x "$SIM" ]; then
  echo "fidelity: $SIM is missing (build the sim preset's target zentavo-sim)" >&2
  exit 1
fi
if [ ! -f "$ZT_MEDIUM/zentavo-capture.exe" ]; then
  echo "fidelity: $ZT_MEDIUM/zentavo-capture.exe is missing (build the target windows_media)" >&2
  exit 1
fi

for name in ${ZT_FIDELITY_CASES:-xp-first}; do
  case "$name" in
    xp-first | 98-first | x64-first) run_fidelity_case "$name" first "lang=1033,confirm,confirm,confirm" ;;
    xp-upgrade | x64-upgrade) run_fidelity_case "$name" upgrade "lang=1033,confirm,confirm,confirm,confirm" ;;
    *) echo "not ok - unknown fidelity case $name"; STATUS=1 ;;
  esac
done

# Entries that matched nothing in this run are named, so the file stays true.
while IFS='|' read -r c w s pattern reason; do
  c="$(trim "$c")"
  [ -z "$c" ] || [ "${c:0:1}" = "#" ] && continue
  for name in ${ZT_FIDELITY_CASES:-xp-first}; do
    matches_case "$name" "$c" || continue
    key="$c|$(trim "$w")|$(trim "$s")|$(trim "$pattern")"
    [ -n "${USED[$key]:-}" ] || echo "# not seen in this run: $key"
    break
  done
done <"$KNOWN"

exit "$STATUS"
