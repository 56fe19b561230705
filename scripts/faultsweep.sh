#!/usr/bin/env bash
# The system-call fault sweep: the launcher program runs through an
# installation from pages, the patches of an installed game and a
# self-update with relaunch, each time under strace with the N-th call of one
# kind failing (openat, read, write, pwrite64, rename, renameat2, linkat,
# unlink, unlinkat, mkdir, ftruncate, fsync, fdatasync, close, statfs; EIO,
# and ENOSPC as well for the calls that write), for every N up to what a
# clean run makes, sampled evenly down to a cap per call and error. After
# each such run a normal run must leave the published game and launcher.
#
#   bash scripts/faultsweep.sh [--asan] [--cap N] [--calls openat,read,...]
#
# Prints per scenario and call: the calls of a clean run (all, and the most
# of one process), the injections made, the runs stopped outside the
# launcher's code (by the dynamic loader, or in the sanitizer build by the
# sanitizer runtime's own memory probe) and the wrong endings, each of which
# is also a test failure.
# --asan uses the AddressSanitizer + UndefinedBehaviorSanitizer build
# (build-asan, configured as scripts/test.sh does) instead of build/.
# The regular tests run a seeded subset of the same program.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
settings=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
cap=200
calls=
while [ $# -gt 0 ]; do
  case $1 in
    --asan) build=build-asan settings=(-DCMAKE_BUILD_TYPE=Debug -DLAUNCHER_SANITIZE=ON -DLAUNCHER_BUILD_BENCH=OFF) ;;
    --cap) cap=$2; shift ;;
    --calls) calls=$2; shift ;;
    *) echo "usage: $0 [--asan] [--cap N] [--calls openat,read,...]" >&2; exit 2 ;;
  esac
  shift
done

bash scripts/setup.sh
cmake -S . -B "$build" -G Ninja -DLAUNCHER_WERROR=ON "${settings[@]}" > /dev/null
cmake --build "$build" --target test_e2e -j 2 > /dev/null
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LAUNCHER_BINARY_DIR="$PWD/$build"
status=0
LAUNCHER_SYSCALL_SWEEP=full LAUNCHER_SYSCALL_SWEEP_CAP=$cap LAUNCHER_SYSCALL_SWEEP_CALLS=$calls \
  "$build/tests/e2e/test_e2e" --gtest_filter='SyscallFaultTest.*' > "$build/faultsweep.log" 2>&1 || status=$?
grep -E '^(scenario|installation|patch|self-update) ' "$build/faultsweep.log"
grep -E '^(installation|patch|self-update): ' "$build/faultsweep.log" || true
echo "full output: $build/faultsweep.log"
exit $status
