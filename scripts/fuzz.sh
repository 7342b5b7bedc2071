#!/usr/bin/env bash
# Builds the libFuzzer programs (clang, ASan, UBSan) and runs fuzz targets, each from its
# seeds (made by code) and its growing corpus in build/fuzz/corpus/<target>.
#   scripts/fuzz.sh [TARGET...] [-- LIBFUZZER OPTIONS]     e.g.  scripts/fuzz.sh container -- -runs=1000000
# Targets: value_record payload container name_check (default: all). Crashes are
# written to build/fuzz/crashes/; a found input belongs in fuzz/corpus/<target>/ with a fix.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
targets=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do targets+=("$1"); shift; done
[ "${1:-}" = "--" ] && shift
[ ${#targets[@]} -gt 0 ] || targets=(value_record payload container name_check)
options=("$@")
# Extraction runs write files: memory is the fastest place for them.
[ -d /dev/shm ] && export TMPDIR=/dev/shm
[ ${#options[@]} -gt 0 ] || options=(-max_total_time=60)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p build/fuzz/crashes
for t in "${targets[@]}"; do
  seeds=build/fuzz/seeds/$t
  corpus=build/fuzz/corpus/$t
  mkdir -p "$corpus"
  build/fuzz/fuzz/${t}_regression --write-seeds "$seeds" >/dev/null
  echo "== fuzzing $t ${options[*]}"
  build/fuzz/fuzz/${t}_fuzzer "$corpus" "$seeds" fuzz/corpus/$t -dict=fuzz/records.dict \
    -artifact_prefix=build/fuzz/crashes/$t- -print_final_stats=1 "${options[@]}" 2>&1 | tail -n 12
done
