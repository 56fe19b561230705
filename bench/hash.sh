#!/usr/bin/env bash
# Throughput of MakeFileHex (MD5 and CRC-32) on a 1 GiB file held in the page
# cache, next to md5sum and a plain read (cat). Each command runs several
# times, taking turns with the others, and its best wall time counts, so
# that a busy machine disturbs the figures less. Ratio = our time / baseline time.
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

# Wall time of one run of the command, in nanoseconds.
time_ns() {
  local start end
  start=$(date +%s%N)
  "$@" > /dev/null
  end=$(date +%s%N)
  echo $((end - start))
}

plain_read() { cat "$file"; }

# The digests must agree before the times mean anything.
ours_md5=$("$bench" md5 "$file" | cut -d' ' -f1)
their_md5=$(md5sum "$file" | cut -d' ' -f1)
if [[ ${ours_md5,,} != "${their_md5,,}" ]]; then
  echo "MD5 differs: ours $ours_md5, md5sum $their_md5" >&2
  exit 1
fi

# The commands take turns in every round, so that a change in the machine's
# load hits all of them alike; each keeps its best round.
declare -A best
names=(read md5sum md5 crc)
for ((round = 0; round < runs; round++)); do
  for name in "${names[@]}"; do
    case $name in
      read) t=$(time_ns plain_read) ;;
      md5sum) t=$(time_ns md5sum "$file") ;;
      md5) t=$(time_ns "$bench" md5 "$file") ;;
      crc) t=$(time_ns "$bench" crc "$file") ;;
    esac
    if [[ -z ${best[$name]:-} || $t -lt ${best[$name]} ]]; then best[$name]=$t; fi
  done
done
seconds() { awk -v ns="${best[$1]}" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
t_read=$(seconds read)
t_md5sum=$(seconds md5sum)
t_md5=$(seconds md5)
t_crc=$(seconds crc)

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
