#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs every one of them in turn, one process each, by default to 10 million executions.
#   scripts/fuzz.sh [--runs N | --time SECONDS] [--no-build] [target ...]
#     --runs N        executions per target (default 10000000)
#     --time SECONDS  run each target for a time instead of a count
#     --no-build      use the fuzz programs already built in build-fuzz/
#     target          fuzz_decoder, decoder, ...: only these (default: every fuzz/fuzz_*.cpp)
# Each target's corpus grows in fuzz-out/corpus-<name>/ from the seeds in fuzz/corpus/<name>/;
# a finding lands in fuzz-out/crashes-<name>/. At the end a table gives, per target, the
# executions, wall time, executions per second, corpus size and findings.
set -euo pipefail
cd "$(dirname "$0")/.."

limit=(-runs=10000000)
build=1
targets=()
while [ $# -gt 0 ]; do
  case $1 in
    --runs) limit=(-runs="$2"); shift 2 ;;
    --time) limit=(-max_total_time="$2"); shift 2 ;;
    --no-build) build=0; shift ;;
    -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
    *) targets+=("${1#fuzz_}"); shift ;;
  esac
done
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/fuzz_*.cpp; do
    name=$(basename "$source" .cpp)
    targets+=("${name#fuzz_}")
  done
fi

if [ $build -eq 1 ]; then
  bash scripts/install-deps.sh
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUADREL_FUZZ=ON -DQUADREL_TESTS=OFF >/dev/null
  cmake --build build-fuzz --parallel 2 --target "${targets[@]/#/fuzz_}"
fi

# Allocation stacks are not recorded: most targets spend their time in Qt's allocations, and
# recording a stack for each costs about a third of the speed. A finding is reproduced with the
# allocation stacks by running its input again with ASAN_OPTIONS=malloc_context_size=30.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:malloc_context_size=0"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
status=0
summary=$(printf '%-18s %12s %9s %9s %8s  %s' target executions seconds exec/s corpus findings)
for name in "${targets[@]}"; do
  program=build-fuzz/fuzz/fuzz_$name
  corpus=fuzz-out/corpus-$name
  crashes=fuzz-out/crashes-$name
  log=fuzz-out/fuzz_$name.log
  mkdir -p "$corpus" "$crashes"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  echo "== fuzz_$name ${limit[*]}"
  earlier=$(find "$crashes" -type f | wc -l)
  start=$(date +%s)
  result=ok
  if ! "$program" "$corpus" "${seeds[@]}" "${limit[@]}" -max_len=4096 -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$crashes/" >"$log" 2>&1; then
    result="FAILED (see $log and $crashes/)"
    status=1
    tail -n 60 "$log"
  fi
  seconds=$(( $(date +%s) - start ))
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  size=$(find "$corpus" -type f | wc -l)
  found=$(( $(find "$crashes" -type f | wc -l) - earlier ))
  [ "$result" = ok ] && result="$found"
  line=$(printf '%-18s %12s %9s %9s %8s  %s' "fuzz_$name" "${executions:-?}" "$seconds" "${speed:-?}" "$size" "$result")
  echo "$line"
  summary+=$'\n'"$line"
done
echo
echo "$summary" | tee fuzz-out/summary.txt
exit $status
