#!/usr/bin/env bash
# Memory check of the whole chain: the launcher program runs against a tree
# written by the publisher tool: self-update with relaunch, installation from
# pages, two patches (deltas, LZMA chunks, added and deleted files) and the
# start of the game client.
#
#   bash scripts/memcheck.sh [valgrind|leaksanitizer]
#
# valgrind (the default): a RelWithDebInfo build under memcheck; every process
# image of the launcher is checked (the relaunches replace the image and are
# followed, each with a log of its own), the programs it starts (xdelta3, the
# client) are not. valgrind 3.19 does not know pidfd_open, so under it the
# client's start fails (error 38) and is not counted.
# leaksanitizer: the AddressSanitizer + UndefinedBehaviorSanitizer build with
# leak detection, the client's start included.
#
# Prints what each checked process left and ends with status 0 when no error
# and no lost block was found and the game folder holds the last version.
# Works in build-memcheck[-asan]/ (the run's files in memcheck-run/ there,
# removed at the start of each run). Takes the lock of the program tests, whose ports it uses (the
# build's defaults: backup server 127.0.0.1:18081, analytics :18090).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

tool=${1:-valgrind}
case $tool in
  valgrind) build="$repo/build-memcheck" settings=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  leaksanitizer) build="$repo/build-memcheck-asan" settings=(-DCMAKE_BUILD_TYPE=Debug -DLAUNCHER_SANITIZE=ON) ;;
  *) echo "usage: $0 [valgrind|leaksanitizer]" >&2; exit 2 ;;
esac

bash scripts/setup.sh
cmake -S . -B "$build" -G Ninja "${settings[@]}" -DLAUNCHER_BUILD_TESTS=OFF -DLAUNCHER_BUILD_BENCH=OFF > /dev/null
cmake --build "$build" --target TovaLauncher tova-publish -j 2 > /dev/null
# The publisher's own leaks are not what is checked here.
export ASAN_OPTIONS=detect_leaks=0

run="$build/memcheck-run"
rm -rf "$run"
sources="$run/sources" server="$run/server" game="$run/game" logs="$run/logs"
launcher="$game/launcher"
mkdir -p "$sources" "$server" "$launcher" "$logs"

exec 9> /tmp/tovalauncher-program-tests.lock
flock 9

# --- the game, its launcher and the server tree --------------------------
make_game_version() {  # version folder
  local v=$1 dir=$2
  mkdir -p "$dir/client" "$dir/data"
  printf '#!/bin/sh\necho "client %s: $*" > started.txt\n' "$v" > "$dir/client/meadow_jp.exe"
  chmod 755 "$dir/client/meadow_jp.exe"
  seq 1 30000 | sed "s/^2000\$/2000 changed in $v/" > "$dir/data/world.txt"
  head -c 300000 /dev/zero | tr '\0' "${v: -1}" > "$dir/data/filler.bin"
  case $v in
    1.0) echo "removed in 1.2" > "$dir/readme.txt" ;;
    1.1) echo "removed in 1.2" > "$dir/readme.txt"; echo "added in 1.1" > "$dir/data/items.txt" ;;
    1.2) echo "added in 1.1" > "$dir/data/items.txt" ;;
  esac
}
for v in 1.0 1.1 1.2; do make_game_version "$v" "$sources/game-$v"; done
mkdir -p "$sources/launcher-1.0.0" "$sources/launcher-1.0.1"
cp "$build/app/TovaLauncher.exe" "$sources/launcher-1.0.0/"
{ cat "$build/app/TovaLauncher.exe"; printf '\nlauncher 1.0.1\n'; } > "$sources/launcher-1.0.1/TovaLauncher.exe"
chmod 755 "$sources"/launcher-*/TovaLauncher.exe

"$build/tools/tova-publish" publish --out "$server/KVMETRA" --lzma-threshold 64K --lzma-chunk 32K \
  --launcher "1.0.0=$sources/launcher-1.0.0" --launcher "1.0.1=$sources/launcher-1.0.1" \
  --game "1.0=$sources/game-1.0" --game "1.1=$sources/game-1.1" --game "1.2=$sources/game-1.2" > /dev/null
# The pages install 1.0; the patches then bring it to 1.2.
printf '1.0\r\n' > "$server/KVMETRA/InstallVersion/version"

cp "$server/KVMETRA/LauncherVersion/Launcher_1.0.0/"* "$launcher/"
chmod 755 "$launcher/TovaLauncher.exe"
base=http://127.0.0.1:18081/KVMETRA
printf '[launcher]\nlauncherUrl=%s\n[install]\ninstallUrl=%s\n[update]\nupdateUrl=%s\n[repaire]\nrepaireUrl=%s\n' \
  "$base" "$base" "$base" "$base" > "$launcher/launcher.ini"

# --- the servers ----------------------------------------------------------
pids=()
stop_servers() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2> /dev/null || true; done
}
trap stop_servers EXIT
listening() { (exec 3<> "/dev/tcp/127.0.0.1/$1") 2> /dev/null; }
user_line=""
[[ $(id -u) -eq 0 ]] && user_line="user root root;"
cat > "$run/nginx.conf" << EOF
$user_line
daemon off;
master_process off;
error_log $logs/nginx-error.log;
pid $run/nginx.pid;
events { worker_connections 64; }
http {
  access_log $logs/access.log;
  client_body_temp_path $run/body;
  types { }
  default_type application/octet-stream;
  server { listen 127.0.0.1:18081; root $server; }
}
EOF
nginx -e "$logs/nginx-error.log" -p "$run" -c "$run/nginx.conf" 9>&- &
pids+=($!)
python3 tests/support/fault_server.py --port 18090 --root "$run" --log-dir "$logs" --post-reply 0 9>&- &
pids+=($!)
for port in 18081 18090; do
  for _ in $(seq 100); do listening "$port" && break; sleep 0.1; done
  listening "$port" || { echo "the server on port $port did not start" >&2; exit 1; }
done

# --- the launcher under the check -----------------------------------------
echo "== running the launcher under $tool (this takes a few minutes)"
checker=()
if [[ $tool == valgrind ]]; then
  # Each relaunch replaces the process image and starts a new valgrind with
  # the same process id, which would overwrite a log file: every image sends
  # its log to a listener instead.
  valgrind-listener 18193 > "$logs/memcheck.log" 2>&1 9>&- &
  pids+=($!)
  for _ in $(seq 100); do listening 18193 && break; sleep 0.1; done
  checker=(valgrind --trace-children=yes --trace-children-skip='*/xdelta3,*/sh,*/dash,*/bash,*/meadow_jp.exe,*/wine*'
    --leak-check=full --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect
    --num-callers=30 --log-socket=127.0.0.1:18193)
fi
status=0
(cd "$launcher" && env -u DISPLAY -u WAYLAND_DISPLAY HOME="$run/home" XDG_CONFIG_HOME="$run/home/.config" \
  WINEPREFIX="$run/home/.wine" TMPDIR="$run" ASAN_OPTIONS="detect_leaks=1:log_path=$logs/asan" \
  UBSAN_OPTIONS="print_stacktrace=1:log_path=$logs/ubsan" \
  "${checker[@]}" ./TovaLauncher.exe < /dev/null > "$logs/launcher.out" 2>&1 9>&-) || status=$?
for _ in $(seq 50); do [[ -s $game/client/started.txt ]] && break; sleep 0.1; done

failed=0
if [[ $tool == valgrind ]]; then
  sleep 1  # the listener writes what the last image sent
  log="$logs/memcheck.log"
  echo "process images checked:"
  sed -n 's/^([0-9]*) ==[0-9]*== Command: /  /p' "$log"
  # Memcheck's error kinds; an image replaced by a relaunch prints no summary.
  errors=$(grep -cE '== (Invalid (read|write|free)|Mismatched free|Conditional jump|Use of uninitialised|Syscall param|Source and destination overlap|Argument .* fishy|Invalid alignment|Jump to the invalid address)' "$log" || true)
  field() { sed -n "s/^([0-9]*) ==[0-9]*== *$1: \([0-9,]*\).*/\1/p" "$log" | tr '\n' ' '; }
  echo "memory errors: $errors; lost at the end: definitely $(field "definitely lost")bytes," \
    "indirectly $(field "indirectly lost")bytes, possibly $(field "possibly lost")bytes;" \
    "still reachable $(field "still reachable")bytes (${log#"$repo"/})"
  [[ $errors == 0 && -z $(field "definitely lost" | tr -d '0 ,') && -z $(field "indirectly lost" | tr -d '0 ,') ]] ||
    failed=1
else
  for report in "$logs"/asan.* "$logs"/ubsan.*; do
    [[ -e $report ]] || continue
    echo "report: ${report#"$repo"/}"
    grep -E "^(SUMMARY|==[0-9]+==ERROR)" "$report" || true
    failed=1
  done
  [[ $failed -eq 0 ]] && echo "no AddressSanitizer, LeakSanitizer or UndefinedBehaviorSanitizer report"
fi

current=no
diff -rq --exclude=launcher --exclude=GameInfo.ini --exclude=started.txt "$sources/game-1.2" "$game" > /dev/null &&
  current=yes
client=$(cat "$game/client/started.txt" 2> /dev/null || echo "not started")
echo "launcher exit status $status; game folder holds 1.2: $current; client: $client"
if [[ $tool == valgrind ]]; then
  # The client's start fails under valgrind (see above), and with it the exit status.
  [[ $current == yes && $failed -eq 0 ]]
else
  [[ $status -eq 0 && $current == yes && $client != "not started" && $failed -eq 0 ]]
fi
