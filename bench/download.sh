#!/usr/bin/env bash
# Time of the curl downloader fetching a 1 GiB file from nginx on loopback,
# next to `curl -o` fetching the same file, in one run. The downloader is
# timed twice: reporting to a window on another thread as in the launcher
# (every progress report is a synchronous message), and with no window.
# Each command runs several times, in turns, and its best wall time counts. Ratio = our
# time / curl's time.
#
#   bench/download.sh [BUILD_DIR]     (default: build)
# Goal: ratio <= 1.15.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/served_file.sh"

find_download_bench "${1:-build}"
runs=${DOWNLOAD_BENCH_RUNS:-5}
size_mib=1024

serve_random_file "$((size_mib * 1024 * 1024))"

# Prints "wall cpu" seconds of one download by the command (cpu = user +
# system time of the process); the downloaded file is removed before the run
# and checked after it.
TIMEFORMAT='%R %U %S'
time_once() {
  local timing
  rm -f out.bin
  timing=$({ time "$@" > /dev/null 2>&1; } 2>&1)
  cmp -s out.bin "$work/root/data.bin" || { echo "download by '$*' differs" >&2; exit 1; }
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' <<< "$timing"
}

# The commands take turns, so that a change in the machine's load touches
# all of them alike; the best wall and CPU times of each count.
names=(curl window plain)
declare -A wall cpu
for ((i = 0; i < runs; i++)); do
  for name in "${names[@]}"; do
    case $name in
      curl) read -r w c < <(time_once curl -s -o out.bin "$url") ;;
      window) read -r w c < <(time_once "$bench" "$url" out.bin --window) ;;
      plain) read -r w c < <(time_once "$bench" "$url" out.bin) ;;
    esac
    if [[ -z ${wall[$name]:-} ]] || awk -v a="$w" -v b="${wall[$name]}" 'BEGIN { exit !(a < b) }'; then wall[$name]=$w; fi
    if [[ -z ${cpu[$name]:-} ]] || awk -v a="$c" -v b="${cpu[$name]}" 'BEGIN { exit !(a < b) }'; then cpu[$name]=$c; fi
  done
done
rm -f out.bin

report() {  # label name
  awk -v label="$1" -v t="${wall[$2]}" -v c="${cpu[$2]}" -v bt="${wall[curl]}" -v bc="${cpu[curl]}" \
      -v mib="$size_mib" -v base="$([[ $2 == curl ]] && echo 1 || echo 0)" 'BEGIN {
    printf "%-34s %7.3f s %6.0f MiB/s  cpu %6.3f s", label, t, mib / t, c
    if (!base) printf "   ratio %.2f (goal <= 1.15) %s   cpu ratio %.2f", t / bt, (t / bt <= 1.15 ? "ok" : "MISSED"), c / bc
    printf "\n"
  }'
}

echo "file: $size_mib MiB from nginx on 127.0.0.1, best of $runs runs; load average $(cut -d' ' -f1-3 /proc/loadavg)"
report "curl -o" curl
report "CAutoDownload_Curl, window thread" window
report "CAutoDownload_Curl, no window" plain
