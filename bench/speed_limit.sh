#!/usr/bin/env bash
# The download rate limit ([download] maxKiBps): the curl downloader fetches
# a file from nginx on loopback with a limit, sized to take about five
# seconds, and the script prints the rate measured against the limit.
#
#   bench/speed_limit.sh [BUILD_DIR] [KIBPS]     (defaults: build, 2048)
# Goal: the measured rate within 20 % of the limit.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/served_file.sh"

find_download_bench "${1:-build}"
limit=${2:-2048}

size=$((limit * 1024 * 5))
serve_random_file "$size"

seconds=$("$bench" "$url" out.bin --window --max-kibps "$limit")
cmp -s out.bin "$work/root/data.bin" || { echo "the download differs" >&2; exit 1; }
awk -v s="$size" -v t="$seconds" -v l="$limit" 'BEGIN {
  rate = s / t / 1024
  dev = (rate - l) / l * 100
  printf "limit %d KiB/s: %d bytes in %.3f s = %.0f KiB/s, %+.1f %% (goal within 20 %%) %s\n", l, s, t, rate, dev,
         (dev <= 20 && dev >= -20 ? "ok" : "MISSED")
}'
