#!/usr/bin/env bash
# Makes the release packages in build/package/:
#   qef_<version>_amd64.deb        the Debian package (CPack; dependencies from
#                                  dpkg-shlibdeps), checked with lintian
#   qef-<version>-windows.zip      both kinds of qef.exe, each with both stubs beside
#                                  it, and the README as text
#   SHA256SUMS                     the checksums of the packages and the stubs
# It builds what they hold and nothing else: qef natively, qef.exe and the stub in the
# win32 and win64 presets.
#
# The stubs are linked without a time stamp, so the same source gives the same stub
# in any folder. To check a stub against the source, build it elsewhere and compare:
#   git clone <this repository> /tmp/qef-check && cd /tmp/qef-check
#   cmake --preset win32 && cmake --build --preset win32 --target qef_stub
#   sha256sum build/win32/app/stub.exe     # the same as qef-stub.exe in SHA256SUMS
# (the same with win64 for qef-stub64.exe). QEF_CHECK_REPRODUCIBLE=1 makes this script
# do that itself, in a scratch folder, and fail when they differ.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build/package

say() { printf '== %s\n' "$*"; }

for preset in win32 win64; do
  say "$preset build: qef.exe and the stub"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target qef qef_stub
done
say "native build: qef, the manual page and the changelog"
cmake --preset native >/dev/null
cmake --build --preset native --target qef qef_packaging_files

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/native/CMakeCache.txt)
rm -rf "$out"
mkdir -p "$out"

say "Debian package"
(cd build/native && cpack -G DEB -B "$out/deb" >/dev/null)
deb=$out/qef_${version}_amd64.deb
mv "$out"/deb/qef_*.deb "$deb"
rm -rf "$out/deb"
# lintian refuses nothing for running as root, but says so; only errors fail the step.
lintian_out=$(lintian --fail-on error "$deb" 2>&1 | grep -v 'running with root privileges' || true)
[ -z "$lintian_out" ] || printf '%s\n' "$lintian_out"
lintian --fail-on error "$deb" >/dev/null 2>&1 || { echo "package: lintian finds errors in $deb" >&2; exit 1; }

say "Windows zip"
name=qef-$version-windows
stage=$out/zip/$name
mkdir -p "$stage/win32" "$stage/win64"
for kind in win32 win64; do
  strip=i686-w64-mingw32-strip
  [ "$kind" = win64 ] && strip=x86_64-w64-mingw32-strip
  "$strip" -o "$stage/$kind/qef.exe" "build/$kind/cli/qef.exe"
  cp build/win32/app/stub.exe "$stage/$kind/qef-stub.exe"
  cp build/win64/app/stub.exe "$stage/$kind/qef-stub64.exe"
done
sed 's/$/\r/' README.md >"$stage/README.txt"
# A fixed time for every entry, so that the same files give the same zip.
stamp=$(TZ=UTC git log -1 --format=%cd --date=format-local:'%Y-%m-%d %H:%M:%S UTC' 2>/dev/null ||
  date -u '+%Y-%m-%d %H:%M:%S UTC')
(cd "$out/zip" && find "$name" -exec touch -d "$stamp" {} + &&
  find "$name" -type f | LC_ALL=C sort >files.txt &&
  cmake -E tar cf "$out/$name.zip" --format=zip --mtime="$stamp" --files-from=files.txt)
rm -rf "$out/zip"

cp build/win32/app/stub.exe "$out/qef-stub.exe"
cp build/win64/app/stub.exe "$out/qef-stub64.exe"
(cd "$out" && sha256sum "$(basename "$deb")" "$name.zip" qef-stub.exe qef-stub64.exe >SHA256SUMS)

if [ "${QEF_CHECK_REPRODUCIBLE:-0}" = 1 ]; then
  say "building the stubs again in a scratch folder to compare"
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  git archive HEAD | tar -x -C "$scratch"
  for kind in win32 win64; do
    (cd "$scratch" && cmake --preset "$kind" >/dev/null && cmake --build --preset "$kind" --target qef_stub >/dev/null)
    cmp "$scratch/build/$kind/app/stub.exe" "build/$kind/app/stub.exe" ||
      { echo "package: the $kind stub differs between two builds of the same source" >&2; exit 1; }
    echo "ok  the $kind stub is the same, byte for byte, from a build in another folder"
  done
fi

say "made in build/package/"
(cd "$out" && ls -l && cat SHA256SUMS)
