#!/usr/bin/env bash
# The demo: installs what is needed, builds the launcher (Release), publishes
# a demo game with the publisher tool, serves it with nginx on the primary and
# backup ports of the build (127.0.0.1:18080 and :18081) with the analytics
# receiver on :18090, and runs the launcher in a demo game folder: self-update
# and relaunch, installation, two patches, the start of the demo client. The
# window shows when a display is available, the terminal front-end otherwise.
#
#   bash scripts/demo.sh
#
# Everything lives in ./demo-run/ (server tree, game folder, analytics
# records). A second run reuses it and finds everything up to date; remove
# ./demo-run/ to start over. The demo takes the lock of the program tests, so
# it waits while they use the same ports, and they wait for it.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/static_server.sh"
cd "$(dirname "$0")/.."
repo=$(pwd)

bash scripts/setup.sh

build="$repo/build-demo"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_BUILD_TESTS=OFF -DLAUNCHER_BUILD_BENCH=OFF \
  -DLAUNCHER_PRIMARY_ROOT=http://127.0.0.1:18080 -DLAUNCHER_BACKUP_ROOT=http://127.0.0.1:18081 \
  -DLAUNCHER_ANALYTICS_URL=http://127.0.0.1:18090 > /dev/null
cmake --build "$build" --target TovaLauncher tova-publish -j "$(nproc)"

demo="$repo/demo-run"
server="$demo/server"
game="$demo/game"
launcher="$game/launcher"
analytics="$demo/analytics"
mkdir -p "$demo" "$analytics"

exec 9> /tmp/tovalauncher-program-tests.lock
if ! flock -n 9; then
  echo "waiting for the program tests to release the ports ..."
  flock 9
fi

# --- the demo game and its server tree (made once) ----------------------
# Deterministic bytes: `size` pseudo-random bytes of `seed`, with the version
# written at a few places (so that patches carry small deltas).
stamped_bytes() {  # size seed version file
  python3 - "$@" <<'PY'
import random, sys
size, seed, version, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
data = bytearray(random.Random(seed).getrandbits(8) for _ in range(size))
for at in range(1000, size - len(version), 150000):
    data[at:at + len(version)] = version.encode()
open(path, "wb").write(data)
PY
}

demo_client() {  # version file
  cat > "$2" <<EOF
#!/bin/sh
# The demo game client, version $1: prints and records how it was started.
line="meadow_jp.exe (demo client $1) started in \$(pwd) with: \$*"
echo "\$line" >&2
echo "\$(date '+%F %T') \$line" >> meadow_jp.log
EOF
  chmod 755 "$2"
}

make_game_version() {  # version folder
  local v=$1 dir=$2
  mkdir -p "$dir/client" "$dir/data"
  demo_client "$v" "$dir/client/meadow_jp.exe"
  echo "Meadow demo game, version $v" > "$dir/readme.txt"
  seq 1 20000 | sed "s/^1000\$/1000 (changed in $v)/" > "$dir/data/world.txt"
  stamped_bytes 400000 7 "$v" "$dir/data/textures.bin"
  case $v in
    1.1) echo "an item added in 1.1" > "$dir/data/items.txt" ;;
    1.2) echo "an item added in 1.1" > "$dir/data/items.txt"; rm "$dir/readme.txt"
         echo "Meadow demo game, version 1.2: the readme became news" > "$dir/news.txt" ;;
  esac
}

if [[ ! -e $server/KVMETRA ]]; then
  echo "== publishing the demo game into $server"
  sources="$demo/sources"
  rm -rf "$sources" "$server"
  mkdir -p "$sources/launcher-1.0.0" "$sources/launcher-1.0.1"
  # The installed launcher is 1.0.0; the server's current one, 1.0.1, is the
  # same program with a few bytes appended and a notice file.
  cp "$build/app/TovaLauncher.exe" "$sources/launcher-1.0.0/TovaLauncher.exe"
  { cat "$build/app/TovaLauncher.exe"; printf '\nlauncher 1.0.1\n'; } > "$sources/launcher-1.0.1/TovaLauncher.exe"
  chmod 755 "$sources"/launcher-*/TovaLauncher.exe
  echo "Launcher 1.0.1: the demo's launcher update." > "$sources/launcher-1.0.1/notice.txt"
  for v in 1.0 1.1 1.2; do make_game_version "$v" "$sources/game-$v"; done
  "$build/tools/tova-publish" publish --out "$server/KVMETRA" \
    --launcher "1.0.0=$sources/launcher-1.0.0" --launcher "1.0.1=$sources/launcher-1.0.1" \
    --game "1.0=$sources/game-1.0" --game "1.1=$sources/game-1.1" --game "1.2=$sources/game-1.2" \
    --lzma-threshold 256K --lzma-chunk 128K
  # Installation pages of the first version: the patches follow the install.
  printf '1.0\r\n' > "$server/KVMETRA/InstallVersion/version"
fi

if [[ ! -e $launcher/TovaLauncher.exe ]]; then
  echo "== laying out the demo game folder $game (launcher 1.0.0, no game yet)"
  mkdir -p "$launcher"
  cp "$server/KVMETRA/LauncherVersion/Launcher_1.0.0/"* "$launcher/"
  chmod 755 "$launcher/TovaLauncher.exe"
  base=http://127.0.0.1:18081/KVMETRA
  cat > "$launcher/launcher.ini" <<EOF
[launcher]
launcherUrl=$base
[install]
installUrl=$base
[update]
updateUrl=$base
[repaire]
repaireUrl=$base
EOF
fi

# --- the servers --------------------------------------------------------
pids=()
stop_servers() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2> /dev/null || true; done
}
trap stop_servers EXIT

listening() { (exec 3<> "/dev/tcp/127.0.0.1/$1") 2> /dev/null; }
for port in 18080 18081 18090; do
  if listening "$port"; then
    echo "something else listens on 127.0.0.1:$port; stop it and run the demo again" >&2
    exit 1
  fi
done

start_static_server "$server" "$demo" 18080 18081
pids+=("$server_pid")
python3 tests/support/fault_server.py --port 18090 --root "$analytics" --log-dir "$analytics" --post-reply 0 9>&- &
pids+=($!)
for port in 18080 18081 18090; do
  for _ in $(seq 100); do listening "$port" && break; sleep 0.1; done
  listening "$port" || { echo "the server on port $port did not start" >&2; exit 1; }
done
echo "== servers: nginx on 127.0.0.1:18080 (primary) and :18081 (backup), analytics receiver on :18090"

# --- the launcher -------------------------------------------------------
if [[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]]; then
  echo "== running the launcher (window)"
else
  echo "== running the launcher (terminal front-end)"
fi
posts_before=0
[[ -e $analytics/posts.log ]] && posts_before=$(wc -l < "$analytics/posts.log")
status=0
(cd "$launcher" && ./TovaLauncher.exe 9>&-) || status=$?
# The client starts as the launcher ends; give it a moment to write its record.
for _ in $(seq 50); do [[ -s $game/client/meadow_jp.log ]] && break; sleep 0.1; done

echo
echo "launcher exit status: $status"
echo "game folder:          $game"
echo "launch log:           $launcher/Launch.log (the cycle before the relaunch: Launch.log.bak)"
echo "analytics records:    $analytics/posts.log"
[[ -e $game/client/meadow_jp.log ]] && echo "client record:        $game/client/meadow_jp.log"
if [[ -e $analytics/posts.log ]]; then
  # The events of the records (each record's last two fields: name, text).
  python3 - "$analytics/posts.log" "$posts_before" <<'PY'
import json, sys
names = []
for line in open(sys.argv[1]).readlines()[int(sys.argv[2]):]:
    body = bytes.fromhex(json.loads(line)["body_hex"])
    at = body.find(b"&log=")
    if at >= 0:
        fields = body[at + 5:].split(b"\x01")
        if len(fields) >= 18:
            name, text = fields[16].decode("utf-8", "replace"), fields[17].decode("utf-8", "replace")
            names.append(name + (" " + text if text else ""))
print("events of this run (%d): %s" % (len(names), ", ".join(names)))
PY
fi
exit "$status"
