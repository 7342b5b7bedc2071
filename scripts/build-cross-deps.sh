#!/usr/bin/env bash
# Cross-builds libcrypto for 32-bit and 64-bit Windows from Debian's own openssl
# source package and installs each into its own folder of a cache outside the source
# tree (openssl-mingw32, openssl-mingw64). Does nothing for a kind the cache already
# holds. The deb-src entry is derived from the machine's own apt sources, so no
# registry address is written down here.
set -euo pipefail

cache=${QEF_CACHE:-$HOME/.cache/qef}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# Each kind: cache folder, OpenSSL's configuration target, cross-compiler prefix.
kinds=(
  "openssl-mingw32 mingw i686-w64-mingw32-"
  "openssl-mingw64 mingw64 x86_64-w64-mingw32-"
)
have() { [ -f "$cache/$1/lib/libcrypto.a" ] && [ -f "$cache/$1/include/openssl/aes.h" ]; }
todo=()
for k in "${kinds[@]}"; do
  set -- $k
  have "$1" || todo+=("$k")
done
[ ${#todo[@]} -gt 0 ] || exit 0

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

# 3. Configure and build only the library, once for each kind that is missing, each
#    in a fresh copy of the unpacked source.
for k in "${todo[@]}"; do
  set -- $k
  prefix="$cache/$1"
  rm -rf "$work/build"
  cp -a "$work/src" "$work/build"
  cd "$work/build"
  echo "build-cross-deps: building libcrypto for ${3%-} (a few minutes)"
  ./Configure "$2" no-shared no-tests no-engine no-dso \
    --cross-compile-prefix="$3" --prefix="$prefix" --libdir=lib >/dev/null
  { make -j"$(nproc)" build_generated && make -j"$(nproc)" libcrypto.a; } > "$work/make.log" 2>&1 ||
    { tail -30 "$work/make.log" >&2; exit 1; }
  rm -rf "$prefix"
  mkdir -p "$prefix/lib" "$prefix/include"
  cp libcrypto.a "$prefix/lib/"
  cp -r include/openssl "$prefix/include/"
  echo "build-cross-deps: libcrypto installed in $prefix"
  cd "$work"
done
