#!/usr/bin/env bash
# The reliability report: one table of the fuzz runs (executions and findings
# of each harness), the fault points and interruptions of the upgrade
# rehearsals (tried, survived, data lost) and the sanitizer suite (tests,
# example rehearsals, reports). It reads what the other stages left:
#   --fuzz DIR    the output folder of scripts/fuzz.sh (default build/fuzz/runs)
#   --build DIR   the build of scripts/asan.sh (default build/asan): its
#                 sanitizer-summary.txt and fault-walks.txt (the output of the
#                 FaultInjection tests under the sanitizers; without it, this
#                 script runs them with the build's zentavo_tests)
# and prints the table in Markdown (docs/reliability.md holds one).
set -euo pipefail
cd "$(dirname "$0")/.."
FUZZ=build/fuzz/runs
BUILD=build/asan
while [ $# -gt 0 ]; do
  case $1 in
    --fuzz) FUZZ=$2; shift 2 ;;
    --build) BUILD=$2; shift 2 ;;
    *) echo "usage: $0 [--fuzz DIR] [--build DIR]" >&2; exit 2 ;;
  esac
done

row() { printf '| %s | %s | %s | %s |\n' "$1" "$2" "$3" "$4"; }

echo "| Check | Tried | Survived, clean | Findings, data lost |"
echo "|---|---|---|---|"

# The fuzz harnesses: executions from libFuzzer's final statistics, findings
# from the inputs it kept and the reports in its output.
for out in "$FUZZ"/*/output.txt; do
  [ -f "$out" ] || { row "fuzzing" "no runs in $FUZZ" "-" "-"; break; }
  dir=$(dirname "$out")
  h=$(basename "$dir")
  units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out" | tail -1)
  kept=$(find "$dir" -maxdepth 1 -name 'crash-*' -o -maxdepth 1 -name 'leak-*' \
           -o -maxdepth 1 -name 'timeout-*' -o -maxdepth 1 -name 'oom-*' | wc -l)
  reports=$(grep -cE "ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error:|broken rule:" "$out" || true)
  findings=$((kept > reports ? kept : reports))
  if [ -z "$units" ]; then
    row "fuzz_$h" "run did not finish" "-" "$findings findings"
  else
    row "fuzz_$h" "$units executions" "$([ "$findings" -eq 0 ] && echo clean || echo no)" "$findings findings"
  fi
done

# The fault points and interruptions: the FaultInjection tests print one
# "[reliability]" line per walk; scripts/asan.sh keeps their output in
# fault-walks.txt (without it, they are run here).
walks=$BUILD/fault-walks.txt
tests=$BUILD/zentavo_tests
status=0
if [ -f "$walks" ]; then
  output=$(cat "$walks")
  grep -q '^\[  PASSED  \]' "$walks" && ! grep -q '^\[  FAILED  \]' "$walks" || status=1
elif [ -x "$tests" ]; then
  export ASAN_OPTIONS="detect_leaks=1:exitcode=86"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=86"
  output=$("$tests" --gtest_filter='FaultInjection.*' 2>&1) || status=$?
else
  output=""
  row "fault injection" "no test program in $BUILD" "-" "-"
fi
if [ -n "$output" ]; then
  echo "$output" | sed -n 's/^\[reliability\] \(.*\): tried \([0-9]*\), survived \([0-9]*\), data lost \([0-9]*\)$/\1|\2|\3|\4/p' |
  while IFS='|' read -r what tried survived lost; do
    row "$what" "$tried" "$survived" "$((tried - survived)) failed, $lost with data lost"
  done
  [ "$status" -eq 0 ] || row "FaultInjection tests" "failed" "no" "see $tests --gtest_filter='FaultInjection.*'"
fi

# The sanitizer suite, as scripts/asan.sh summed it up.
if [ -f "$BUILD/sanitizer-summary.txt" ]; then
  line=$(cat "$BUILD/sanitizer-summary.txt")
  tests_run=$(echo "$line" | sed -n 's/^sanitizers: \([0-9]*\) tests (\([0-9]*\) failed), \([0-9]*\) example rehearsals (\([0-9]*\) failed), \([0-9]*\) sanitizer reports.*/\1 tests, \3 example rehearsals/p')
  failed=$(echo "$line" | sed -n 's/^sanitizers: [0-9]* tests (\([0-9]*\) failed), [0-9]* example rehearsals (\([0-9]*\) failed).*/\1 tests, \2 rehearsals failed/p')
  reports=$(echo "$line" | sed -n 's/.*, \([0-9]*\) sanitizer reports.*/\1/p')
  row "sanitizer suite (ASan + UBSan)" "$tests_run" "$failed" "$reports sanitizer findings"
else
  row "sanitizer suite" "no $BUILD/sanitizer-summary.txt (run scripts/asan.sh)" "-" "-"
fi
