#!/usr/bin/env bash
# Bytes a resumed download costs: a file fetched by the curl downloader from
# nginx on loopback, stopped at 20 random points (each attempt stops the
# transfer once it passes its point, as a player who closes the launcher
# would; the next attempt resumes), then completed. Prints the body bytes
# nginx sent over all requests ($body_bytes_sent of its access log) against
# the file's size: bytes the server had written into the socket buffers when
# an attempt stopped count as fetched (on loopback several MiB per stop).
# Also the bytes the attempts added to the file, which shows any restart.
#
#   bench/resume.sh [BUILD_DIR]     (default: build)
#   RESUME_BENCH_MIB=256 bench/resume.sh    a smaller file (default 1024 MiB)
#   RESUME_BENCH_KIBPS=N    rate of the stopped attempts (default 51200)
# Goal: fetched / size <= 1.01.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/served_file.sh"

find_download_bench "${1:-build}"
size_mib=${RESUME_BENCH_MIB:-1024}
cuts=20
# The stopped attempts run at a network's pace rather than loopback's, so
# that a stop lands near its point.
rate=${RESUME_BENCH_KIBPS:-51200}

size=$((size_mib * 1024 * 1024))
serve_random_file "$size"

# 20 random points, rising; each attempt stops once the file holds its point
# (an attempt that begins past its point stops at its first report). The
# stops land a fifth of a second's bytes past their points: libcurl reports
# after rounds of up to 100 reads. `received` adds what each attempt added to
# the file (all of it when it began from zero), which shows any restart.
partial=temp_d/~Qo.temp.out
held() { if [[ -e $partial ]]; then stat -c %s "$partial"; else echo 0; fi; }
mapfile -t points < <(python3 -c "
import random
print('\n'.join(str(p) for p in sorted(random.sample(range(1, $size), $cuts))))")
stopped=0
received=0
for point in "${points[@]}"; do
  before=$(held)
  if "$bench" "$url" out.bin --window --stop-at "$point" --max-kibps "$rate" > /dev/null; then
    received=$((received + size - before))
    break  # the file is complete: no later point can be cut
  fi
  stopped=$((stopped + 1))
  after=$(held)
  if ((after >= before)); then received=$((received + after - before)); else received=$((received + after)); fi
  [[ -n ${RESUME_BENCH_LOG:-} ]] && echo "stop at $point: held $before -> $after" >&2
done
if [[ ! -e out.bin ]]; then
  before=$(held)
  "$bench" "$url" out.bin --window > /dev/null || { echo "the last attempt did not complete" >&2; exit 1; }
  received=$((received + size - before))
fi
cmp -s out.bin "$work/root/data.bin" || { echo "the resumed file differs" >&2; exit 1; }

# Fields of nginx's default log: ... "GET /data.bin HTTP/1.1" status bytes ...
log="$work/nginx/logs/access.log"
fetched=$(awk '$7 == "/data.bin" { sum += $10 } END { print sum + 0 }' "$log")
requests=$(grep -c '"GET /data.bin' "$log")
LOADAVG="$(cut -d' ' -f1-3 /proc/loadavg)" awk -v f="$fetched" -v k="$received" -v s="$size" -v mib="$size_mib" \
    -v r="$requests" -v n="$stopped" 'BEGIN {
  printf "file: %d MiB, stopped %d times, %d requests; load average %s\n", mib, n, r, ENVIRON["LOADAVG"]
  printf "sent by nginx:    %.0f bytes = %.4f times the size (goal <= 1.01) %s\n", f, f / s, (f / s <= 1.01 ? "ok" : "MISSED")
  printf "kept by attempts: %.0f bytes = %.4f times the size\n", k, k / s
}'
