#!/usr/bin/env bash
# Bytes a resumed download costs: a file fetched by the curl downloader,
# stopped at 20 random points, then completed; each attempt after a stop
# resumes. Prints the body bytes the server sent over all requests against the
# file's size, and the bytes the attempts added to the file (which shows any
# restart).
#
# Client stops (the default): nginx on loopback serves the file and each
# attempt stops the transfer once it passes its point, as a player who closes
# the launcher would. Bytes nginx had written into the socket buffers when an
# attempt stopped count as sent ($body_bytes_sent of its access log; on
# loopback several MiB per stop).
# Server cuts (RESUME_BENCH_CUTS=server): the project's fault server ends each
# answer at the next point, as a dropped connection would; what it sent is
# what arrived.
#
#   bench/resume.sh [BUILD_DIR]     (default: build)
#   RESUME_BENCH_MIB=256 bench/resume.sh    the file's size (default 1024 MiB
#                                           with client stops, 256 with cuts)
#   RESUME_BENCH_KIBPS=N    rate of the stopped attempts (default 51200)
# Goal: sent / size <= 1.01.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/served_file.sh"

find_download_bench "${1:-build}"
fault_server="$(realpath "$(dirname "${BASH_SOURCE[0]}")/../tests/support/fault_server.py")"
cuts_by=${RESUME_BENCH_CUTS:-client}
[[ $cuts_by == client || $cuts_by == server ]] || { echo "RESUME_BENCH_CUTS is client or server" >&2; exit 2; }
# The fault server holds the file in memory for each answer.
if [[ $cuts_by == server ]]; then size_mib=${RESUME_BENCH_MIB:-256}; else size_mib=${RESUME_BENCH_MIB:-1024}; fi
cuts=20
# The stopped attempts run at a network's pace rather than loopback's, so
# that a stop lands near its point.
rate=${RESUME_BENCH_KIBPS:-51200}

size=$((size_mib * 1024 * 1024))
serve_random_file "$size"
if [[ $cuts_by == server ]]; then
  fault_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  mkdir -p "$work/fault"
  python3 "$fault_server" --port "$fault_port" --root "$work/root" --log-dir "$work/fault" &
  fault_pid=$!
  trap 'kill "$fault_pid" 2> /dev/null; wait "$fault_pid" 2> /dev/null; served_file_cleanup' EXIT
  for _ in $(seq 100); do (exec 3<> "/dev/tcp/127.0.0.1/$fault_port") 2> /dev/null && break; sleep 0.1; done
  (exec 3<> "/dev/tcp/127.0.0.1/$fault_port") 2> /dev/null || { echo "the fault server did not start" >&2; exit 1; }
fi
# One attempt that ends at `point`: a client stop, or an answer the server
# cuts there (the address names the cut; the record is matched by the local
# file, so another address resumes it all the same). Without a point, the
# attempt that completes the file.
attempt() {
  local point=${1:-}
  if [[ $cuts_by == client ]]; then
    "$bench" "$url" out.bin --window ${point:+--stop-at "$point" --max-kibps "$rate"} > /dev/null
  else
    local cut=0
    if [[ -n $point ]]; then
      cut=$((point - $(held)))
      ((cut > 0)) || cut=1
    fi
    "$bench" "http://127.0.0.1:$fault_port/__resumable/range/$cut/data.bin" out.bin --window > /dev/null
  fi
}

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
  if attempt "$point"; then
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
  attempt || { echo "the last attempt did not complete" >&2; exit 1; }
  received=$((received + size - before))
fi
cmp -s out.bin "$work/root/data.bin" || { echo "the resumed file differs" >&2; exit 1; }

if [[ $cuts_by == client ]]; then
  # Fields of nginx's default log: ... "GET /data.bin HTTP/1.1" status bytes ...
  log="$work/nginx/logs/access.log"
  fetched=$(awk '$7 == "/data.bin" { sum += $10 } END { print sum + 0 }' "$log")
  requests=$(grep -c '"GET /data.bin' "$log")
  sender=nginx
else
  # The fault server's lines: <path> <Range or -> <body bytes>.
  fetched=$(awk '{ sum += $NF } END { print sum + 0 }' "$work/fault/sent.log")
  requests=$(wc -l < "$work/fault/sent.log")
  sender="the fault server"
fi
LOADAVG="$(cut -d' ' -f1-3 /proc/loadavg)" awk -v f="$fetched" -v k="$received" -v s="$size" -v mib="$size_mib" \
    -v r="$requests" -v n="$stopped" -v by="$cuts_by" -v sender="$sender" 'BEGIN {
  printf "file: %d MiB, stopped %d times (%s), %d requests; load average %s\n", mib, n, by, r, ENVIRON["LOADAVG"]
  printf "sent by %s: %.0f bytes = %.4f times the size (goal <= 1.01) %s\n", sender, f, f / s, (f / s <= 1.01 ? "ok" : "MISSED")
  printf "kept by attempts: %.0f bytes = %.4f times the size\n", k, k / s
}'
