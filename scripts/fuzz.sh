#!/usr/bin/env bash
# Fuzz runs: builds the libFuzzer harnesses of tests/fuzz with clang-14,
# AddressSanitizer and UndefinedBehaviorSanitizer in build/fuzz, then runs
# each one, two at a time, from seeds copied out of the repository's own
# files and the demo medium. Any crash, leak, timeout or sanitizer report
# fails the run; the input that caused it is kept in <out>/<harness>/, and
# each harness's output in <out>/<harness>/output.txt (what
# scripts/reliability_report.sh reads).
#
#   scripts/fuzz.sh                  short runs: each harness for ZT_FUZZ_SECONDS (30) seconds
#   scripts/fuzz.sh --runs N         each harness for N executions, without a time limit
#   options: --seconds S, --out DIR (default build/fuzz/runs), --only "h1 h2",
#            --jobs J (harnesses at a time, default 2)
#
# The long runs are meant for a quiet machine or a low priority:
#   nice -n 19 scripts/fuzz.sh --runs 10000000 --out build/fuzz/long
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=$ROOT/build/fuzz
RUNS=$BUILD/runs
SECONDS_EACH=${ZT_FUZZ_SECONDS:-30}
EXECUTIONS=""
JOBS=2
HARNESSES="machine language command_line setup_ini msi medium_texts"
while [ $# -gt 0 ]; do
  case $1 in
    --runs) EXECUTIONS=$2; shift 2 ;;
    --seconds) SECONDS_EACH=$2; shift 2 ;;
    --out) RUNS=$(realpath -m "$2"); shift 2 ;;
    --only) HARNESSES=$2; shift 2 ;;
    --jobs) JOBS=$2; shift 2 ;;
    *) echo "usage: $0 [--runs N | --seconds S] [--out DIR] [--only \"HARNESS...\"] [--jobs J]" >&2
       exit 2 ;;
  esac
done
started=$(date +%s)

# The project's packages, the compiler and its sanitizer runtimes.
bash scripts/deps.sh clang-14 libclang-rt-14-dev

cmake -S "$ROOT" -B "$BUILD" -G Ninja \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE= -DCMAKE_C_FLAGS="-O1 -g" -DCMAKE_CXX_FLAGS="-O1 -g" \
  -DZT_FUZZ=ON -DZT_WERROR=OFF >/dev/null
cmake --build "$BUILD" --target fuzzers -j2

# The demo medium's package and transforms seed the package harness, and the
# package is the base its transforms apply to. The sim build lays it out
# (ZT_FUZZ_MEDIUM names another medium folder).
MEDIUM=${ZT_FUZZ_MEDIUM:-$ROOT/build/sim/medium}
if [[ " $HARNESSES " == *" msi "* ]] && [ ! -f "$MEDIUM/Zentavo.msi" ]; then
  cmake --preset sim >/dev/null
  cmake --build --preset sim --target demo_medium -j2
fi
export ZT_FUZZ_MSI_PACKAGE=$MEDIUM/Zentavo.msi

# Seeds: the machine descriptions, the medium's language file (whole and cut
# short) and setup.ini, a few command lines of the three switches, the
# package and its transforms.
seed() {  # seed <harness> <file>...
  local dir=$RUNS/$1/seeds
  shift
  cp "$@" "$dir/"
}
rm -rf "$RUNS"
for h in $HARNESSES; do mkdir -p "$RUNS/$h/seeds" "$RUNS/$h/corpus"; done
for h in $HARNESSES; do
  case $h in
    machine) seed machine docs/machines/*.json src/platform/sim/default_machine.json ;;
    language)
      seed language medium/SetupLanguages.xml
      # The same file cut after its first two entries: small inputs mutate faster.
      awk '{ print } /^  <\/[A-Z]/ && ++n == 2 { print "</language-strings>"; exit }' \
        medium/SetupLanguages.xml > "$RUNS/language/seeds/two-entries.xml" ;;
    setup_ini)
      seed setup_ini medium/setup.ini
      # And one whose description runs past the 255 characters that are read.
      sed "s/^Description=.*/Description=$(printf 'x%.0s' $(seq 1 300))\r/" medium/setup.ini \
        > "$RUNS/setup_ini/seeds/long-description.ini" ;;
    command_line)
      n=0
      for line in "/c 12 /l 1031" "/l 2057" "/ct C:\\Temp\\Setup Files" "/C 3 /L 1041 /CT D:\\x" \
                  "  /c  /l 1036 /ct  " "/ct C:\\$(printf 'd%.0s' $(seq 1 520))"; do
        printf '%s' "$line" > "$RUNS/command_line/seeds/line$n"
        n=$((n + 1))
      done ;;
    msi) seed msi "$MEDIUM/Zentavo.msi" "$MEDIUM"/*.mst ;;
    medium_texts)
      seed medium_texts docs/machines/wine-xp-capture.json
      if [ -f "$MEDIUM/medium.sha" ]; then seed medium_texts "$MEDIUM/medium.sha"; fi ;;
    *) echo "unknown harness $h" >&2; exit 2 ;;
  esac
done

export ASAN_OPTIONS="detect_leaks=1:symbolize=1"
# Leaks inside libraries that are not ours, each with its reason.
export LSAN_OPTIONS="suppressions=$ROOT/tests/fuzz/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# run <harness>: fuzzes it for the fixed time or number of executions; the
# exit code says whether it stayed clean. The longest input is the largest
# seed's length, except where the seeds are short (a setup.ini value past
# 255 characters, a line past 511 must be reachable): there inputs may be
# long from the start.
run() {
  local h=$1 dir=$RUNS/$1 maxlen=() limit=()
  case $h in
    command_line) maxlen=(-max_len=2048 -len_control=0) ;;
    setup_ini) maxlen=(-max_len=4096 -len_control=0) ;;
  esac
  # The package harness records whole stacks at each allocation, so that the
  # suppression of libgsf's own leak (tests/fuzz/lsan.supp) can see libgsf
  # behind glib's allocator.
  local asan=$ASAN_OPTIONS
  [ "$h" = msi ] && asan="$ASAN_OPTIONS:fast_unwind_on_malloc=0"
  if [ -n "$EXECUTIONS" ]; then
    limit=(-runs="$EXECUTIONS" -timeout=60)
    ASAN_OPTIONS=$asan "$BUILD/tests/fuzz/fuzz_$h" "${limit[@]}" -rss_limit_mb=2048 "${maxlen[@]}" \
      -print_final_stats=1 -artifact_prefix="$dir/" "$dir/corpus" "$dir/seeds" >"$dir/output.txt" 2>&1
  else
    limit=(-max_total_time="$SECONDS_EACH" -timeout=10)
    ASAN_OPTIONS=$asan timeout --kill-after=10 $((SECONDS_EACH + 60)) \
      "$BUILD/tests/fuzz/fuzz_$h" "${limit[@]}" -rss_limit_mb=2048 "${maxlen[@]}" \
      -print_final_stats=1 -artifact_prefix="$dir/" "$dir/corpus" "$dir/seeds" >"$dir/output.txt" 2>&1
  fi
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
  batch=()
  while [ $# -gt 0 ] && [ ${#batch[@]} -lt "$JOBS" ]; do batch+=("$1"); shift; done
  pids=()
  for h in "${batch[@]}"; do run "$h" & pids+=($!); done
  for i in "${!batch[@]}"; do
    h=${batch[$i]}
    status=0; wait "${pids[$i]}" || status=$?
    out=$RUNS/$h/output.txt
    units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out" | tail -1)
    units=${units:-0}
    total_units=$((total_units + units))
    if clean "$h" "$status"; then
      echo "fuzz_$h: clean, $units inputs"
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
