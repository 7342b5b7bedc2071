#!/usr/bin/env bash
# Installs what is missing, builds both presets and runs every test: natively, then the
# Windows build under Wine (in a private prefix made for this run, with a virtual display).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/setup.sh

echo "== native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

echo "== native build and tests with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

echo "== win32 build and tests under Wine"
cmake --preset win32 >/dev/null
cmake --build --preset win32
export WINEPREFIX="$root/build/win32/wineprefix"
export WINEDEBUG=-all
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineboot -i >/dev/null 2>&1
wineserver -w
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset win32

echo "== all tests passed"
