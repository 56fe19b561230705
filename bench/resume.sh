#!/usr/bin/env bash
# Bytes a resumed download costs: a file fetched by the curl downloader from
# nginx on loopback, stopped at 20 random points (each attempt stops the
# transfer once it passes its point, as a player who closes the launcher
# would; the next attempt resumes), then completed. Prints the body bytes
# nginx sent over all requests ($body_bytes_sent of its access log) against
# the file's size; bytes the server had written into the socket buffers when
# an attempt stopped count as fetched.
#
#   bench/resume.sh [BUILD_DIR]     (default: build)
#   RESUME_BENCH_MIB=256 bench/resume.sh    a smaller file (default 1024 MiB)
# Goal: fetched / size <= 1.01.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/static_server.sh"

build=$(realpath "${1:-build}")
bench="$build/bench/download_bench"
[[ -x $bench ]] || { echo "missing $bench: build the target download_bench first" >&2; exit 1; }
size_mib=${RESUME_BENCH_MIB:-1024}
cuts=20

work=$(mktemp -d)
nginx_pid=""
cleanup() {
  if [[ -n $nginx_pid ]]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/root" "$work/client/temp_d"
size=$((size_mib * 1024 * 1024))
head -c "$size" /dev/urandom > "$work/root/data.bin"
start_static_server "$work/root" "$work"
nginx_pid=$server_pid
url="http://127.0.0.1:$port/data.bin"
cd "$work/client"

# The stop points, rising, each somewhere in the file.
mapfile -t points < <(python3 -c "
import random
print('\n'.join(str(p) for p in sorted(random.sample(range(1, $size), $cuts))))")
stopped=0
for point in "${points[@]}"; do
  if ! "$bench" "$url" out.bin --window --stop-at "$point" > /dev/null; then stopped=$((stopped + 1)); fi
done
"$bench" "$url" out.bin --window > /dev/null || { echo "the last attempt did not complete" >&2; exit 1; }
cmp -s out.bin "$work/root/data.bin" || { echo "the resumed file differs" >&2; exit 1; }

# Fields of nginx's default log: ... "GET /data.bin HTTP/1.1" status bytes ...
log="$work/nginx/logs/access.log"
fetched=$(awk '$7 == "/data.bin" { sum += $10 } END { print sum + 0 }' "$log")
requests=$(grep -c '"GET /data.bin' "$log")
awk -v f="$fetched" -v s="$size" -v mib="$size_mib" -v r="$requests" -v n="$stopped" 'BEGIN {
  printf "file: %d MiB, stopped %d times, %d requests; load average %s\n", mib, n, r, ENVIRON["LOADAVG"]
  printf "fetched %d bytes for %d: %.4f times the size (goal <= 1.01) %s\n", f, s, f / s, (f / s <= 1.01 ? "ok" : "MISSED")
}' LOADAVG="$(cut -d' ' -f1-3 /proc/loadavg)"
