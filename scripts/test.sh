#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test twice: in the normal
# build and in the AddressSanitizer + UndefinedBehaviorSanitizer build; the
# programs whose tests use threads run a third time, in a ThreadSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

echo "== formatting"
bash scripts/check_format.sh

jobs=$(nproc)
# Warnings are errors here, in every build.
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DLAUNCHER_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600)
}

echo "== normal build"
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== sanitizer build (ASan + UBSan)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DLAUNCHER_SANITIZE=ON -DLAUNCHER_BUILD_BENCH=OFF
echo "== thread sanitizer build (message layer, manager and workers, downloaders, reports)"
thread_tests=(test_platform test_transfer test_procedure test_telemetry)
cmake -S . -B build-tsan -G Ninja -DLAUNCHER_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLAUNCHER_TSAN=ON \
  -DLAUNCHER_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target "${thread_tests[@]}"
# The programs not built here leave placeholder tests behind; they are skipped.
(cd build-tsan && TSAN_OPTIONS=second_deadlock_stack=1 ctest --output-on-failure -j "$jobs" --timeout 600 -E _NOT_BUILT)
