#!/usr/bin/env bash
# Cross-builds libcrypto for 32-bit Windows from Debian's own openssl source package
# and installs it into a cache outside the source tree. Does nothing when the cache
# already holds it. The deb-src entry is derived from the machine's own apt sources,
# so no registry address is written down here.
set -euo pipefail

cache=${QEF_CACHE:-$HOME/.cache/qef}
prefix="$cache/openssl-mingw32"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

if [ -f "$prefix/lib/libcrypto.a" ] && [ -f "$prefix/include/openssl/aes.h" ]; then
  exit 0
fi

# 1. A deb-src entry for every deb entry the machine already uses.
srcfile=/etc/apt/sources.list.d/qef-deb-src.sources
if ! apt-cache showsrc openssl 2>/dev/null | grep -q '^Package: openssl'; then
  tmp=$(mktemp)
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    [ "$f" = "$srcfile" ] && continue
    # Keep only stanzas of type deb, turned into deb-src.
    awk 'BEGIN{RS="";ORS="\n\n"} /Types:[^\n]*deb([ \n]|$)/ {gsub(/Types:[^\n]*/,"Types: deb-src"); print}' "$f" >> "$tmp"
  done
  if [ -f /etc/apt/sources.list ]; then
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' > /etc/apt/sources.list.d/qef-deb-src.list.tmp || true
    if [ -s /etc/apt/sources.list.d/qef-deb-src.list.tmp ]; then
      $sudo mv /etc/apt/sources.list.d/qef-deb-src.list.tmp /etc/apt/sources.list.d/qef-deb-src.list
    else
      $sudo rm -f /etc/apt/sources.list.d/qef-deb-src.list.tmp
    fi
  fi
  [ -s "$tmp" ] && $sudo cp "$tmp" "$srcfile"
  rm -f "$tmp"
  $sudo apt-get update -qq
fi

# 2. Fetch the source; fall back to older versions when the newest one's files are gone.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
got=""
if apt-get source --download-only -qq openssl >/dev/null 2>&1; then
  got=yes
else
  for v in $(apt-cache showsrc openssl | awk '/^Version:/{print $2}'); do
    rm -f ./*
    if apt-get source --download-only -qq "openssl=$v" >/dev/null 2>&1; then got=yes; break; fi
  done
fi
[ -n "$got" ] || { echo "build-cross-deps: cannot download the openssl source package" >&2; exit 1; }
dsc=$(ls openssl_*.dsc | head -n 1)
dpkg-source -x --no-check "$dsc" src >/dev/null
# Debian's pic patch emits ELF GOT relocations into the x86 assembly, which a COFF
# target cannot represent; the cross build uses the upstream form of those files.
if [ -f src/debian/patches/pic.patch ]; then
  (cd src && patch -R -p1 -s < debian/patches/pic.patch)
fi

# 3. Configure and build only the library.
cd src
echo "build-cross-deps: building libcrypto for i686-w64-mingw32 (a few minutes)"
./Configure mingw no-shared no-tests no-engine no-dso \
  --cross-compile-prefix=i686-w64-mingw32- --prefix="$prefix" --libdir=lib >/dev/null
{ make -j"$(nproc)" build_generated && make -j"$(nproc)" libcrypto.a; } > "$work/make.log" 2>&1 || { tail -30 "$work/make.log" >&2; exit 1; }
mkdir -p "$prefix/lib" "$prefix/include"
cp libcrypto.a "$prefix/lib/"
cp -r include/openssl "$prefix/include/"
echo "build-cross-deps: libcrypto installed in $prefix"
