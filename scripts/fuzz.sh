#!/usr/bin/env bash
# Short fuzz runs: builds the libFuzzer harnesses of tests/fuzz with clang-14,
# AddressSanitizer and UndefinedBehaviorSanitizer in build/fuzz, then runs each
# for a fixed time (ZT_FUZZ_SECONDS, 30 by default), two at a time, from seeds
# copied out of the repository's own files. Any crash, leak, timeout or
# sanitizer report fails the stage; the input that caused it is kept in
# build/fuzz/runs/<harness>/ and the run's output is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=$ROOT/build/fuzz
RUNS=$BUILD/runs
SECONDS_EACH=${ZT_FUZZ_SECONDS:-30}
HARNESSES="machine language command_line setup_ini"
started=$(date +%s)

# The project's packages, the compiler and its sanitizer runtimes.
bash scripts/deps.sh clang-14 libclang-rt-14-dev

cmake -S "$ROOT" -B "$BUILD" -G Ninja \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE= -DCMAKE_C_FLAGS="-O1 -g" -DCMAKE_CXX_FLAGS="-O1 -g" \
  -DZT_FUZZ=ON -DZT_WERROR=OFF >/dev/null
cmake --build "$BUILD" --target fuzzers -j2

# Seeds: the machine descriptions, the medium's language file (whole and cut
# short) and setup.ini, and a few command lines of the three switches.
seed() {  # seed <harness> <file>...
  local dir=$RUNS/$1/seeds
  shift
  cp "$@" "$dir/"
}
rm -rf "$RUNS"
for h in $HARNESSES; do mkdir -p "$RUNS/$h/seeds" "$RUNS/$h/corpus"; done
seed machine docs/machines/*.json src/platform/sim/default_machine.json
seed language medium/SetupLanguages.xml
# The same file cut after its first two entries: small inputs mutate faster.
awk '{ print } /^  <\/[A-Z]/ && ++n == 2 { print "</language-strings>"; exit }' \
  medium/SetupLanguages.xml > "$RUNS/language/seeds/two-entries.xml"
seed setup_ini medium/setup.ini
# And one whose description runs past the 255 characters that are read.
sed "s/^Description=.*/Description=$(printf 'x%.0s' $(seq 1 300))\r/" medium/setup.ini \
  > "$RUNS/setup_ini/seeds/long-description.ini"
n=0
for line in "/c 12 /l 1031" "/l 2057" "/ct C:\\Temp\\Setup Files" "/C 3 /L 1041 /CT D:\\x" \
            "  /c  /l 1036 /ct  " "/ct C:\\$(printf 'd%.0s' $(seq 1 520))"; do
  printf '%s' "$line" > "$RUNS/command_line/seeds/line$n"
  n=$((n + 1))
done

export ASAN_OPTIONS="detect_leaks=1:symbolize=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# run <harness>: fuzzes it for the fixed time; the exit code says whether it stayed clean.
# The longest input is the largest seed's length, except where the seeds are
# short (a setup.ini value past 255 characters, a line past 511 must be
# reachable): there inputs may be long from the start.
run() {
  local h=$1 dir=$RUNS/$1 maxlen=()
  case $h in
    command_line) maxlen=(-max_len=2048 -len_control=0) ;;
    setup_ini) maxlen=(-max_len=4096 -len_control=0) ;;
  esac
  timeout --kill-after=10 $((SECONDS_EACH + 60)) \
    "$BUILD/tests/fuzz/fuzz_$h" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
    "${maxlen[@]}" -print_final_stats=1 -artifact_prefix="$dir/" \
    "$dir/corpus" "$dir/seeds" >"$dir/output.txt" 2>&1
}

# A run is clean when libFuzzer ended normally and nothing reported a fault.
clean() {
  local h=$1 status=$2 out=$RUNS/$1/output.txt
  [ "$status" -eq 0 ] || return 1
  ! grep -qE "ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error:|broken rule:" "$out"
}

failed=""
total_units=0
set -- $HARNESSES
while [ $# -gt 0 ]; do
  first=$1
  second=${2:-}
  shift
  [ -n "$second" ] && shift
  run "$first" & pid1=$!
  pid2=""
  if [ -n "$second" ]; then run "$second" & pid2=$!; fi
  status1=0; wait "$pid1" || status1=$?
  status2=0; [ -n "$pid2" ] && { wait "$pid2" || status2=$?; }
  for pair in "$first:$status1" ${second:+"$second:$status2"}; do
    h=${pair%%:*}
    status=${pair##*:}
    out=$RUNS/$h/output.txt
    units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out" | tail -1)
    units=${units:-0}
    total_units=$((total_units + units))
    if clean "$h" "$status"; then
      echo "fuzz_$h: clean, $units inputs in ${SECONDS_EACH} s"
    else
      echo "fuzz_$h: FAILED (exit $status); output follows, inputs kept in $RUNS/$h/"
      tail -n 80 "$out"
      ls "$RUNS/$h" | grep -E '^(crash|leak|timeout|oom|slow-unit)-' || true
      failed="$failed $h"
    fi
  done
done

elapsed=$(( $(date +%s) - started ))
count=$(echo $HARNESSES | wc -w)
if [ -n "$failed" ]; then
  echo "fuzz summary: FAILED:$failed ($count harnesses, $total_units inputs, ${elapsed} s)"
  exit 1
fi
echo "fuzz summary: $count harnesses clean, $total_units inputs, ${elapsed} s"
