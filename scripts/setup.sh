#!/usr/bin/env bash
# Installs everything the native, win32 and win64 builds and all tests need, on Debian 12.
# Idempotent: every step checks first and does nothing when its result is already there.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cache=${QEF_CACHE:-$HOME/.cache/qef}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

need_pkgs=(
  build-essential cmake ninja-build pkg-config git python3
  libssl-dev zlib1g-dev libdeflate-dev pigz libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  clang libclang-rt-14-dev llvm clang-format-14 clang-tidy-14
  g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
  libz-mingw-w64-dev
  wine wine32:i386 wine64 xvfb xauth imagemagick locales
  # Wine's bcrypt does AES through GnuTLS, loaded at run time: one for each kind of program.
  libgnutls30 libgnutls30:i386
  dpkg-dev perl
  # Packaging and its tests: signing, the package check, the manual page and completion.
  osslsigncode openssl lintian man-db bash-completion
)

# i386 is needed for wine32.
if ! dpkg --print-foreign-architectures | grep -x i386 >/dev/null; then
  $sudo dpkg --add-architecture i386
  updated=0
fi

missing=()
for p in "${need_pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep "install ok installed" >/dev/null || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The stub's German resources are tested under LC_ALL=de_DE.UTF-8.
if ! locale -a 2>/dev/null | grep -ix 'de_DE\.utf-\?8' >/dev/null; then
  if grep -q '^# *de_DE.UTF-8 UTF-8' /etc/locale.gen; then
    $sudo sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  elif ! grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen; then
    echo 'de_DE.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  fi
  $sudo locale-gen >/dev/null
fi

"$here/scripts/build-cross-deps.sh"
