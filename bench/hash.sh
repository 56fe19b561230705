#!/usr/bin/env bash
# Throughput of MakeFileHex (MD5 and CRC-32) on a 1 GiB file held in the page
# cache, next to md5sum and a plain read (cat). Each command runs several
# times and its best wall time counts, so that a busy machine disturbs the
# figures less. Ratio = our time / baseline time.
#
#   bench/hash.sh [BUILD_DIR]     (default: build)
# Goals: MD5 within 1.1 x md5sum, CRC within 1.5 x a plain read.
set -euo pipefail

build=${1:-build}
bench="$build/bench/hash_bench"
[[ -x $bench ]] || { echo "missing $bench: build the target hash_bench first" >&2; exit 1; }
runs=${HASH_BENCH_RUNS:-5}
size_mib=1024

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file="$work/data.bin"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$file"
cat "$file" > /dev/null  # warm the page cache

# Prints the best wall time in seconds of running the command $runs times.
best_time() {
  local best="" start end elapsed
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    "$@" > /dev/null
    end=$(date +%s%N)
    elapsed=$((end - start))
    if [[ -z $best || $elapsed -lt $best ]]; then best=$elapsed; fi
  done
  awk -v ns="$best" 'BEGIN { printf "%.3f", ns / 1e9 }'
}

plain_read() { cat "$file"; }

# The digests must agree before the times mean anything.
ours_md5=$("$bench" md5 "$file" | cut -d' ' -f1)
their_md5=$(md5sum "$file" | cut -d' ' -f1)
if [[ ${ours_md5,,} != "${their_md5,,}" ]]; then
  echo "MD5 differs: ours $ours_md5, md5sum $their_md5" >&2
  exit 1
fi

t_read=$(best_time plain_read)
t_md5sum=$(best_time md5sum "$file")
t_md5=$(best_time "$bench" md5 "$file")
t_crc=$(best_time "$bench" crc "$file")

report() {  # name time baseline-name baseline-time goal
  awk -v name="$1" -v t="$2" -v bname="$3" -v bt="$4" -v goal="$5" -v mib="$size_mib" 'BEGIN {
    ratio = t / bt
    printf "%-22s %7.3f s %8.0f MiB/s   vs %-10s %7.3f s   ratio %.2f (goal <= %.1f) %s\n",
           name, t, mib / t, bname, bt, ratio, goal, (ratio <= goal ? "ok" : "MISSED")
  }'
}

echo "file: $size_mib MiB in the page cache, best of $runs runs"
report "plain read (cat)" "$t_read" "itself" "$t_read" 1
report "md5sum" "$t_md5sum" "itself" "$t_md5sum" 1
report "MakeFileHex MD5" "$t_md5" "md5sum" "$t_md5sum" 1.1
report "MakeFileHex CRC" "$t_crc" "cat" "$t_read" 1.5
