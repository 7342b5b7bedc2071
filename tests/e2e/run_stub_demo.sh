#!/usr/bin/env bash
# The demo's Wine step: runs a self-decrypting program as its recipient would, under
# Wine on a virtual display, in a private Wine prefix made for this run, and checks
# the extracted files against the folder that was packed. Prints the stub's timings:
# the wall time from the program's start to its exit, and from Decrypt to its message.
#
#   QEF_PASSWORD=... tests/e2e/run_stub_demo.sh BUILD_DIR PROGRAM.exe SOURCE_FOLDER
#
# BUILD_DIR holds the win32 or win64 build with the target stub_demo (the recipient),
# of the same kind as the program; a win64 build runs under the wine64 loader alone.
# Screenshots of the dialogs go to $QEF_SCREENSHOT_DIR, by default its screenshots/.
set -euo pipefail

if [ $# -ne 3 ] || [ -z "${QEF_PASSWORD:-}" ]; then
  echo "usage: QEF_PASSWORD=... $0 BUILD_DIR PROGRAM.exe SOURCE_FOLDER" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
program=$(readlink -f "$2")
source=$(readlink -f "$3")
driver=$build/tests/e2e/stub_demo.exe
[ -f "$driver" ] || { echo "$0: no $driver: build the target stub_demo" >&2; exit 2; }
root=$(cd "$(dirname "$0")/../.." && pwd)
kind=win32
grep -q '^CMAKE_TOOLCHAIN_FILE.*x86_64' "$build/CMakeCache.txt" 2>/dev/null && kind=win64
export QEF_SCREENSHOT_DIR=${QEF_SCREENSHOT_DIR:-$build/screenshots}

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
windows_path() { local p=${1//\//\\}; echo "Z:$p"; }

# Everything of this run lives in one folder: the prefix, the program's copy (its
# default target folder is beside it), its temporary folder and the extracted files.
work=$(mktemp -d "${TMPDIR:-/tmp}/qef-demo-wine.XXXXXX")
export WINEPREFIX=$work/prefix WINEDEBUG=-all
. "$root/scripts/wine-env.sh" "$kind" "$root"
# The code page of the packed names: a western European Windows.
export LC_ALL=${QEF_DEMO_LOCALE:-C.UTF-8}
cleanup() {
  "$QEF_WINESERVER" -k >/dev/null 2>&1 || true
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start=$(now)
mkdir -p "$WINEPREFIX" "$work/recipient"
if ! "$QEF_WINE" wineboot -i >/dev/null 2>&1; then
  echo "$0: $QEF_WINE cannot make a Wine prefix for $kind programs" >&2
  exit 1
fi
"$QEF_WINESERVER" -w
echo "Wine prefix ($kind) made in $(elapsed "$start" "$(now)") s"

exe=$work/recipient/$(basename "$program")
cp "$program" "$exe"
target=$work/recipient/extracted
# The prefix's processes (Explorer, opened on the files) end before the display does.
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '"$QEF_WINE" "$@"; status=$?; "$QEF_WINESERVER" -k; exit $status' sh \
  "$driver" "$(windows_path "$exe")" "$(windows_path "$target")" demo
echo "screenshots: $QEF_SCREENSHOT_DIR/demo_dialog111.png, demo_dialog105.png"

# The packed folder comes back as one folder of the same name inside the target.
extracted=$target/$(basename "$source")
[ -d "$extracted" ] || extracted=$target

# Kind, size, write permission (the read-only attribute) and whole seconds of the
# modification time of every file; kind and name of every folder.
describe() {
  (cd "$1" && find . -mindepth 1 -printf '%y %s %M %T@ %P\n' | LC_ALL=C sort -k5) |
    awk '{ kind = $1; size = $2; writable = substr($3, 3, 1); seconds = int($4);
           sub(/^[^ ]+ [^ ]+ [^ ]+ [^ ]+ /, "");
           if (kind == "d") print kind, $0; else print kind, size, writable, seconds, $0 }'
}
if diff <(describe "$source") <(describe "$extracted") >"$work/tree.diff" && diff -r "$source" "$extracted" >>"$work/tree.diff"; then
  echo "extracted tree matches $source ($(describe "$source" | wc -l) entries)"
else
  echo "extracted tree differs from $source:" >&2
  cat "$work/tree.diff" >&2
  exit 1
fi
echo "Wine step took $(elapsed "$start" "$(now)") s in all"
