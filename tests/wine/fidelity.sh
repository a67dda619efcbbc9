#!/usr/bin/env bash
# The rehearsal's fidelity: how far zentavo-sim's rehearsal of a machine
# agrees with what the shipped setup.exe really does there. For each case,
# zentavo-capture.exe (from the medium in the prefix) captures the Wine
# prefix just before setup.exe starts, and again at once (the two must
# compare equal: the capture changes nothing); zentavo-sim rehearses the
# captured machine, unedited, with the same medium and the same answers;
# tests/wine/install.sh runs the real setup.exe with its automation client,
# as in its own cases, with Wine tracing the processes it starts and the
# libraries they load; after the run the prefix is captured again. Then:
#
#   the log       the rehearsal's log and the real one, line by line, with
#                 time stamps and tick counts masked
#   the changes   the rehearsal's --changes report and zentavo-sim --compare
#                 of the captures before and after the real run (the groups
#                 that two descriptions can tell; process ids, cached package
#                 names and command lines of running programs masked)
#   the activity  what two descriptions cannot tell: the setup's exit code
#                 (as the shell sees it, modulo 256), the programs started
#                 with their whole command lines, the restarts asked for, the
#                 libraries loaded from outside the system folder; the
#                 rehearsal's from its report, the real run's from Wine's
#                 trace (+process, +loaddll) and install.sh's exit status
#
# Every line that differs must be matched by an entry of
# tests/wine/known_differences.txt (its format is described there); the case
# fails on any other, on an entry listed for the case that matched nothing,
# and on a pair of entries whose two sides matched different numbers of
# lines. Each case prints its count:
#   fidelity xp-first: log 87 lines compared, 87 equal; changes 64 compared,
#   63 equal; activity 3 compared, 3 equal; differences 1, known 1; entries
#   1 of 1 matched
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
# watches (ZT_FIDELITY_HOOK): "fidelity.sh hook before|after RUN [LOG EXIT TRACE]".
# "fidelity.sh check" only checks tests/wine/known_differences.txt.
set -uo pipefail

ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$ROOT"
BUILD="${ZT_WIN64_BUILD:-$ROOT/build/win32}"
SIM="${ZT_SIM:-$ROOT/build/sim/zentavo-sim}"
OUT="${ZT_FIDELITY_OUT:-$ROOT/build/wine/fidelity}"
KNOWN="${ZT_KNOWN_DIFFERENCES:-$ROOT/tests/wine/known_differences.txt}"
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
      echo "${5:-}" >"$dir/real-status.txt"
      cp "${6:-/dev/null}" "$dir/real-trace.txt" 2>/dev/null
      # The product the setup started: its window is part of what changed.
      timeout 120 wine "$DRIVER" --timeout 30 window=Zentavo >/dev/null 2>&1
      capture "$dir/after.json" "$dir/before.json" || echo "capture after the run failed" >>"$dir/problems.txt"
      ;;
  esac
  exit 0
fi


# ---- the known differences ----------------------------------------------------------

trim() { sed -E 's/^[[:space:]]+//; s/[[:space:]]+$//' <<<"$1"; }

# The entries, read once: E_CASES[i], E_WHAT[i], E_SIDE[i], E_PAIR[i],
# E_PATTERN[i], E_REASON[i], E_LINE[i] (the line in the file). Entries that
# do not keep the file's rules are named and fail the run.
declare -a E_CASES E_WHAT E_SIDE E_PAIR E_PATTERN E_REASON E_LINE
read_known() {
  local line number=0 c w s p pattern reason rest problems=0
  while IFS= read -r line || [ -n "$line" ]; do
    number=$((number + 1))
    [ -z "$(trim "$line")" ] || [ "${line:0:1}" = "#" ] && continue
    IFS='|' read -r c w s p pattern reason rest <<<"$line"
    c="$(trim "$c")" w="$(trim "$w")" s="$(trim "$s")" p="$(trim "$p")"
    pattern="$(trim "$pattern")" reason="$(trim "$reason")"
    local problem=""
    if [ -n "${rest:-}" ] || [ -z "$reason" ]; then
      problem="it needs six fields separated by \"|\""
    elif [[ ! "$w" =~ ^(log|changes|activity)$ ]]; then
      problem="WHAT is log, changes or activity, not \"$w\""
    elif [[ ! "$s" =~ ^(rehearsal|real)$ ]]; then
      problem="SIDE is rehearsal or real, not \"$s\""
    elif [[ ! "$p" =~ ^(-|[A-Za-z0-9_.-]+)$ ]]; then
      problem="PAIR is \"-\" or a name, not \"$p\""
    elif [ "${pattern:0:1}" != "^" ] || [ "${pattern: -1}" != "$" ]; then
      problem="its pattern must match the whole line (^...\$)"
    elif [ "$w" = changes ] &&
      ! grep -qE '^\^[^ ]+ ((key|value|file|folder|link) ([[]A-Z[]]|[A-Z]|HK(LM|CU|CR|U))|window "|process )' <<<"$pattern"; then
      problem="a change's pattern names its key or file (\"^\\\\+ value HKLM\\\\\\\\...\", \"^- file [A-Z]:...\"), or its window or process"
    elif ! grep -qiE 'evidence: ' <<<"$reason"; then
      problem="its reason says where the evidence is (\"evidence: ...\")"
    fi
    if [ -n "$problem" ]; then
      echo "not ok - tests/wine/known_differences.txt line $number: $problem"
      problems=$((problems + 1))
      continue
    fi
    E_CASES+=("$c") E_WHAT+=("$w") E_SIDE+=("$s") E_PAIR+=("$p")
    E_PATTERN+=("$pattern") E_REASON+=("$reason") E_LINE+=("$number")
  done <"$KNOWN"
  return "$problems"
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

declare -A MATCHED  # "case|entry" -> lines it matched

# Whether a differing line is known: CASE WHAT SIDE TEXT; sets REASON.
known() {
  local name="$1" what="$2" side="$3" text="$4" i
  REASON=""
  for i in "${!E_PATTERN[@]}"; do
    [ "${E_WHAT[$i]}" = "$what" ] && [ "${E_SIDE[$i]}" = "$side" ] || continue
    matches_case "$name" "${E_CASES[$i]}" || continue
    if printf '%s\n' "$text" | grep -qE -- "${E_PATTERN[$i]}"; then
      REASON="${E_REASON[$i]}"
      MATCHED["$name|$i"]=$((${MATCHED["$name|$i"]:-0} + 1))
      return 0
    fi
  done
  return 1
}

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

# The entries listed for a case: each must have matched a line, and the two
# sides of a pair as many lines each. Sets ENTRIES and ENTRIES_MATCHED.
check_entries() {  # case
  local name="$1" i j
  ENTRIES=0
  ENTRIES_MATCHED=0
  for i in "${!E_PATTERN[@]}"; do
    matches_case "$name" "${E_CASES[$i]}" || continue
    ENTRIES=$((ENTRIES + 1))
    local count="${MATCHED["$name|$i"]:-0}"
    if [ "$count" -eq 0 ]; then
      echo "not ok - $name: the known difference of line ${E_LINE[$i]} matched nothing: ${E_PATTERN[$i]}"
      STATUS=1
      continue
    fi
    ENTRIES_MATCHED=$((ENTRIES_MATCHED + 1))
    [ "${E_PAIR[$i]}" = - ] && continue
    for j in "${!E_PATTERN[@]}"; do
      [ "$j" -gt "$i" ] && [ "${E_PAIR[$j]}" = "${E_PAIR[$i]}" ] || continue
      matches_case "$name" "${E_CASES[$j]}" || continue
      local other="${MATCHED["$name|$j"]:-0}"
      if [ "$other" -ne "$count" ]; then
        echo "not ok - $name: the pair ${E_PAIR[$i]} is not matched on both sides alike (line ${E_LINE[$i]} matched $count, line ${E_LINE[$j]} matched $other)"
        STATUS=1
      fi
    done
  done
}

# ---- comparing ------------------------------------------------------------------

# The log with its time stamps and tick counts masked, and the names of the
# setup's own folders (the saved data, the redistributables' copies, the
# clean-up copy) and of the files the upgrade keeps the user's data in (drawn
# from the clock).
mask_log() {
  tr -d '\r' <"$1" | mask_names | sed -E \
    -e 's/^[0-9]{2}\.[0-9]{2}\.[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9a-fA-F]{8} /<time> /' \
    -e 's/^(Zentavo Installation Log +)[0-9]{2}\.[0-9]{2}\.[0-9]{4} +[0-9]{2}:[0-9]{2}:[0-9]{2}$/\1<time>/'
}
mask_names() {
  sed -E -e 's/\\zt(sv|rn|cl)[0-9a-fA-F]{8}/\\zt\1<n>/g' -e 's/\\crv[0-9a-fA-F]+\.tmp/\\crv<n>.tmp/g'
}

# The report without its title and without the groups that two descriptions
# cannot tell (the activity is compared on its own); what differs from run to
# run masked, and each group sorted again (a process's id decided the order
# of its lines). The log's size goes too: the log is compared line by line,
# and its size depends on the masked names.
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

# The rehearsal's activity: its exit code (modulo 256, as the shell sees the
# real one), the programs it started in order (the command line, without
# what each ended with), the restarts (without what Windows answered) and the
# libraries, from its --changes report.
rehearsal_activity() {  # changes-report exit-status
  echo "exit code $(($2 % 256))"
  tr -d '\r' <"$1" | awk '
    /^== / { group = $0; next }
    $0 == "" || $0 ~ /^\(/ { next }
    group ~ /Programs started/ { sub(/^(exit code [0-9]+|still running): /, ""); print "started " $0 }
    group ~ /^== Restarts/ { sub(/: (accepted|refused.*)$/, ""); print $0 }
    group ~ /Libraries loaded/ { print "library " $0 }'
}

# The real run's activity, from Wine's trace of setup.exe and what it
# started (WINEDEBUG=+pid,+process,+loaddll): the command lines the setup's
# process passed to CreateProcess (Wine's ExitWindowsEx starts wineboot,
# which stands for a restart asked for), and the native libraries any of the
# processes loaded from outside the system folder.
real_activity() {  # trace exit-status
  echo "exit code $(($2 % 256))"
  tr -d '\r' <"$1" | awk '
    function unescape(text) {
      gsub(/\\\\/, "\001", text); gsub(/\\"/, "\"", text); gsub("\001", "\\", text)
      return text
    }
    function flags(line,    value, names) {
      value = 0
      if (line ~ / --kill/) value += 4
      if (line ~ / --force/) value += 16
      if (line !~ / --shutdown/) value += 2
      names = ""
      if (value % 4 >= 2) names = "EWX_REBOOT"
      if (value % 8 >= 4) names = names (names == "" ? "" : " | ") "EWX_FORCE"
      if (value >= 16) names = names (names == "" ? "" : " | ") "EWX_FORCEIFHUNG"
      return sprintf("0x%08X (%s)", value, names)
    }
    !/^[0-9a-f]+:[0-9a-f]+:/ { next }
    {
      pid = substr($0, 1, index($0, ":") - 1)
      if (setup == "") setup = pid
    }
    /:trace:loaddll:/ && /Loaded L"/ {
      path = $0; sub(/^.*Loaded L"/, "", path); sub(/" at [0-9A-Fa-f]+: .*$/, "", path)
      path = unescape(path)
      if (!(pid in program) && tolower(path) ~ /\.exe$/) { program[pid] = path; next }
      if ($0 !~ /: native/) next
      lower = tolower(path)
      if (lower ~ /^[a-z]:\\windows\\(system32|syswow64)\\/ || lower ~ /\.exe$/) next
      libraries[++count] = "library " path " by " program[pid]
      next
    }
    /:trace:process:CreateProcessInternalW app .* cmdline L"/ && pid == setup {
      line = $0; sub(/^.* cmdline L"/, "", line); sub(/"$/, "", line)
      line = unescape(line)
      if (tolower(line) ~ /wineboot(\.exe)?"? --(end-session|kill|shutdown)/) {
        print "restart asked, flags " flags(line)
      } else {
        print "started " line
      }
    }
    END { for (i = 1; i <= count; i++) print libraries[i] }'
}

# The comparison of a case whose files are in DIR: the log, the changes and
# the activity, then the entries listed for the case.
compare_case() {  # name dir
  local name="$1" dir="$2"
  "$SIM" --compare "$dir/before.json" "$dir/after.json" >"$dir/real-changes.txt" 2>"$dir/compare.err"
  mask_log "$dir/rehearsal.log" >"$dir/rehearsal.log.masked"
  mask_log "$dir/real.log" >"$dir/real.log.masked"
  mask_changes "$dir/rehearsal-changes.txt" >"$dir/rehearsal-changes.masked"
  mask_changes "$dir/real-changes.txt" >"$dir/real-changes.masked"
  rehearsal_activity "$dir/rehearsal-changes.txt" "$(cat "$dir/rehearsal-status.txt")" |
    mask_names >"$dir/rehearsal-activity.masked"
  real_activity "$dir/real-trace.txt" "$(cat "$dir/real-status.txt")" | mask_names \
    >"$dir/real-activity.masked"

  compare_texts "$name" log "$dir/rehearsal.log.masked" "$dir/real.log.masked"
  local log_compared=$COMPARED log_equal=$EQUAL differences=$DIFFERENT known_count=$KNOWN_COUNT
  local unknown=$UNKNOWN
  compare_texts "$name" changes "$dir/rehearsal-changes.masked" "$dir/real-changes.masked"
  local changes_compared=$COMPARED changes_equal=$EQUAL
  differences=$((differences + DIFFERENT)) known_count=$((known_count + KNOWN_COUNT))
  unknown=$((unknown + UNKNOWN))
  compare_texts "$name" activity "$dir/rehearsal-activity.masked" "$dir/real-activity.masked"
  differences=$((differences + DIFFERENT)) known_count=$((known_count + KNOWN_COUNT))
  unknown=$((unknown + UNKNOWN))
  check_entries "$name"
  local summary="log $log_compared lines compared, $log_equal equal; changes $changes_compared compared, $changes_equal equal; activity $COMPARED compared, $EQUAL equal; differences $differences, known $known_count; entries $ENTRIES_MATCHED of $ENTRIES matched"
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
  for needed in before.json after.json rehearsal.log real.log real-trace.txt; do
    [ -s "$dir/$needed" ] || problems+="no $needed; "
  done
  [ -n "$(cat "$dir/real-status.txt" 2>/dev/null)" ] || problems+="no exit status of the real run; "
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
  echo "ok - the capture holds $(wc -c <"$dir/before.json") bytes before the run, $(wc -c <"$dir/after.json") after"
  compare_case "$name" "$dir"
}

read_known || STATUS=1

# "fidelity.sh check": the file's rules only.
if [ "${1:-}" = check ]; then
  [ "$STATUS" -eq 0 ] && echo "ok - tests/wine/known_differences.txt keeps its rules (${#E_PATTERN[@]} entries)"
  exit "$STATUS"
fi

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

exit "$STATUS"
