#!/usr/bin/env bash
# The fidelity check's own rules (tests/wine/fidelity.sh), without Wine: the
# committed known differences keep the file's rules and entries that break
# them are refused; a case's comparison of the log, the changes and the
# activity (the real run's taken from Wine's trace) passes only when every
# difference is known, every entry listed for the case matched, and the two
# sides of a pair matched as many lines. ZT_SIM names zentavo-sim.
set -uo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
FIDELITY="$HERE/../wine/fidelity.sh"
SIM="${ZT_SIM:?fidelity_test.sh needs ZT_SIM (zentavo-sim)}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

FAILED=0
ok() { echo "ok - $1"; }
not_ok() { echo "not ok - $1"; FAILED=1; }
expect_in() {  # what, text expected, output
  if grep -qF -- "$2" <<<"$3"; then ok "$1"; else not_ok "$1: \"$2\" not in:"; echo "$3" | sed 's/^/    /'; fi
}

out="$(bash "$FIDELITY" check 2>&1)"
[ $? -eq 0 ] && ok "the committed known differences keep the rules" || not_ok "the committed file: $out"

# Entries that break the rules, each with the reason it is refused.
while IFS='@' read -r entry reason; do
  [ -z "$entry" ] && continue
  printf '%s\n' "$entry" >"$WORK/bad.txt"
  out="$(ZT_KNOWN_DIFFERENCES="$WORK/bad.txt" bash "$FIDELITY" check 2>&1)"
  status=$?
  [ "$status" -ne 0 ] && expect_in "refused: $reason" "$reason" "$out" || not_ok "accepted: $entry"
done <<'TABLE'
xp-first | changes | real | - | \+ value HKLM\\A "X" = REG_SZ ""$ | evidence: x@must match the whole line
xp-first | changes | real | - | ^\+ value HKLM\\A "X" = REG_SZ ""$ | no source named@says where the evidence is
xp-first | changes | real | - | ^.*"EstimatedSize".*$ | evidence: x@names its key or file
xp-first | results | real | - | ^a$ | evidence: x@WHAT is log, changes or activity
xp-first | log | both | - | ^a$ | evidence: x@SIDE is rehearsal or real
xp-first | log | real | two words | ^a$ | evidence: x@PAIR is "-" or a name
xp-first | log | real | - | ^a$@six fields
TABLE

# A case: the rehearsal writes X = 1 and Y = 1, the real run X = 2; both
# start msiexec and ask for a restart (Wine's ExitWindowsEx starts
# wineboot); the real setup loads a library from its own folder.
case_dir="$WORK/case"
mkdir -p "$case_dir"
echo '{}' >"$case_dir/before.json"
echo '{"registry": {"HKLM\\SOFTWARE\\A": {"X": "2"}}}' >"$case_dir/after.json"
printf '01.02.2026 10:00:00.0000abcd setup started\r\n' >"$case_dir/rehearsal.log"
printf '01.02.2026 11:30:00.00001234 setup started\r\n' >"$case_dir/real.log"
"$SIM" --compare "$case_dir/before.json" <(echo '{"registry": {"HKLM\\SOFTWARE\\A": {"X": "1", "Y": "1"}}}') |
  awk '/^== Programs started/ { print; getline; print "exit code 1603: \"C:\\WINDOWS\\system32\\msiexec.exe\" /i \"D:\\Zentavo.msi\" TRANSFORMS=\"1033.mst\""; next }
       /^== Libraries loaded/ { print; getline; print "(none)"; next }
       /^== Restarts/ { print; getline; print "restart asked, flags 0x00000002 (EWX_REBOOT): accepted"; next }
       { print }' >"$case_dir/rehearsal-changes.txt"
cat >"$case_dir/real-trace.txt" <<'TRACE'
0024:0028:trace:loaddll:build_module Loaded L"D:\\setup.exe" at 00400000: native
0024:0028:trace:loaddll:build_module Loaded L"C:\\windows\\system32\\kernel32.dll" at 7B000000: builtin
0024:0028:trace:process:CreateProcessInternalW app (null) cmdline L"\"C:\\WINDOWS\\system32\\msiexec.exe\" /i \"D:\\Zentavo.msi\" TRANSFORMS=\"1033.mst\""
0024:0028:trace:process:CreateProcessInternalW started process pid 0030 tid 0034
0030:0034:trace:loaddll:build_module Loaded L"C:\\WINDOWS\\system32\\msiexec.exe" at 00400000: native
0030:0034:trace:process:CreateProcessInternalW app (null) cmdline L"C:\\windows\\system32\\rundll32.exe x"
0024:0028:trace:loaddll:build_module Loaded L"D:\\helper.dll" at 10000000: native
0024:0028:trace:process:CreateProcessInternalW app (null) cmdline L"C:\\windows\\system32\\wineboot.exe --end-session"
TRACE
echo 1603 >"$case_dir/rehearsal-status.txt"
echo 67 >"$case_dir/real-status.txt"

known() {  # entries...
  printf '%s\n' "$@" >"$WORK/known.txt"
  ZT_KNOWN_DIFFERENCES="$WORK/known.txt" ZT_SIM="$SIM" bash "$FIDELITY" compare test "$case_dir" 2>&1
}
X_REAL='test | changes | real | x | ^\+ value HKLM\\SOFTWARE\\A "X" = REG_SZ "2"$ | evidence: a'
X_SIM='test | changes | rehearsal | x | ^\+ value HKLM\\SOFTWARE\\A "X" = REG_SZ "1"$ | evidence: a'
Y_SIM='test | changes | rehearsal | - | ^\+ value HKLM\\SOFTWARE\\A "Y" = REG_SZ "1"$ | evidence: b'
LIBRARY='test | activity | real | - | ^library D:\\helper\.dll by D:\\setup\.exe$ | evidence: c'

out="$(known "$X_REAL" "$X_SIM" "$Y_SIM" "$LIBRARY")"
status=$?
[ "$status" -eq 0 ] && ok "every difference known: the case passes" || not_ok "the case fails: $out"
expect_in "the counts" "changes 15 compared, 13 equal; activity 4 compared, 3 equal; differences 4, known 4; entries 4 of 4 matched" "$out"
# The activity as each side gives it, modulo 256 and without what Windows
# answered: the exit code, the command line with its quotes, the restart.
[ "$(cat "$case_dir/real-activity.masked")" = "exit code 67
started \"C:\\WINDOWS\\system32\\msiexec.exe\" /i \"D:\\Zentavo.msi\" TRANSFORMS=\"1033.mst\"
restart asked, flags 0x00000002 (EWX_REBOOT)
library D:\\helper.dll by D:\\setup.exe" ] && ok "the real run's activity from Wine's trace" ||
  not_ok "the real run's activity: $(cat "$case_dir/real-activity.masked")"

out="$(known "$X_REAL" "$X_SIM" "$LIBRARY")"
[ $? -ne 0 ] && expect_in "an unknown difference fails" "UNKNOWN changes, only the rehearsal: + value HKLM\\SOFTWARE\\A \"Y\"" "$out" ||
  not_ok "an unknown difference passed"

out="$(known "$X_REAL" "$X_SIM" "$Y_SIM" "$LIBRARY" 'test, other | log | real | - | ^never$ | evidence: d')"
[ $? -ne 0 ] && expect_in "an entry that matched nothing fails" "the known difference of line 5 matched nothing" "$out" ||
  not_ok "an entry that matched nothing passed"
expect_in "and is counted" "entries 4 of 5 matched" "$out"

out="$(known "$X_REAL" 'test | changes | rehearsal | x | ^\+ value HKLM\\SOFTWARE\\A "[XY]" = REG_SZ "1"$ | evidence: a' "$LIBRARY")"
[ $? -ne 0 ] && expect_in "a pair matched unevenly fails" "the pair x is not matched on both sides alike (line 1 matched 1, line 2 matched 2)" "$out" ||
  not_ok "a pair matched unevenly passed"

exit "$FAILED"
