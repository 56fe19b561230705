#!/usr/bin/env bash
# Every benchmark of the project in one run; each figure is printed as a
# ratio against its baseline, measured in the same run:
#   hash.sh     MakeFileHex (MD5, CRC) against md5sum and a plain read, 1 GiB
#   download.sh the curl downloader against curl -o, 1 GiB from nginx
#   patch.sh    UpdatePatchFile against the shell pipeline of the same tools,
#               with the applier's peak memory, at two patch sizes ten times
#               apart
#   repair.sh   the repair check of an up-to-date 1 GiB game against a plain
#               read, and the growth of the list comparison
#   program.sh  the launcher program: installation (against curl, md5sum and
#               unzip) and the repair check (against a plain read) at two game
#               sizes ten times apart, the up-to-date run against curl of the
#               same small files, and the launcher's peak memory
# A summary of the ratios follows the sections.
#
#   bench/run.sh [BUILD_DIR]     (default: build; configured and built here)
#
# Sizes (MiB): BENCH_GAME_MIB, the larger game of program.sh (default 1024);
# BENCH_PATCH_MIB, the larger patch of patch.sh (default 300). The smaller
# one is a tenth. The defaults take about 5 minutes on 2 shared cores.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
game_mib=${BENCH_GAME_MIB:-1024}
patch_mib=${BENCH_PATCH_MIB:-300}

if [[ ! -e $build/CMakeCache.txt ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
fi
cmake --build "$build" --target hash_bench download_bench patch_bench repair_bench TovaLauncher tova-publish \
  -j "$(nproc)" > /dev/null

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
start_all=$(date +%s)

section() {  # name script args...
  local name=$1 script=$2 start
  shift 2
  echo
  echo "=== $name ($script $*)"
  if [[ ! -e bench/$script ]]; then
    echo "bench/$script is missing: no figures" | tee "$out/$name.txt"
    return
  fi
  start=$(date +%s)
  bash "bench/$script" "$@" 2>&1 | tee "$out/$name.txt"
  echo "($(($(date +%s) - start)) s)"
}

section hash hash.sh "$build"
section download download.sh "$build"
section patch-small patch.sh "$build" "$((patch_mib / 10))"
section patch-large patch.sh "$build" "$patch_mib"
section repair repair.sh "$build"
section program program.sh "$build" "$game_mib"

echo
echo "=== summary: ratio = ours / baseline (same run); $(($(date +%s) - start_all)) s in all"
grep -h -E "^MakeFileHex" "$out/hash.txt" || true
grep -h -E "^CAutoDownload_Curl" "$out/download.txt" || true
for name in patch-small patch-large; do
  grep -h -E "^(patch touching|ratio|peak RSS)" "$out/$name.txt" | sed 's/^/  /' || true
done
grep -h -E "^repair check" "$out/repair.txt" || true
sed -n '/^the launcher program/,$p' "$out/program.txt"
