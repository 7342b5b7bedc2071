#!/usr/bin/env bash
# Formats the tree's C and C++ sources with .clang-format: every .c, .cpp and .h file git
# knows of (tracked, or new and not ignored), never build/. With --check it changes
# nothing, lists each file that is not formatted and fails if there is one.
#   scripts/format.sh [--check] [FILE...]
set -euo pipefail
cd "$(dirname "$0")/.."
format=${CLANG_FORMAT:-clang-format-14}
command -v "$format" >/dev/null || { echo "format: $format not found (package clang-format-14)" >&2; exit 1; }

check=no
if [ "${1:-}" = --check ]; then
  check=yes
  shift
fi
if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.c' '*.cpp' '*.h' ':!:build/**')
fi

if [ "$check" = no ]; then
  printf '%s\0' "${files[@]}" | xargs -0 -r "$format" -i --style=file
  exit 0
fi
bad=0
for f in "${files[@]}"; do
  if ! "$format" --style=file --dry-run --Werror "$f" >/dev/null 2>&1; then
    echo "not formatted: $f"
    bad=$((bad + 1))
  fi
done
echo "format: ${#files[@]} files, $bad not formatted"
[ "$bad" -eq 0 ]
