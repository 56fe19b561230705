#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets: publishes a small update-server
# tree with the publisher tool (protected and plain, with deltas, LZMA chunk
# containers, marked files and zip pages) and copies its files into one folder
# per target.
#
#   fuzz/make_corpus.sh [PUBLISHER] [OUT]
#
# PUBLISHER defaults to build-fuzz/tools/tova-publish, OUT to fuzz/corpus.
# Needs unzip and python3.
set -euo pipefail
cd "$(dirname "$0")/.."

publisher=$(realpath "${1:-build-fuzz/tools/tova-publish}")
out=$(realpath -m "${2:-fuzz/corpus}")
key=$(realpath tests/data/signing/test.key)
[ -x "$publisher" ] || { echo "no publisher tool at $publisher" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Sources: a launcher and two game versions. Files of a few hundred bytes keep
# every seed small; the table and the client change a little (deltas), the
# added table is larger than the LZMA threshold and spans two chunks,
# readme.txt goes away and a text that begins with "LZMA" gets the protective
# markers.
mkdir -p launcher-2.0 game-1.0/client game-1.0/data game-1.1/client game-1.1/data game-1.1/notes
printf '#!/bin/sh\necho launcher 2.0\n' > launcher-2.0/TovaLauncher.exe
for i in $(seq 1 40); do echo "client build 1.0 line $i"; done > game-1.0/client/meadow_jp.exe
echo 'hello' > game-1.0/readme.txt
seq 1 60 > game-1.0/data/table.csv
for i in $(seq 1 40); do echo "client build 1.$((i % 7 == 0)) line $i"; done > game-1.1/client/meadow_jp.exe
seq 1 400 > game-1.1/data/table.csv
seq 1000 1400 > game-1.1/data/added.csv
echo 'LZMA is the name of a compression method' > game-1.1/notes/LZMA.txt

# ASan's leak report would only repeat what the memory-check run covers.
export ASAN_OPTIONS=detect_leaks=0
# The protected tree is signed as well.
for form in protected plain; do
  flag=(--signing-key "$key")
  [ "$form" = plain ] && flag=(--plain)
  "$publisher" publish --out "$form/KVMETRA" "${flag[@]}" --lzma-threshold 1K --lzma-chunk 1K \
      --launcher 2.0=launcher-2.0 --game 1.0=game-1.0 --game 1.1=game-1.1 >/dev/null
done

rm -rf "$out"
seed() {  # seed TARGET NAME FILE
  mkdir -p "$out/$1"
  cp "$3" "$out/$1/$2"
}
p=protected/KVMETRA
c=plain/KVMETRA

for target in private_profile ini_document; do
  seed $target AutoPatch.ini $c/AutoPatch/AutoPatch.ini
  seed $target GameInfo.ini-1.1 $c/GameVersion/Game_1.1/GameInfo.ini
  seed $target patchinfo_1.0_1.1.ini $c/AutoPatch/AutoPatch_1.0_1.1/patchinfo_1.0_1.1.ini
  seed $target intallinfo_1.1.ini $c/InstallVersion/InstallPage_1.1/intallinfo_1.1.ini
done
seed private_profile version $c/InstallVersion/version

for target in unprotect_file version_repair_info; do
  seed $target GameInfo.ini-1.1-protected $p/GameVersion/Game_1.1/GameInfo.ini
  seed $target GameInfo.ini-2.0-protected $p/LauncherVersion/Launcher_2.0/GameInfo.ini
  seed $target GameInfo.ini-1.0 $c/GameVersion/Game_1.0/GameInfo.ini
done
seed unprotect_file patchinfo_1.0_1.1.ini-protected $p/AutoPatch/AutoPatch_1.0_1.1/patchinfo_1.0_1.1.ini

seed patch_info patchinfo_1.0_1.1.ini-protected $p/AutoPatch/AutoPatch_1.0_1.1/patchinfo_1.0_1.1.ini
seed patch_info patchinfo_1.0_1.1.ini $c/AutoPatch/AutoPatch_1.0_1.1/patchinfo_1.0_1.1.ini
seed patch_info intallinfo_1.0.ini $c/InstallVersion/InstallPage_1.0/intallinfo_1.0.ini

seed signed_file_record version.sig $p/GameVersion/version.sig
seed signed_file_record GameInfo.ini.sig $p/GameVersion/Game_1.1/GameInfo.ini.sig
seed signed_file_record patchinfo_1.0_1.1.ini.sig $p/AutoPatch/AutoPatch_1.0_1.1/patchinfo_1.0_1.1.ini.sig

seed unzip_package package0.zip $p/AutoPatch/AutoPatch_1.0_1.1/package0.zip
seed unzip_package page0.zip-1.0 $p/InstallVersion/InstallPage_1.0/page0.zip

# The files inside the patch package: analysis files (whole, marked, deltas)
# and LZMA chunk containers, whose first record also seeds the decoder.
mkdir package
unzip -q $p/AutoPatch/AutoPatch_1.0_1.1/package0.zip -d package
find package -type f | sort | while read -r file; do
  name=$(echo "${file#package/}" | tr / _)
  if [ "$(head -c 4 "$file")" = LZMA ]; then
    seed lzma_container "$name" "$file"
    python3 - "$file" "$out/unlzma_buffer/$name-record0" <<'PY'
import os, struct, sys
data = open(sys.argv[1], "rb").read()
length = struct.unpack_from("<I", data, 8)[0]
os.makedirs(os.path.dirname(sys.argv[2]), exist_ok=True)
open(sys.argv[2], "wb").write(data[:length])
PY
  else
    seed analysis_file "$name" "$file"
  fi
done

# URLs as the launcher requests the tree's files: slashes, "?rand=" and the
# tick count; one more with a code page 936 name.
n=0
find "$p" -type f ! -name '*.sig' | sort | head -n 12 | while read -r file; do
  n=$((n + 1))
  url="http://127.0.0.1:18081/${file#protected/}?rand=$((n * 7919))"
  mkdir -p "$out/url_encode" "$out/ansi_to_utf8"
  printf '%s' "$url" > "$out/url_encode/url$n"
  printf '%s' "$url" > "$out/ansi_to_utf8/url$n"
done
printf 'http://127.0.0.1:18081/KVMETRA/GameVersion/Game_1.1/\xca\xfd\xbe\xdd/\xb1\xed.csv?rand=5' \
  | tee "$out/url_encode/url-cp936" > "$out/ansi_to_utf8/url-cp936"

du -sh "$out"/* | sed "s|$out/||"
