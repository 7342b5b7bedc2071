#!/bin/sh
# Runs a Windows program under Wine in the project's private prefix (created on first use).
here=$(cd "$(dirname "$0")/.." && pwd)
: "${WINEPREFIX:=$here/build/win32/wineprefix}"
WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX WINEDEBUG
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  flock "$WINEPREFIX/.lock" sh -c '[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1; wineserver -w'
fi
exec wine "$@"
