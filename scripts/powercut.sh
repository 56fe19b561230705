#!/usr/bin/env bash
# Power cuts during a self-update, an installation and a patch. Each round puts a
# fresh ext4 file system on a loop device, mounted the least forgiving way:
# data=writeback (metadata such as a rename may reach the disk before the
# data it names), noauto_da_alloc (no implicit flush when a file replaces
# another by rename) and commit=1 (the journal commits every second without
# writing file data). It runs the launcher there against nginx, stops it
# (SIGSTOP) at a seeded moment between its start and two seconds after its
# uncut length, and copies the loop's backing file: what a flush made
# durable, or a journal commit put there, is in the copy; data still in the
# page cache is not (the kernel's own write-back waits
# dirty_expire_centisecs, 30 s by default). The launcher is then killed, the
# copy is mounted (journal recovery) and checked: the game's "GameInfo.ini"
# is absent or names only files whose MD5 matches, never empty or torn; then
# a normal launcher run on the copy must leave the published game byte for
# byte.
#
#   scripts/powercut.sh [BUILD_DIR] [ROUNDS] [SEED]    (defaults: build, 20, 1)
# Needs root (losetup, mount), e2fsprogs and nginx. Prints one line per round
# and a summary; exits 1 when a round ends wrong. The launcher's runs hold the
# program tests' lock, so the script and the tests never share the analytics
# port.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/static_server.sh"

build=$(realpath "${1:-build}")
rounds=${2:-20}
seed=${3:-1}
program="$build/app/TovaLauncher.exe"
publisher="$build/tools/tova-publish"
for needed in "$program" "$publisher"; do
  [[ -x $needed ]] || { echo "missing $needed: build the targets TovaLauncher and tova-publish first" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
mounts=()
loops=()
cleanup() {
  for pid in "${pids[@]}"; do kill -KILL -- "-$pid" "$pid" 2> /dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2> /dev/null || true; done
  for m in "${mounts[@]}"; do umount "$m" 2> /dev/null || true; done
  for l in "${loops[@]}"; do losetup -d "$l" 2> /dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# The published tree: game 1.0 installed from pages, then patched to 1.1.
make_version() {  # folder version
  mkdir -p "$1/data" "$1/client"
  for i in $(seq 0 15); do head -c $((256 * 1024 + i)) /dev/urandom > "$1/data/file$i.bin"; done
  printf 'version %s\n' "$2" > "$1/data/version.txt"
  printf '#!/bin/sh\nexit 0\n' > "$1/client/meadow_jp.exe"
  chmod 755 "$1/client/meadow_jp.exe"
}
make_version "$work/src/1.0" 1.0
cp -a "$work/src/1.0" "$work/src/1.1"
for i in 0 3 7; do head -c 1000 /dev/urandom >> "$work/src/1.1/data/file$i.bin"; done
rm "$work/src/1.1/data/file5.bin"
printf 'version 1.1\n' > "$work/src/1.1/data/version.txt"
# The launcher updates itself first: 1.0.1 is the same program with one
# byte more.
mkdir -p "$work/src/launcher-1.0.0" "$work/src/launcher-1.0.1"
cp "$program" "$work/src/launcher-1.0.0/TovaLauncher.exe"
{ cat "$program"; printf '\n'; } > "$work/src/launcher-1.0.1/TovaLauncher.exe"
served="$work/servers/KVMETRA"
"$publisher" publish --out "$served" --plain --launcher "1.0.0=$work/src/launcher-1.0.0" \
  --launcher "1.0.1=$work/src/launcher-1.0.1" \
  --game "1.0=$work/src/1.0" --game "1.1=$work/src/1.1" > /dev/null
printf '1.0' > "$served/InstallVersion/version"

start_static_server "$work/servers" "$work"
pids+=("$server_pid")
base="http://127.0.0.1:$port/KVMETRA"
curl -sf "$base/LauncherVersion/version" > /dev/null || { echo "nginx does not serve $base" >&2; cat "$work/nginx/logs/error.log" >&2; exit 1; }

# Every file the list names has its listed MD5 (a plain list).
list_intact() {  # game-folder
  local list=$1/GameInfo.ini name md5 sum
  [[ -s $list ]] && grep -q '^Version=' "$list" || return 1
  while IFS=, read -r name md5 _; do
    sum=$(md5sum < "$1/$name" 2> /dev/null) || return 1
    [[ ${sum:0:32} == "${md5,,}" ]] || return 1
  done < <(sed -n 's/^File[0-9][0-9]* *= *//p' "$list" | tr -d '\r')
}

mount_image() {  # image mount-point
  local loop
  loop=$(losetup -f --show "$1")
  loops+=("$loop")
  mkdir -p "$2"
  mount -o data=writeback,noauto_da_alloc,commit=1 "$loop" "$2"
  mounts+=("$2")
}

release() {  # mount-point
  umount "$1"
  losetup -d "${loops[-1]}"
  unset 'mounts[-1]' 'loops[-1]'
}

run_launcher() {  # game-folder
  mkdir -p "$1/../tmp"
  (cd "$1/launcher" && TMPDIR="$1/../tmp" XDG_CONFIG_HOME="$work/config" WINEPREFIX="$work/wine" DISPLAY= \
    WAYLAND_DISPLAY= exec ./TovaLauncher.exe < /dev/null > "$1/../output.txt" 2>&1)
}

exec 9> /tmp/tovalauncher-program-tests.lock
flock 9

# A fresh file system on the loop device, mounted at $work/live, with the
# launcher folder of a player's first start.
fresh_game() {
  img="$work/disk.img"
  rm -f "$img" "$work/cut.img"
  # Sparse: the launcher asks for 2 GiB free before any download.
  truncate -s 3G "$img"
  mkfs.ext4 -q -F "$img"
  mount_image "$img" "$work/live"
  game="$work/live/game"
  mkdir -p "$game/launcher"
  cp "$served/LauncherVersion/Launcher_1.0.0/"* "$game/launcher/"
  chmod 755 "$game/launcher/TovaLauncher.exe"
  printf '[launcher]\nlauncherUrl=%s\n[game]\ngameUrl=%s\n[install]\ninstallUrl=%s\n[update]\nupdateUrl=%s\n[repaire]\nrepaireUrl=%s\n' \
    "$base" "$base" "$base" "$base" "$base" > "$game/launcher/launcher.ini"
  sync -f "$game"
}

mkdir -p "$work/config" "$work/wine"
# One uncut run gives the length of the whole job; the cuts fall within it.
fresh_game
started=$(date +%s%N)
run_launcher "$game" || true
length_ms=$((($(date +%s%N) - started) / 1000000 + 1))
release "$work/live"
echo "an uncut self-update, installation and patch take ${length_ms} ms"

RANDOM=$seed
old=0 new=0 wrong=0
for ((round = 1; round <= rounds; round++)); do
  fresh_game
  # The moment of the cut, seeded, within the job's length.
  delay=$(awk -v r=$((RANDOM * 32768 + RANDOM)) -v n="$((length_ms + 2000))" 'BEGIN { printf "%.3f", r % n / 1000 }')
  # A process group of its own (job control), so that the launcher and its
  # children stop and end together.
  set -m
  run_launcher "$game" &
  launcher=$!
  set +m
  pids+=($launcher)
  sleep "$delay"
  # What the launcher handed to the kernel without a flush stays unflushed.
  kill -STOP -- "-$launcher" 2> /dev/null || true
  sleep 0.2
  cp --sparse=always "$img" "$work/cut.img"
  kill -KILL -- "-$launcher" 2> /dev/null || true
  wait "$launcher" 2> /dev/null || true
  unset 'pids[-1]'
  release "$work/live"

  mount_image "$work/cut.img" "$work/cut"
  game="$work/cut/game"
  state=absent
  if [[ -e $game/GameInfo.ini ]]; then
    if list_intact "$game"; then state="list $(sed -n 's/^Version=//p' "$game/GameInfo.ini" | tr -d '\r') intact"; else state="list TORN"; fi
  fi
  run_launcher "$game" || true
  if [[ $state != "list TORN" ]] && diff -r -x launcher "$game" "$served/GameVersion/Game_1.1" > /dev/null &&
    cmp -s "$game/launcher/TovaLauncher.exe" "$served/LauncherVersion/Launcher_1.0.1/TovaLauncher.exe" &&
    cmp -s "$game/launcher/GameInfo.ini" "$served/LauncherVersion/Launcher_1.0.1/GameInfo.ini"; then
    result=ok
  else
    result=WRONG
    wrong=$((wrong + 1))
    diff -rq -x launcher "$game" "$served/GameVersion/Game_1.1" | head -5 >&2 || true
    grep -iv "appkey" "$game/launcher/Launch.log" | head -30 >&2 || true
    tail -5 "$game/../output.txt" >&2 || true
  fi
  [[ $state == absent ]] && old=$((old + 1)) || new=$((new + 1))
  echo "round $round: cut at ${delay} s, after the cut: $state; next run: $result"
  release "$work/cut"
done
echo "$rounds power cuts (seed $seed): $old without a list, $new with a list; wrong endings: $wrong"
[[ $wrong -eq 0 ]]
