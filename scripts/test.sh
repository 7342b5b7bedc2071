#!/usr/bin/env bash
# Installs what is missing, checks that the sources are formatted, builds every preset
# and runs every test: natively, under AddressSanitizer, and the Windows builds under
# Wine (each in a private prefix made for this run, with a virtual display). The 64-bit
# Windows suite always runs; the 32-bit one only where this machine can run 32-bit
# programs, which a probe decides (QEF_NO_32BIT=1 forces its answer to no). A suite
# that cannot run is reported as skipped, never as passed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/setup.sh || { echo "test: setup failed" >&2; exit 1; }

. scripts/wine-probe.sh

passed=() failed=() skipped=()
# run_suite NAME COMMAND...: runs one suite and notes how it ended.
run_suite() {
  local name=$1
  shift
  if "$@"; then passed+=("$name"); else failed+=("$name"); fi
}

build() {
  echo "== $1 build"
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1"
}

# A Windows suite: a fresh private prefix for the kind, then ctest on a virtual display.
wine_suite() {
  local kind=$1
  (
    export WINEPREFIX="$root/build/$kind/wineprefix"
    . scripts/wine-env.sh "$kind" "$root"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    trap '"$QEF_WINESERVER" -k >/dev/null 2>&1 || true' EXIT
    if ! "$QEF_WINE" wineboot -i >/dev/null 2>&1; then
      echo "test: cannot make a Wine prefix for $kind with $QEF_WINE" >&2
      exit 1
    fi
    "$QEF_WINESERVER" -w
    xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset "$kind"
  )
}

can_32bit=yes
qef_can_run_32bit || can_32bit=no

# Everything is built first: the native tool's tests pack the stubs of both Windows builds.
for preset in native asan win64 win32; do
  build "$preset" || { echo "test: the $preset build failed" >&2; exit 1; }
done

echo "== source format"
run_suite format scripts/format.sh --check
echo "== native tests"
run_suite native ctest --preset native
echo "== native tests with AddressSanitizer and UndefinedBehaviorSanitizer"
run_suite asan ctest --preset asan
echo "== win64 tests under wine64"
run_suite win64 wine_suite win64
if [ "$can_32bit" = yes ]; then
  echo "== win32 tests under Wine"
  run_suite win32 wine_suite win32
else
  echo "== win32 tests skipped: $qef_32bit_why; the 32-bit programs are built but not run"
  skipped+=("win32")
fi

echo "== suites passed: ${passed[*]:-none}; failed: ${failed[*]:-none}; skipped: ${skipped[*]:-none}"
echo "suites: ${#passed[@]} passed, ${#failed[@]} failed, ${#skipped[@]} skipped"
[ ${#failed[@]} -eq 0 ]
