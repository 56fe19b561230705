#!/usr/bin/env bash
# Runs the fuzz targets, one at a time, and prints per target the executions,
# the time and the findings (crashes, sanitizer reports, leaks, timeouts,
# out-of-memory inputs).
#
#   fuzz/run.sh TARGET|all SECONDS [RUNS]
#
# Each target runs for SECONDS, or until it has executed RUNS inputs when that
# comes first. The build goes to build-fuzz (clang, LAUNCHER_FUZZ=ON; set
# FUZZ_BUILD for another folder). Each target starts from its seeds in
# fuzz/corpus/TARGET and keeps what it learns in BUILD/fuzz-corpus/TARGET, so
# later runs continue; findings land in BUILD/fuzz-findings/TARGET/, and a
# finding is replayed with `BUILD/fuzz/TARGET_fuzz FILE` and each run's
# output is in BUILD/fuzz-logs/TARGET.log. Exit status 1 when
# any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."

all_targets=(private_profile ini_document unprotect_file version_repair_info patch_info
             unlzma_buffer lzma_container analysis_file unzip_package url_encode ansi_to_utf8
             signed_file_record)

if [ $# -lt 2 ] || ! [[ $2 =~ ^[0-9]+$ ]] || { [ $# -ge 3 ] && ! [[ $3 =~ ^[0-9]+$ ]]; }; then
  echo "usage: $0 TARGET|all SECONDS [RUNS]" >&2
  echo "targets: ${all_targets[*]}" >&2
  exit 2
fi
if [ "$1" = all ]; then
  targets=("${all_targets[@]}")
elif [[ " ${all_targets[*]} " == *" $1 "* ]]; then
  targets=("$1")
else
  echo "unknown target $1; targets: ${all_targets[*]}" >&2
  exit 2
fi
seconds=$2
runs=${3:--1}

build=$(realpath -m "${FUZZ_BUILD:-build-fuzz}")
seeds=$(realpath fuzz/corpus)
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DLAUNCHER_FUZZ=ON -DLAUNCHER_BUILD_TESTS=OFF -DLAUNCHER_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j 2 --target "${targets[@]/%/_fuzz}" >/dev/null

# Every target works in a private folder of its own below this one: in
# memory (/dev/shm) where possible, since the targets write files for every
# input.
shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || shm=$build
tmp=$(mktemp -d "$shm/launcher-fuzz.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
export TMPDIR=$tmp
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

status=0
printf '%-20s %12s %8s  %s\n' target executions seconds findings
for target in "${targets[@]}"; do
  corpus=$build/fuzz-corpus/$target
  findings=$build/fuzz-findings/$target
  log=$build/fuzz-logs/$target.log
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  before=$(ls "$findings" | sort)
  start=$(date +%s)
  # A chunk record may declare up to 4 GiB of output, and the decoder's buffer
  # is reserved for the declared size: allow that one allocation. Memory that
  # is really used stays limited by -rss_limit_mb.
  limits=(-rss_limit_mb=2048)
  case $target in unlzma_buffer | lzma_container) limits+=(-malloc_limit_mb=4097) ;; esac
  # One process, one job: the machine's cores are shared.
  "$build/fuzz/${target}_fuzz" -max_total_time="$seconds" -runs="$runs" -timeout=25 "${limits[@]}" \
      -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "$seeds/$target" >"$log" 2>&1 || true
  elapsed=$(( $(date +%s) - start ))
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  new=$(comm -13 <(echo "$before") <(ls "$findings" | sort) | sed "s|^|$findings/|" | tr '\n' ' ')
  [ -n "$new" ] && status=1
  printf '%-20s %12s %8s  %s\n' "$target" "${executions:-?}" "$elapsed" "${new:-none}"
done
exit $status
