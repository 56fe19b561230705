#!/usr/bin/env bash
# Applying a patch that touches about 300 MiB (deltas, LZMA-chunked whole
# files, plain whole files, deletions) with UpdatePatchFile, against a shell
# pipeline of the same tools doing the same work and checks: md5sum of the
# packages, unzip, LZMA decoding (xz on each record), xdelta3 -d, md5sum of
# every result and cp into the game. Both start from a fresh copy of the game
# in the page cache; both results must equal the new version. The two take
# turns for several rounds and each keeps its best wall time and its best
# processor time (user + system, child processes included), which a machine
# shared with other work disturbs less. Ratio = our time / pipeline time.
#
#   bench/patch.sh [BUILD_DIR] [MIB]     (defaults: build, 300)
# Goals: ratio <= 1.0; peak resident memory of the applier below 64 MiB plus
# the largest LZMA record.
set -euo pipefail

build=${1:-build}
mib=${2:-300}
bench="$build/bench/patch_bench"
[[ -x $bench ]] || { echo "missing $bench: build the target patch_bench first" >&2; exit 1; }
bench=$(realpath "$bench")
runs=${PATCH_BENCH_RUNS:-3}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "making the material ($mib MiB) ..."
"$bench" make "$work" "$mib"
manifest="$work/manifest.txt"

# A fresh game copy with the downloaded patch in its launcher folder.
fresh_game() {
  rm -rf "$work/run"
  mkdir -p "$work/run"
  cp -a "$work/old" "$work/run/game"
  mkdir -p "$work/run/game/launcher"
  cp -a "$work/patch" "$work/run/game/launcher/patch"
  sync
}

# Sets cpu_ms to the processor time of this shell's finished child processes
# so far, in milliseconds (`times` must run in this shell, not a subshell).
children_cpu() {
  local user system
  times > "$work/times"
  { read -r _ _; read -r user system; } < "$work/times"
  cpu_ms=$(awk -v u="$user" -v s="$system" 'function ms(t) { split(t, p, "m"); sub("s", "", p[2]); return (p[1] * 60 + p[2]) * 1000 }
    BEGIN { printf "%d", ms(u) + ms(s) }')
}

same_as_new() {
  # Folders emptied by deletions may stay behind in either way of applying.
  find "$work/run/game" -mindepth 1 -type d -empty -delete
  diff -r -x launcher "$work/run/game" "$work/new" > /dev/null || { echo "$1: result differs from the new version" >&2; exit 1; }
  [[ ! -e $work/run/game/launcher/patch ]] || { echo "$1: patch folder left" >&2; exit 1; }
}

md5_is() {  # file expected-upper-case-md5
  local sum
  sum=$(md5sum < "$1")
  [[ ${sum:0:32} == "${2,,}" ]]
}

# The 8 bytes of a little-endian 64-bit number.
le64() {
  local v=$1 i
  for ((i = 0; i < 8; i++)); do printf "\\$(printf %03o $(((v >> (8 * i)) & 255)))"; done
}

# Decodes an LZMA chunk container to standard output: each record becomes an
# .lzma stream (properties, decoded size, raw stream) for xz.
decode_container() {
  local file=$1 size pos=0 decoded record
  size=$(stat -c %s "$file")
  while ((pos < size)); do
    read -r decoded record < <(od -An -tu4 -j $((pos + 4)) -N 8 "$file")
    {
      dd if="$file" iflag=skip_bytes,count_bytes skip=$((pos + 12)) count=5 bs=5 status=none
      le64 "$decoded"
      dd if="$file" iflag=skip_bytes,count_bytes skip=$((pos + 17)) count=$((record - 17)) bs=1M status=none
    } | xz -dc --format=lzma
    pos=$((pos + record))
  done
}

# The shell's way of applying the patch, run in the launcher folder.
pipeline() {
  local stage=TempPipe kind type form name md5 source result
  grep -qx 'Version=1.0' ../GameInfo.ini
  while read -r kind name md5 _; do
    if [[ $kind == package ]]; then md5_is "patch/$name" "$md5"; fi
  done < "$manifest"
  mkdir -p "$stage/Unzip"
  while read -r kind name _; do
    if [[ $kind == package ]]; then unzip -q -o "patch/$name" -d "$stage/Unzip"; fi
  done < "$manifest"
  while read -r kind type form name md5 source; do
    [[ $kind == file ]] || continue
    result="$stage/Unzip/$name"
    case $form in
      none)
        if [[ $type == 3 ]]; then rm "../$name"; fi
        continue
        ;;
      lzma)
        decode_container "$result" > "$stage/decoded"
        mv "$stage/decoded" "$result"
        ;;
      delta)
        md5_is "../$name" "$source"
        tail -c +6 "$result" > "$stage/payload"
        rm -f "$stage/rebuilt"
        xdelta3 -d -s "../$name" "$stage/payload" "$stage/rebuilt"
        result="$stage/rebuilt"
        ;;
    esac
    md5_is "$result" "$md5"
    mkdir -p "$(dirname "../$name")"
    cp "$result" "../$name"
  done < "$manifest"
  rm -rf "$stage" patch
}

best_ours=""
best_pipe=""
cpu_ours=""
cpu_pipe=""
peak=0
children_peak=0
for ((round = 0; round < runs; round++)); do
  fresh_game
  children_cpu
  cpu=$cpu_ms
  start=$(date +%s%N)
  line=$(cd "$work/run/game/launcher" && "$bench" apply)
  end=$(date +%s%N)
  children_cpu
  cpu=$((cpu_ms - cpu))
  same_as_new "UpdatePatchFile"
  t=$((end - start))
  if [[ -z $best_ours || $t -lt $best_ours ]]; then best_ours=$t; fi
  if [[ -z $cpu_ours || $cpu -lt $cpu_ours ]]; then cpu_ours=$cpu; fi
  rss=$(sed -n 's/.* peak_rss_kib=\([0-9]*\).*/\1/p' <<< "$line")
  crss=$(sed -n 's/.*children_peak_rss_kib=\([0-9]*\).*/\1/p' <<< "$line")
  ((rss > peak)) && peak=$rss
  ((crss > children_peak)) && children_peak=$crss

  fresh_game
  children_cpu
  cpu=$cpu_ms
  start=$(date +%s%N)
  (cd "$work/run/game/launcher" && pipeline)
  end=$(date +%s%N)
  children_cpu
  cpu=$((cpu_ms - cpu))
  same_as_new "pipeline"
  t=$((end - start))
  if [[ -z $best_pipe || $t -lt $best_pipe ]]; then best_pipe=$t; fi
  if [[ -z $cpu_pipe || $cpu -lt $cpu_pipe ]]; then cpu_pipe=$cpu; fi
done

largest=$(awk '$1 == "largest-record" { print $2 }' "$manifest")
touched=$(du -sm "$work/new" | cut -f1)
awk -v ours="$best_ours" -v pipe="$best_pipe" -v cours="$cpu_ours" -v cpipe="$cpu_pipe" -v peak="$peak" -v cpeak="$children_peak" -v largest="$largest" \
    -v touched="$touched" -v runs="$runs" 'BEGIN {
  ratio = ours / pipe
  goal_kib = 64 * 1024 + largest / 1024
  printf "patch touching %d MiB, best of %d rounds\n", touched, runs
  printf "                   wall time   processor time\n"
  printf "UpdatePatchFile  %9.3f s  %9.3f s\n", ours / 1e9, cours / 1e3
  printf "shell pipeline   %9.3f s  %9.3f s\n", pipe / 1e9, cpipe / 1e3
  printf "ratio            %9.2f    %9.2f     (goal <= 1.0) %s\n", ratio, cours / cpipe, (ratio <= 1.0 ? "ok" : "MISSED")
  printf "peak RSS         %7.1f MiB (goal < 64 MiB + largest LZMA record %.1f MiB = %.1f MiB) %s\n",
         peak / 1024, largest / 1048576, goal_kib / 1024, (peak < goal_kib ? "ok" : "MISSED")
  printf "xdelta3 children %7.1f MiB peak RSS (separate processes, as in the pipeline)\n", cpeak / 1024
}'
