# Sourced as `. scripts/wine-env.sh KIND ROOT`, KIND win32 or win64, ROOT the source
# tree: exports what runs programs of that kind under Wine. QEF_WINE is the loader to
# start programs with and QEF_WINESERVER the matching server (for -k and -w);
# WINEPREFIX defaults to the kind's own prefix in ROOT's build tree. The 64-bit kind
# names the wine64 loader and server explicitly: Debian's `wine` wrapper prefers the
# 32-bit loader whenever it is installed, and that loader cannot start on a kernel
# without 32-bit emulation.
case "$1" in
  win64)
    export WINELOADER=/usr/lib/wine/wine64
    export WINESERVER=/usr/lib/wine/wineserver64
    QEF_WINE=/usr/lib/wine/wine64
    QEF_WINESERVER=/usr/lib/wine/wineserver64
    ;;
  *)
    QEF_WINE=wine
    QEF_WINESERVER=wineserver
    ;;
esac
export QEF_WINE QEF_WINESERVER
: "${WINEPREFIX:=$2/build/$1/wineprefix}"
WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX WINEDEBUG
