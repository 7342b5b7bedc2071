#!/usr/bin/env bash
# The Debian package of this build, used as a user would.
#   scratch: extracted with dpkg -x into a scratch root; from there qef packs a program
#            without --stub and extracts it, the manual page renders without a warning,
#            and the bash completion loads and completes; lintian finds no error.
#   system:  (root only, else skipped) dpkg -i, the same run with qef from PATH, dpkg -r,
#            and nothing of the package left behind.
#
#   package_test.sh scratch|system NATIVE_BUILD WORK STUB32 STUB64
set -uo pipefail
part=$1 build=$2 work=$3 stub32=$4 stub64=$5
here=$(cd "$(dirname "$0")" && pwd)
source_tree=$(cd "$here/../.." && pwd)

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIPPED: $*"; exit 77; }
ok() { echo "ok  $*"; }

[ -f "$stub32" ] && [ -f "$stub64" ] || skip "the win32 and win64 stubs are not built ($stub32, $stub64)"
rm -rf "$work"
mkdir -p "$work"
if [ "$part" = system ]; then
  [ "$(id -u)" -eq 0 ] || skip "dpkg -i needs root"
  dpkg-query -W -f='${Status}' qef 2>/dev/null | grep "install ok installed" >/dev/null &&
    skip "a qef package is already installed on this machine; it is left alone"
fi

# The package, made by CPack from this build, its stubs those of the Windows builds.
(cd "$build" && cpack -G DEB -B "$work/cpack" \
  >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack could not make the package"; }
deb=$(ls "$work"/cpack/qef_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "cpack made no .deb"
ok "made $(basename "$deb")"

# A small tree with an empty folder, a read-only file and a name in code page 1252.
sample=$work/sample
mkdir -p "$sample/docs" "$sample/empty"
printf 'hello\n' >"$sample/Grüße.txt"
head -c 100000 /dev/urandom >"$sample/docs/data.bin"
printf 'read only\n' >"$sample/docs/ro.txt"
chmod a-w "$sample/docs/ro.txt"
printf 'a long password for the package test\n' >"$work/password.txt"

# pack_and_extract QEF NAME: packs the sample into NAME.exe without --stub, checks its
# kind, extracts it and compares.
pack_and_extract() {
  local qef=$1 name=$2 kind=$3
  local windows=()
  [ "$kind" = 64 ] && windows=(--windows 64)
  "$qef" pack "$sample" -o "$work/$name.exe" --password-file "$work/password.txt" -q "${windows[@]}" ||
    fail "$qef pack without --stub failed"
  local info
  info=$("$qef" info "$work/$name.exe")
  grep -q "^Kind:.*$kind-bit" <<<"$info" || fail "$name.exe is not a $kind-bit program"
  "$qef" extract "$work/$name.exe" -C "$work/$name-out" --password-file "$work/password.txt" -q ||
    fail "$qef extract of $name.exe failed"
  diff -r "$sample" "$work/$name-out/sample" >/dev/null || fail "the tree extracted from $name.exe differs"
  [ -d "$work/$name-out/sample/empty" ] || fail "the empty folder is missing from $name.exe"
  ok "$qef packed $name.exe ($kind-bit) with its own stub and extracted it"
}

# Completes the words given as qef would be completed in an interactive shell, with the
# completion file given; prints the candidates.
complete_words() {
  local file=$1
  shift
  bash --norc --noprofile -c '
    . /usr/share/bash-completion/bash_completion || exit 1
    . "$1" || exit 1
    shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _qef qef "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}"' sh "$file" "$@"
}

check_completion() {
  local file=$1
  [ "$(complete_words "$file" qef pa)" = pack ] || fail "completing 'qef pa' does not give pack"
  [ "$(complete_words "$file" qef pack --windows "" | sort | tr '\n' ' ')" = "32 64 " ] ||
    fail "completing 'qef pack --windows' does not give 32 and 64"
  # Each list is taken whole before it is searched: grep -q stops reading at its first
  # match, and under pipefail the writer's SIGPIPE would fail the check.
  local words
  words=$(complete_words "$file" qef extract --keep)
  grep -qx -- --keep-existing <<<"$words" || fail "completing 'qef extract --keep' does not give --keep-existing"
  words=$(complete_words "$file" qef list --codepage 125)
  grep -qx 1252 <<<"$words" || fail "completing a code page does not give 1252"
  ok "the completion completes commands, options and their values"
}

if [ "$part" = scratch ]; then
  root=$work/root
  dpkg -x "$deb" "$root" || fail "dpkg -x failed"
  qef=$root/usr/bin/qef
  [ -x "$qef" ] || fail "no usr/bin/qef in the package"
  for f in usr/lib/qef/qef-stub.exe usr/lib/qef/qef-stub64.exe usr/share/man/man1/qef.1.gz \
    usr/share/bash-completion/completions/qef usr/share/doc/qef/README.md usr/share/doc/qef/design.md \
    usr/share/doc/qef/copyright; do
    [ -f "$root/$f" ] || fail "$f is not in the package"
  done
  ok "the package holds the tool, both stubs, the manual page, the completion and the documents"
  pack_and_extract "$qef" scratch32 32
  pack_and_extract "$qef" scratch64 64

  warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$root/usr/share/man/man1/qef.1.gz" 2>&1 >"$work/man.txt")
  [ -z "$warnings" ] || fail "man warns about the manual page: $warnings"
  for heading in SYNOPSIS COMMANDS OPTIONS PASSWORDS "CODE PAGES" "EXIT STATUS"; do
    grep -q "^$heading" "$work/man.txt" || fail "the manual page has no $heading section"
  done
  grep -q -- "--sign-pkcs12" "$work/man.txt" || fail "the manual page does not describe --sign-pkcs12"
  ok "man -l renders the manual page without warnings"

  check_completion "$root/usr/share/bash-completion/completions/qef"

  # Only errors fail: warnings are a matter of taste for a package made outside Debian.
  lintian --fail-on error "$deb" >"$work/lintian.txt" 2>&1 || { cat "$work/lintian.txt" >&2; fail "lintian finds errors"; }
  ok "lintian finds no errors"
  exit 0
fi

# system: the whole machine's package database, so a busy dpkg lock is waited for.
dpkg_locked() {
  local tries=0
  until "$@" >"$work/dpkg.log" 2>&1; do
    grep -q "lock" "$work/dpkg.log" && [ $((tries += 1)) -lt 60 ] || { cat "$work/dpkg.log" >&2; return 1; }
    sleep 2
  done
}
dpkg_locked dpkg -i "$deb" || fail "dpkg -i failed"
files=$(dpkg-query -L qef)
trap 'dpkg -r qef >/dev/null 2>&1' EXIT
qef=$(command -v qef) || fail "qef is not on PATH after dpkg -i"
[ "$qef" = /usr/bin/qef ] || fail "qef on PATH is $qef, not /usr/bin/qef"
pack_and_extract qef system32 32
[ "$(man -w qef)" = /usr/share/man/man1/qef.1.gz ] || fail "man does not find the installed page"
check_completion /usr/share/bash-completion/completions/qef
dpkg_locked dpkg -r qef || fail "dpkg -r failed"
trap - EXIT
left=""
while IFS= read -r f; do
  # Folders the system had before stay; everything of the package goes.
  [ -e "$f" ] && { [ -d "$f" ] && [ -n "$(ls -A "$f" 2>/dev/null)" ] && continue; left+=" $f"; }
done <<<"$files"
for f in /usr/bin/qef /usr/lib/qef /usr/share/doc/qef; do [ -e "$f" ] && left+=" $f"; done
[ -z "$left" ] || fail "dpkg -r left:$left"
dpkg-query -W qef >/dev/null 2>&1 && fail "dpkg still knows the package"
ok "dpkg -i, a run from PATH and dpkg -r leave nothing behind"
