#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite without a display.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
# Extra arguments after the options go to ctest (for example -R StringBytes).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
cmake_extra=()
if [ "${1:-}" = "--sanitize" ]; then
  shift
  build_dir=build-asan
  cmake_extra+=(-DQUADREL_SANITIZE=ON)
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
  export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi

bash scripts/install-deps.sh

# Cheap checks first: the formatting and the layering of the includes.
bash scripts/format.sh --check
bash scripts/check-layers.sh

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${cmake_extra[@]}"
# Ninja does not rerun moc for a header that is new to an existing build; dropping the autogen
# stamps makes it look again (cheap: it keeps its parse cache).
find "$build_dir" -path '*_autogen/timestamp' -delete 2>/dev/null || true
cmake --build "$build_dir" --parallel 2

bash scripts/check-windows-sources.sh
bash scripts/check-quadrelctl.sh "$build_dir"
if [ "$build_dir" = build ]; then
  bash scripts/check-package.sh "$build_dir"
fi

export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build_dir" --output-on-failure --timeout 600 "$@"
