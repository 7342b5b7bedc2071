#!/usr/bin/env bash
# Cross-builds libcrypto and libdeflate for 32-bit and 64-bit Windows from Debian's own
# openssl and libdeflate source packages and installs each into its own folder of a
# cache outside the source tree (openssl-mingw32, openssl-mingw64, libdeflate-mingw32,
# libdeflate-mingw64). Does nothing for a library and kind the cache already holds.
# The deb-src entry is derived from the machine's own apt sources, so no registry
# address is written down here.
#
# QEF_CROSS_KINDS limits the kinds built: "32", "64" or "32 64" (the default). The demo
# builds only the kinds it runs; the tests need both.
set -euo pipefail

cache=${QEF_CACHE:-$HOME/.cache/qef}
wanted=${QEF_CROSS_KINDS:-32 64}
# want FOLDER: whether the kind of a cache folder (...-mingw32, ...-mingw64) is wanted.
want() { [[ " $wanted " == *" ${1##*-mingw} "* ]]; }
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
  want "$1" && ! have "$1" && todo+=("$k")
done
# libdeflate's kinds: cache folder, cross-compiler prefix.
deflate_kinds=(
  "libdeflate-mingw32 i686-w64-mingw32-"
  "libdeflate-mingw64 x86_64-w64-mingw32-"
)
have_deflate() { [ -f "$cache/$1/lib/libdeflate.a" ] && [ -f "$cache/$1/include/libdeflate.h" ]; }
deflate_todo=()
for k in "${deflate_kinds[@]}"; do
  set -- $k
  want "$1" && ! have_deflate "$1" && deflate_todo+=("$k")
done
[ ${#todo[@]} -gt 0 ] || [ ${#deflate_todo[@]} -gt 0 ] || exit 0

# 1. A deb-src entry for every deb entry the machine already uses.
srcfile=/etc/apt/sources.list.d/qef-deb-src.sources
if ! apt-cache showsrc openssl 2>/dev/null | grep '^Package: openssl' >/dev/null; then
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

# 2. Fetches a source package into $work/$1-src; falls back to older versions when
#    the newest one's files are gone.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fetch() {
  local pkg=$1 got="" v
  mkdir -p "$work/$pkg-dl"
  cd "$work/$pkg-dl"
  if apt-get source --download-only -qq "$pkg" >/dev/null 2>&1; then
    got=yes
  else
    for v in $(apt-cache showsrc "$pkg" | awk '/^Version:/{print $2}'); do
      rm -f ./*
      if apt-get source --download-only -qq "$pkg=$v" >/dev/null 2>&1; then got=yes; break; fi
    done
  fi
  [ -n "$got" ] || { echo "build-cross-deps: cannot download the $pkg source package" >&2; exit 1; }
  dpkg-source -x --no-check "$(ls "${pkg}"_*.dsc | head -n 1)" "$work/$pkg-src" >/dev/null
  cd "$work"
}

# 3. libcrypto: configure and build only the library, once for each kind that is
#    missing, each in a fresh copy of the unpacked source.
if [ ${#todo[@]} -gt 0 ]; then
  fetch openssl
  # Debian's pic patch emits ELF GOT relocations into the x86 assembly, which a COFF
  # target cannot represent; the cross build uses the upstream form of those files.
  if [ -f openssl-src/debian/patches/pic.patch ]; then
    (cd openssl-src && patch -R -p1 -s < debian/patches/pic.patch)
  fi
fi
for k in "${todo[@]}"; do
  set -- $k
  prefix="$cache/$1"
  rm -rf "$work/build"
  cp -a "$work/openssl-src" "$work/build"
  cd "$work/build"
  echo "build-cross-deps: building libcrypto for ${3%-} (a few minutes)"
  # Only what the project uses: AES, Blowfish and SHA-1 for the archives, and for the
  # tool's signing the PKCS#12 password check and reading a PKCS#7 signer's name (with
  # the key kinds a certificate may hold). The rest is left out, which shortens the
  # build; the low-level calls used are deprecated ones, so those stay in.
  ./Configure "$2" no-shared no-tests no-engine no-dso no-module no-legacy \
    no-aria no-camellia no-cast no-idea no-md4 no-mdc2 no-rc4 no-rc5 no-rmd160 no-seed \
    no-siphash no-sm2 no-sm3 no-sm4 no-whirlpool no-blake2 no-chacha no-poly1305 no-ocb \
    no-scrypt no-siv no-cms no-ct no-ocsp no-ts no-srp no-cmp no-comp no-gost \
    no-ec2m no-sock no-ui-console no-async no-rfc3779 no-autoload-config \
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

# 4. libdeflate: its library sources compiled straight into a static archive, one object
#    per source file and one section per function, so that a program which only
#    decompresses links none of the compressor.
if [ ${#deflate_todo[@]} -gt 0 ]; then
  fetch libdeflate
fi
for k in "${deflate_todo[@]}"; do
  set -- $k
  prefix="$cache/$1"
  echo "build-cross-deps: building libdeflate for ${2%-}"
  rm -rf "$work/deflate-build"
  mkdir -p "$work/deflate-build"
  src="$work/libdeflate-src"
  for c in "$src"/lib/*.c "$src"/lib/x86/*.c; do
    o="$work/deflate-build/$(basename "$(dirname "$c")")_$(basename "${c%.c}").o"
    "${2}gcc" -O2 -std=c99 -fomit-frame-pointer -ffunction-sections -fdata-sections \
      -I "$src" -c "$c" -o "$o"
  done
  rm -f "$work/deflate-build/libdeflate.a"
  "${2}ar" rcs "$work/deflate-build/libdeflate.a" "$work/deflate-build"/*.o
  rm -rf "$prefix"
  mkdir -p "$prefix/lib" "$prefix/include"
  cp "$work/deflate-build/libdeflate.a" "$prefix/lib/"
  cp "$src/libdeflate.h" "$prefix/include/"
  echo "build-cross-deps: libdeflate installed in $prefix"
done
