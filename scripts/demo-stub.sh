#!/usr/bin/env bash
# The demo's Wine part: runs the demo program as its recipient would, under Wine on a
# virtual display in a private prefix (disclaimer accepted, intro, decrypt with the
# demo password), checks the extracted files against the source and prints the
# stub's timings. The work is done by tests/e2e/run_stub_demo.sh with the recipient
# driver of the build of the program's kind: build/win32 for a 32-bit program,
# build/win64 for a 64-bit one (QEF_WINDOWS=64); screenshots of the dialogs go beside
# the program.
#
#   [QEF_WINDOWS=32|64] scripts/demo-stub.sh PROGRAM.exe PASSWORD_FILE SOURCE_FOLDER
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 PROGRAM.exe PASSWORD_FILE SOURCE_FOLDER" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
IFS= read -r QEF_PASSWORD <"$2" || true  # the first line, spaces kept
export QEF_PASSWORD
export QEF_SCREENSHOT_DIR=$(cd "$(dirname "$1")" && pwd)/screenshots
exec "$root/tests/e2e/run_stub_demo.sh" "$root/build/win${QEF_WINDOWS:-32}" "$1" "$3"
