#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer) and runs
# each for a bounded time: the answer decoder and the register template loader.
#   scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

bash scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUADREL_FUZZ=ON -DQUADREL_TESTS=OFF
cmake --build build-fuzz --parallel 2 --target fuzz_decoder fuzz_template

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
for target in decoder template; do
  corpus=fuzz-out/corpus-$target
  mkdir -p "$corpus" fuzz-out/crashes-$target
  echo "== fuzz_$target for ${seconds}s"
  log=fuzz-out/fuzz_$target.log
  if build-fuzz/fuzz/fuzz_$target "$corpus" "fuzz/corpus/$target" \
      -max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1 \
      -artifact_prefix=fuzz-out/crashes-$target/ >"$log" 2>&1; then
    tail -n 15 "$log"
  else
    tail -n 60 "$log"
    echo "fuzz_$target FAILED; see $log and fuzz-out/crashes-$target/"
    status=1
  fi
done
exit $status
