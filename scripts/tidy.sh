#!/usr/bin/env bash
# Runs clang-tidy with .clang-tidy over every source the native build compiles (its
# compile_commands.json), the headers of the tree with them; fails on any finding. It is
# slow: one file takes seconds, the tree minutes.
#   scripts/tidy.sh [REGEX]   only the files whose path matches REGEX
# QEF_TIDY_JOBS sets how many files are checked at once (default: the processors).
set -euo pipefail
cd "$(dirname "$0")/.."
tidy=${CLANG_TIDY:-clang-tidy-14}
runner=${RUN_CLANG_TIDY:-run-clang-tidy-14}
command -v "$tidy" >/dev/null && command -v "$runner" >/dev/null ||
  { echo "tidy: $tidy or $runner not found (package clang-tidy-14)" >&2; exit 1; }

if [ ! -f build/native/compile_commands.json ]; then
  cmake --preset native >/dev/null
fi
"$runner" -clang-tidy-binary "$(command -v "$tidy")" -p build/native -j "${QEF_TIDY_JOBS:-$(nproc)}" -quiet \
  "${1:-.*}"
