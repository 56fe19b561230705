# Sourced by the download benchmarks: a file of random bytes served by nginx
# on 127.0.0.1 from a temporary folder that goes, with the server, when the
# script exits.
#
#   serve_random_file BYTES
# Sets `work` (the temporary folder), `url` (the file's address) and enters
# "$work/client", which holds the downloader's "temp_d". The file is
# "$work/root/data.bin"; nginx's access log is "$work/nginx/logs/access.log".
#
#   find_download_bench BUILD_DIR
# Sets `bench` to the build's download_bench, or ends the script when it is
# missing.
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/static_server.sh"

served_file_cleanup() {
  if [[ -n ${served_nginx_pid:-} ]]; then
    kill "$served_nginx_pid" 2>/dev/null || true
    wait "$served_nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}

serve_random_file() {
  work=$(mktemp -d)
  served_nginx_pid=""
  trap served_file_cleanup EXIT
  mkdir -p "$work/root" "$work/client/temp_d"
  head -c "$1" /dev/urandom > "$work/root/data.bin"
  start_static_server "$work/root" "$work"
  served_nginx_pid=$server_pid
  url="http://127.0.0.1:$port/data.bin"
  cd "$work/client"
}

find_download_bench() {
  bench="$(realpath "$1")/bench/download_bench"
  [[ -x $bench ]] || { echo "missing $bench: build the target download_bench first" >&2; exit 1; }
}
