#!/usr/bin/env bash
# The repair check of an up-to-date game of 1 GiB in 4096 files (every file
# sized and CRC-checked, only the version file and the list fetched), next to
# a plain read of the same files, in one run; then the list comparison with
# 12,500 to 100,000 entries in both lists. Each command runs several times, in
# turns, and its best time counts (the times the program measures around the
# work itself). Ratio = check time / read time.
#
#   bench/repair.sh [BUILD_DIR]     (default: build)
# Goals: ratio <= 1.3; the comparison's time per n log2 n does not grow with n.
set -euo pipefail

build=$(realpath "${1:-build}")
bench="$build/bench/repair_bench"
[[ -x $bench ]] || { echo "missing $bench: build the target repair_bench first" >&2; exit 1; }
runs=${REPAIR_BENCH_RUNS:-5}
files=4096
size_mib=1024

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bench" make "$work" "$files" "$size_mib" > /dev/null
"$bench" read "$work" > /dev/null  # warm the page cache

# The value of `key=` in the program's last output line.
field() { tail -n 1 | tr ' ' '\n' | sed -n "s/^$1=//p"; }
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }

best_read=""
best_check=""
cpu_read=""
cpu_check=""
for ((round = 0; round < runs; round++)); do
  out=$("$bench" read "$work")
  best_read=$(min "$best_read" "$(field seconds <<< "$out")")
  cpu_read=$(min "$cpu_read" "$(field cpu <<< "$out")")
  out=$("$bench" check "$work")
  [[ $(field result <<< "$out") == 14 && $(field downloads <<< "$out") == 2 ]] || {
    echo "the check did not find the game up to date: $out" >&2
    exit 1
  }
  best_check=$(min "$best_check" "$(field seconds <<< "$out")")
  cpu_check=$(min "$cpu_check" "$(field cpu <<< "$out")")
done
awk -v r="$best_read" -v c="$best_check" -v cr="$cpu_read" -v cc="$cpu_check" -v n="$files" -v mib="$size_mib" \
    -v runs="$runs" 'BEGIN {
  printf "game: %d files, %d MiB in the page cache, best of %d runs (processor time: all threads)\n", n, mib, runs
  printf "%-28s %7.3f s %6.0f MiB/s  processor %7.3f s\n", "plain read of the files", r, mib / r, cr
  printf "%-28s %7.3f s %6.0f MiB/s  processor %7.3f s   ratio %.2f (goal <= 1.3) %s\n",
         "repair check (up to date)", c, mib / c, cc, c / r, (c / r <= 1.3 ? "ok" : "MISSED")
}'
echo "(the check spreads its files over two threads, which overlap only when a second processor is free)"


echo
echo "list comparison, both lists n entries, n/2 obsolete; best of 3 runs"
printf "%8s %9s %9s %9s %14s %14s\n" n run_s read_s compare_s "run/nlogn" "compare/nlogn"
first_run=""
first_compare=""
for n in 12500 25000 50000 100000; do
  run=""
  read=""
  for ((round = 0; round < 3; round++)); do
    out=$("$bench" compare "$n")
    run=$(min "$run" "$(field run <<< "$out")")
    read=$(min "$read" "$(field read <<< "$out")")
  done
  line=$(awk -v n="$n" -v run="$run" -v read="$read" 'BEGIN {
    nlogn = n * log(n) / log(2); compare = run - read; if (compare < 0) compare = 0
    printf "%.6e %.6e %.4f", run / nlogn, compare / nlogn, compare
  }')
  read -r per_run per_compare compare <<< "$line"
  [[ -n $first_run ]] || { first_run=$per_run; first_compare=$per_compare; }
  awk -v n="$n" -v run="$run" -v read="$read" -v compare="$compare" -v pr="$per_run" -v pc="$per_compare" \
      -v fr="$first_run" -v fc="$first_compare" 'BEGIN {
    printf "%8d %9.4f %9.4f %9.4f %14.2f %14.2f\n", n, run, read, compare, pr / fr, pc / fc
  }'
done
echo "(run/nlogn and compare/nlogn are relative to the smallest n: values that stay"
echo " near 1 or fall mean growth no faster than n log n)"
