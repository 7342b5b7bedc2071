#!/bin/sh
# Runs a Windows program under Wine in the project's private prefix for its kind
# (created on first use):
#   scripts/wine-run.sh [--win32|--win64] PROGRAM [ARGS...]
# 32-bit programs run under Debian's wine loader in build/win32/wineprefix; 64-bit ones
# under the wine64 loader alone, in build/win64/wineprefix, which also works on
# machines that cannot run 32-bit code at all.
here=$(cd "$(dirname "$0")/.." && pwd)
kind=win32
case "$1" in
  --win32|--win64) kind=${1#--}; shift ;;
esac
# A sourced file sees the caller's positional parameters (sh's `.` passes no others),
# so KIND and ROOT go in front of the program's words for the while.
set -- "$kind" "$here" "$@"
. "$here/scripts/wine-env.sh"
shift 2
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  flock "$WINEPREFIX/.lock" sh -c '[ -f "$WINEPREFIX/system.reg" ] || "$QEF_WINE" wineboot -i >/dev/null 2>&1; "$QEF_WINESERVER" -w'
fi
exec "$QEF_WINE" "$@"
