#!/usr/bin/env bash
# The download rate limit ([download] maxKiBps): the curl downloader fetches
# a file from nginx on loopback with a limit, sized to take about five
# seconds, and the script prints the rate measured against the limit.
#
#   bench/speed_limit.sh [BUILD_DIR] [KIBPS]     (defaults: build, 2048)
# Goal: the measured rate within 20 % of the limit.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/static_server.sh"

build=$(realpath "${1:-build}")
limit=${2:-2048}
bench="$build/bench/download_bench"
[[ -x $bench ]] || { echo "missing $bench: build the target download_bench first" >&2; exit 1; }

work=$(mktemp -d)
nginx_pid=""
cleanup() {
  if [[ -n $nginx_pid ]]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/root" "$work/client/temp_d"
size=$((limit * 1024 * 5))
head -c "$size" /dev/urandom > "$work/root/data.bin"
start_static_server "$work/root" "$work"
nginx_pid=$server_pid
cd "$work/client"

seconds=$("$bench" "http://127.0.0.1:$port/data.bin" out.bin --window --max-kibps "$limit")
cmp -s out.bin "$work/root/data.bin" || { echo "the download differs" >&2; exit 1; }
awk -v s="$size" -v t="$seconds" -v l="$limit" 'BEGIN {
  rate = s / t / 1024
  dev = (rate - l) / l * 100
  printf "limit %d KiB/s: %d bytes in %.3f s = %.0f KiB/s, %+.1f %% (goal within 20 %%) %s\n", l, s, t, rate, dev,
         (dev <= 20 && dev >= -20 ? "ok" : "MISSED")
}'
