#!/usr/bin/env bash
# The launcher program end to end, each figure next to a baseline measured in
# the same run; commands take turns for several rounds and each keeps its
# best wall time:
#  - installation of a game of LARGE / 10 and of LARGE MiB from its pages
#    (download from nginx, MD5, unpacking), against curl, md5sum and unzip
#    doing the same: fetch the version file, the description and the pages,
#    check the pages' MD5, unpack them into the game folder;
#  - the repair check of the installed, up-to-date game ("-repaire" answered
#    yes: every file sized and CRC-checked, nothing to repair), against a
#    plain read of its files;
#  - the up-to-date run (self-update and patch check find everything current,
#    the client is started), against one curl fetching the same small files;
#  - the peak resident memory of the launcher in each of these runs.
# The launcher runs in a game folder of its own against nginx on a free port,
# with the analytics receiver on the build's analytics port (the program
# tests' lock is held meanwhile). Ratio = launcher time / baseline time.
#
#   bench/program.sh [BUILD_DIR] [LARGE_MIB]     (defaults: build, 1024)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/static_server.sh"

build=$(realpath "${1:-build}")
large=${2:-1024}
small=$((large / 10))
runs=${PROGRAM_BENCH_RUNS:-3}
files=64
program="$build/app/TovaLauncher.exe"
publisher="$build/tools/tova-publish"
for needed in "$program" "$publisher"; do
  [[ -x $needed ]] || { echo "missing $needed: build the targets TovaLauncher and tova-publish first" >&2; exit 1; }
done
repo=$(cd "$(dirname "$0")/.." && pwd)

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2> /dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

exec 9> /tmp/tovalauncher-program-tests.lock
flock 9

listening() { (exec 3<> "/dev/tcp/127.0.0.1/$1") 2> /dev/null; }
wait_listening() {
  for _ in $(seq 100); do listening "$1" && return 0; sleep 0.1; done
  echo "the server on port $1 did not start" >&2
  exit 1
}

# nginx on a free port, serving every published tree.
mkdir -p "$work/servers"
start_static_server "$work/servers" "$work"
pids+=("$server_pid")

# The analytics receiver, as the launcher runs in production: each event of
# the run is posted, most of them waited for.
analytics_port=$(sed -n 's|^#define LAUNCHER_ANALYTICS_URL "http://127\.0\.0\.1:\([0-9]*\)".*|\1|p' \
  "$build/generated/BuildSettings.h")
if [[ -n $analytics_port ]]; then
  if listening "$analytics_port"; then
    echo "something else listens on the analytics port $analytics_port" >&2
    exit 1
  fi
  mkdir -p "$work/analytics"
  python3 "$repo/tests/support/fault_server.py" --port "$analytics_port" --root "$work/analytics" \
    --log-dir "$work/analytics" --post-reply 0 9>&- &
  pids+=($!)
  wait_listening "$analytics_port"
fi

# Runs a command in a folder with its input from a file; prints "wall
# peak_rss_kib status" (the peak of the process and of the children it waited
# for).
measure() {  # folder input-file command...
  python3 - "$@" <<'PY'
import os, sys, time
folder, stdin, command = sys.argv[1], sys.argv[2], sys.argv[3:]
start = time.monotonic()
pid = os.fork()
if pid == 0:
    os.chdir(folder)
    os.dup2(os.open(stdin, os.O_RDONLY), 0)
    null = os.open("/dev/null", os.O_WRONLY)
    os.dup2(null, 1)
    os.dup2(null, 2)
    os.execvp(command[0], command)
_, status, usage = os.wait4(pid, 0)
print("%.3f %d %d" % (time.monotonic() - start, usage.ru_maxrss, os.waitstatus_to_exitcode(status)))
PY
}

printf '' > "$work/no-input"
printf 'y\n' > "$work/yes"

# The shell's way of installing: the same downloads, checks and unpacking.
cat > "$work/pipeline.sh" <<'SH'
set -euo pipefail
base=$1 game=$2 pages=$3
rm -rf "$pages"
mkdir -p "$pages"
cd "$pages"
curl -sf -o version "$base/InstallVersion/version"
v=$(tr -d ' \t\r\n' < version)
folder="$base/InstallVersion/InstallPage_$v"
curl -sf -o info.ini "$folder/intallinfo_$v.ini"
mapfile -t entries < <(sed -n 's/^Package[0-9]* *= *//p' info.ini | tr -d '\r')
args=()
for entry in "${entries[@]}"; do args+=(-o "${entry%%,*}" "$folder/${entry%%,*}"); done
curl -sf "${args[@]}"
for entry in "${entries[@]}"; do
  IFS=, read -r name _ _ md5 _ <<< "$entry"
  sum=$(md5sum < "$name")
  [[ ${sum:0:32} == "${md5,,}" ]] || { echo "MD5 of $name differs" >&2; exit 1; }
done
for entry in "${entries[@]}"; do unzip -q -o "${entry%%,*}" -d "$game"; done
SH

# The game: `files` files of random bytes holding `mib` MiB, and a client
# that notes that it ran (outside the game folder).
make_game() {  # folder mib
  local each=$(($2 * 1048576 / files)) i
  mkdir -p "$1/client" "$1/data"
  for ((i = 0; i < files; i++)); do head -c "$each" /dev/urandom > "$1/data/file$i.bin"; done
  printf '#!/bin/sh\ntouch ../../client-ran\n' > "$1/client/meadow_jp.exe"
  chmod 755 "$1/client/meadow_jp.exe"
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
max() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b > a) ? b : a }'; }

# Runs the launcher; sets wall and rss, and checks that it ended with the
# client started.
run_launcher() {  # root input args...
  local root=$1 input=$2 status
  shift 2
  rm -f "$root/client-ran"
  read -r wall rss status < <(measure "$root/game/launcher" "$input" "$root/game/launcher/TovaLauncher.exe" "$@")
  [[ $status == 0 ]] || { echo "the launcher ended with $status in $root (see its Launch.log)" >&2; exit 1; }
  for _ in $(seq 100); do [[ -e $root/client-ran ]] && break; sleep 0.02; done
  [[ -e $root/client-ran ]] || { echo "the client did not start in $root" >&2; exit 1; }
}

empty_game() {  # root
  find "$1/game" -mindepth 1 -maxdepth 1 ! -name launcher -exec rm -rf {} +
  rm -rf "$1/game/launcher/temp_game_install" "$1/game/launcher/temp_d"
}

same_as_published() {  # root base-folder what
  diff -r -x launcher "$1/game" "$2/GameVersion/Game_1.0" > /dev/null || {
    echo "$3: the game differs from the published one" >&2
    exit 1
  }
}

declare -A install_l install_p install_rss repair_l repair_p repair_rss
for mib in "$small" "$large"; do
  echo "making and publishing a game of $mib MiB in $files files ..." >&2
  root="$work/run$mib"
  make_game "$work/sources/game$mib" "$mib"
  mkdir -p "$work/sources/launcher"
  cp "$program" "$work/sources/launcher/TovaLauncher.exe"
  served="$work/servers/g$mib/KVMETRA"
  "$publisher" publish --out "$served" --launcher "1.0.0=$work/sources/launcher" \
    --game "1.0=$work/sources/game$mib" > /dev/null
  rm -rf "$work/sources/game$mib"
  base="http://127.0.0.1:$port/g$mib/KVMETRA"
  mkdir -p "$root/game/launcher"
  cp "$served/LauncherVersion/Launcher_1.0.0/"* "$root/game/launcher/"
  chmod 755 "$root/game/launcher/TovaLauncher.exe"
  printf '[launcher]\nlauncherUrl=%s\n[game]\ngameUrl=%s\n[install]\ninstallUrl=%s\n[update]\nupdateUrl=%s\n[repaire]\nrepaireUrl=%s\n' \
    "$base" "$base" "$base" "$base" "$base" > "$root/game/launcher/launcher.ini"

  for ((round = 0; round < runs; round++)); do
    empty_game "$root"
    read -r wall _ status < <(measure "$work" "$work/no-input" bash "$work/pipeline.sh" "$base" "$root/game" \
      "$work/pipeline-pages")
    [[ $status == 0 ]] || { echo "the shell installation failed" >&2; exit 1; }
    [[ $round -gt 0 ]] || same_as_published "$root" "$served" "curl + md5sum + unzip"
    install_p[$mib]=$(min "${install_p[$mib]:-}" "$wall")

    empty_game "$root"
    run_launcher "$root" "$work/no-input"
    [[ $round -gt 0 ]] || same_as_published "$root" "$served" "the launcher's installation"
    install_l[$mib]=$(min "${install_l[$mib]:-}" "$wall")
    install_rss[$mib]=$(max "${install_rss[$mib]:-}" "$rss")
  done
  rm -rf "$work/pipeline-pages"

  # The installed game, in the page cache: the repair check against a read.
  for ((round = 0; round < runs; round++)); do
    read -r wall _ _ < <(measure "$root/game" "$work/no-input" sh -c 'find . -path ./launcher -prune -o -type f -exec cat {} +')
    repair_p[$mib]=$(min "${repair_p[$mib]:-}" "$wall")
    run_launcher "$root" "$work/yes" -repaire
    repair_l[$mib]=$(min "${repair_l[$mib]:-}" "$wall")
    repair_rss[$mib]=$(max "${repair_rss[$mib]:-}" "$rss")
  done
  same_as_published "$root" "$served" "the repair check"
done

# The up-to-date run, in the small game: everything current, client started.
root="$work/run$small"
base="http://127.0.0.1:$port/g$small/KVMETRA"
uptodate_l="" uptodate_p="" uptodate_rss=""
for ((round = 0; round < runs * 2; round++)); do
  read -r wall _ _ < <(measure "$work" "$work/no-input" curl -sf -o small1 "$base/LauncherVersion/version" \
    -o small2 "$base/LauncherVersion/Launcher_1.0.0/GameInfo.ini" -o small3 "$base/AutoPatch/AutoPatch.ini")
  uptodate_p=$(min "$uptodate_p" "$wall")
  run_launcher "$root" "$work/no-input"
  uptodate_l=$(min "$uptodate_l" "$wall")
  uptodate_rss=$(max "$uptodate_rss" "$rss")
done

row() {  # label launcher baseline rss-kib
  awk -v label="$1" -v l="$2" -v b="$3" -v rss="$4" 'BEGIN {
    printf "  %-10s %9.3f s %11.3f s %9.2f %12.1f MiB\n", label, l, b, l / b, rss / 1024 }'
}
growth() {  # what small-launcher large-launcher small-baseline large-baseline
  awk -v what="$1" -v sl="$2" -v ll="$3" -v sb="$4" -v lb="$5" -v n="$((large / small))" 'BEGIN {
    printf "  game %dx larger: %s %.1fx the time, baseline %.1fx\n", n, what, ll / sl, lb / sb }'
}

echo "the launcher program, best of $runs rounds; load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "installation from pages (nginx on 127.0.0.1), against curl + md5sum + unzip"
echo "  game        launcher    baseline     ratio   launcher peak RSS"
row "$small MiB" "${install_l[$small]}" "${install_p[$small]}" "${install_rss[$small]}"
row "$large MiB" "${install_l[$large]}" "${install_p[$large]}" "${install_rss[$large]}"
growth "installation" "${install_l[$small]}" "${install_l[$large]}" "${install_p[$small]}" "${install_p[$large]}"
echo "repair check of the up-to-date game (-repaire, yes), against a plain read of its files"
echo "  game        launcher    baseline     ratio   launcher peak RSS"
row "$small MiB" "${repair_l[$small]}" "${repair_p[$small]}" "${repair_rss[$small]}"
row "$large MiB" "${repair_l[$large]}" "${repair_p[$large]}" "${repair_rss[$large]}"
growth "repair check" "${repair_l[$small]}" "${repair_l[$large]}" "${repair_p[$small]}" "${repair_p[$large]}"
echo "up-to-date run (self-update and patch check, client started), against curl of the same 3 small files"
echo "              launcher    baseline     ratio   launcher peak RSS"
row "" "$uptodate_l" "$uptodate_p" "$uptodate_rss"
