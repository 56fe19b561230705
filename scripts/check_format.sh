#!/usr/bin/env bash
# Fails, naming the files, when a C++ source of the project is not laid out
# as .clang-format says. `scripts/check_format.sh --fix` formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c' | grep -v '^third_party/')
if [[ ${1:-} == --fix ]]; then
  clang-format -i "${files[@]}"
  exit 0
fi
unformatted=()
for file in "${files[@]}"; do
  clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
if [[ ${#unformatted[@]} -gt 0 ]]; then
  echo "not formatted (run scripts/check_format.sh --fix):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi
echo "formatting holds for ${#files[@]} files"
