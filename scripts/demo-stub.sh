#!/usr/bin/env bash
# The demo's Wine part: runs the demo program as its recipient would, under Wine on a
# virtual display in a private prefix (disclaimer accepted, intro, decrypt with the
# demo password), checks the extracted files against the source and prints the
# stub's timings. The work is done by tests/e2e/run_stub_demo.sh with the recipient
# driver of the win32 build (build/win32, or $QEF_WIN32_BUILD); screenshots of the
# dialogs go beside the program.
#
#   scripts/demo-stub.sh PROGRAM.exe PASSWORD_FILE SOURCE_FOLDER
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 PROGRAM.exe PASSWORD_FILE SOURCE_FOLDER" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
IFS= read -r QEF_PASSWORD <"$2" || true  # the first line, spaces kept
export QEF_PASSWORD
export QEF_SCREENSHOT_DIR=$(cd "$(dirname "$1")" && pwd)/screenshots
exec "$root/tests/e2e/run_stub_demo.sh" "${QEF_WIN32_BUILD:-$root/build/win32}" "$1" "$3"
