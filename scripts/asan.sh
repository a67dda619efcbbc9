#!/usr/bin/env bash
# The native suite under AddressSanitizer and UndefinedBehaviorSanitizer: the
# asan preset (-O1) builds the simulation with its tests, runs every test,
# then rehearses every example machine of docs/machines with zentavo-sim.
# Any sanitizer report fails the stage. Extra arguments go to the configure
# step (e.g. -DCMAKE_CXX_COMPILER_LAUNCHER=ccache); ZT_ASAN_DIR names another
# build folder than build/asan. The summary it ends with is also written to
# <build>/sanitizer-summary.txt for scripts/reliability_report.sh.
# The preset turns GCC's maybe-uninitialized warning off: at -O1 with the
# sanitizers it reports the standard library's own std::function and
# std::regex internals; the sim preset keeps every warning an error.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
DIR=$(realpath -m "${ZT_ASAN_DIR:-build/asan}")
started=$(date +%s)

bash scripts/deps.sh

# A sanitizer report ends the process with 86, so that it cannot pass for an
# exit code of the setup.
export ASAN_OPTIONS="detect_leaks=1:exitcode=86"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=86"

cmake --preset asan -B "$DIR" "$@" >/dev/null
cmake --build "$DIR" -j2

tests_failed=0
# The fault walks run once, apart, so that their "[reliability]" lines are
# kept for the report (ctest keeps only the output of failing tests).
ctest --test-dir "$DIR" -j2 -E '^FaultInjection\.' --output-on-failure --output-log "$DIR/ctest.log" ||
  tests_failed=1
tests_run=$(sed -n 's/^.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\)$/\2/p' \
  "$DIR/ctest.log" | tail -1)
failed_count=$(sed -n 's/^.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\)$/\1/p' \
  "$DIR/ctest.log" | tail -1)
walks_status=0
# The two-upgrade walk goes over the same calls twice and takes the longest
# under the sanitizers; it runs in the native suite (scripts/test.sh).
"$DIR/zentavo_tests" --gtest_filter='FaultInjection.*:-FaultInjection.AFailedOrCutOff*' \
  >"$DIR/fault-walks.txt" 2>&1 || walks_status=$?
walks_run=$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from .* ran\..*/\1/p' "$DIR/fault-walks.txt")
walks_failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below:/\1/p' "$DIR/fault-walks.txt")
tests_run=$(( ${tests_run:-0} + ${walks_run:-0} ))
failed_count=$(( ${failed_count:-0} + ${walks_failed:-0} ))
if [ "$walks_status" -ne 0 ]; then
  tests_failed=1
  grep -E "Failure|FAILED|ERROR" "$DIR/fault-walks.txt" | head -40
fi

# Each example machine, rehearsed as zentavo-sim rehearses it (every wait
# answered confirm), with the demo medium made for its Windows family (the
# runner's default), so that the 9x and NT 4.0 examples install too.
rehearsals=0
rehearsal_failures=0
mkdir -p "$DIR/rehearsals"
for machine in docs/machines/*.json; do
  name=$(basename "$machine" .json)
  status=0
  "$DIR/zentavo-sim" --machine "$machine" --log "$DIR/rehearsals/$name.log" \
    --changes "$DIR/rehearsals/$name.changes" -- /l 1033 >"$DIR/rehearsals/$name.out" 2>&1 || status=$?
  rehearsals=$((rehearsals + 1))
  # The setup's exit codes as a Linux exit status (modulo 256): 0, 1602 as
  # 66, 1603 as 67, 3010 as 194.
  case $status in
    0|66|67|194) echo "rehearsal $name: exit code $status" ;;
    # The runner's own status of a machine that loses its power with nothing
    # started again (xp-power-cut).
    4) echo "rehearsal $name: the machine lost its power (runner status 4)" ;;
    *) echo "rehearsal $name: FAILED (exit $status)"; cat "$DIR/rehearsals/$name.out"
       rehearsal_failures=$((rehearsal_failures + 1)) ;;
  esac
done

# Sanitizer reports anywhere in the test and rehearsal output.
reports=$(cat "$DIR/ctest.log" "$DIR/fault-walks.txt" "$DIR"/rehearsals/*.out 2>/dev/null |
  grep -cE "ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:" || true)
elapsed=$(( $(date +%s) - started ))
summary="sanitizers: ${tests_run:-0} tests (${failed_count:-0} failed), $rehearsals example rehearsals ($rehearsal_failures failed), $reports sanitizer reports, ${elapsed} s"
echo "$summary" | tee "$DIR/sanitizer-summary.txt"
if [ "$tests_failed" -ne 0 ] || [ "$rehearsal_failures" -ne 0 ] || [ "$reports" -ne 0 ]; then
  exit 1
fi
