#!/usr/bin/env bash
# The demo: sets up and builds what it runs (qef natively, the stub and the recipient
# driver in the win32 preset), packs examples/sample/
# into a self-extracting program (with the info text, link, disclaimer and picture of
# examples/), extracts the program with `qef extract`, checks the result against the
# source, runs the program under Wine and shows the tree and the timings. Where this
# machine cannot run 32-bit programs, it builds the win64 stub and driver instead and
# makes and runs a 64-bit program of the same sample. Everything it makes is in
# build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=$root/build/demo
qef=$root/build/native/cli/qef
password="demo password: open sesame"  # fixed, so that anyone can open the demo program

now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
step() { printf '\n== %s\n' "$*"; }
fail() { printf 'demo: %s\n' "$*" >&2; exit 1; }

# Runs a build step quietly; on failure shows the end of its log.
quietly() {
  if ! "$@" >>"$root/build/demo-build.log" 2>&1; then
    tail -n 40 "$root/build/demo-build.log" >&2
    fail "failed: $* (whole log: build/demo-build.log)"
  fi
}

# The tree below a folder, one entry a line, indented by depth after the size of
# files; folders end in '/', read-only files say so.
show_tree() {
  (cd "$1" && find . -mindepth 1 -printf '%P\t%y\t%s\t%m\n') | LC_ALL=C sort | awk -F'\t' '{
    n = split($1, part, "/")
    owner = substr($4, length($4) - 2, 1)
    size = $2 == "d" ? "" : $3
    printf "%9s  %*s%s%s%s\n", size, 2 * (n - 1), "", part[n], ($2 == "d" ? "/" : ""),
      ($2 != "d" && owner !~ /[2367]/ ? "  (read-only)" : "")
  }'
}

. scripts/wine-probe.sh
windows=32
qef_can_run_32bit || windows=64

start=$(now)
# Only the kind of program that can run here is built: the 32-bit one, or where it
# cannot run, the 64-bit one.
presets="native win$windows"
step "setting up and building qef, the stubs and the recipient driver (log: build/demo-build.log)"
mkdir -p build
: >build/demo-build.log
# Only the Windows kind the demo runs gets its libraries cross-built now; the tests
# build the other when they first need it.
QEF_CROSS_KINDS=$windows quietly scripts/setup.sh
for preset in $presets; do
  quietly cmake --preset "$preset"
  # Only what the demo runs: qef natively; the stub (build/win*/app/stub.exe) and the
  # recipient driver that scripts/demo-stub.sh starts under Wine.
  if [ "$preset" = native ]; then
    quietly cmake --build --preset native --target qef
  else
    quietly cmake --build --preset "$preset" --target qef_stub stub_demo
  fi
done
built=$(now)
echo "done in $(seconds "$start" "$built") s"

step "preparing a copy of examples/sample"
rm -rf "$work"
mkdir -p "$work"
cp -r examples/sample "$work/sample"
# Git keeps neither empty folders nor read-only flags; the copy gets them here.
mkdir "$work/sample/empty folder"
chmod a-w "$work/sample/docs/read-only.txt"
printf '%s\n' "$password" >"$work/password.txt"
chmod 600 "$work/password.txt"
echo "The demo password is fixed: \"$password\"."
echo "qef reads it from $work/password.txt (--password-file), never from its command line."
show_tree "$work/sample"

step "qef pack: the sample into a self-extracting program"
t0=$(now)
# The native tool has no stub of its own: it is given the one the win32 (or win64) build
# made. A machine that cannot run 32-bit programs gets a 64-bit one, run under wine64.
program=$work/sample.exe
if [ "$windows" = 64 ]; then
  echo "A 32-bit program cannot run here: $qef_32bit_why."
  echo "So the demo packs $work/sample64.exe with the 64-bit stub instead."
  program=$work/sample64.exe
fi
"$qef" pack "$work/sample" -o "$program" --password-file "$work/password.txt" \
  --info examples/info.txt --link "$(cat examples/link.txt)" \
  --disclaimer examples/disclaimer.txt --picture examples/picture.bmp \
  --stub "$root/build/win$windows/app/stub.exe" || fail "qef pack failed (its message is above)"
t1=$(now)
"$qef" info "$program" || fail "qef info failed (its message is above)"

step "qef list"
"$qef" list "$program" --password-file "$work/password.txt" || fail "qef list failed (its message is above)"

step "qef extract"
t2=$(now)
"$qef" extract "$program" -C "$work/extracted" --password-file "$work/password.txt" ||
  fail "qef extract failed (its message is above)"
t3=$(now)

step "checking the extracted tree against the source"
diff -r "$work/sample" "$work/extracted/sample" || fail "the extracted tree differs from the source"
echo "ok  every folder and file is there, with the same contents"
out=$work/extracted/sample
[ "$(stat -c %A "$out/docs/read-only.txt" | cut -c3)" = "-" ] || fail "docs/read-only.txt is not read-only"
echo "ok  docs/read-only.txt is read-only"
[ -d "$out/empty folder" ] && [ -z "$(ls -A "$out/empty folder")" ] || fail "the empty folder is missing"
echo "ok  \"empty folder\" is there and empty"
[ -f "$out/Grüße.txt" ] || fail "Grüße.txt is missing"
echo "ok  Grüße.txt keeps its name (stored as code page 1252, as the stub sees it)"
(cd "$work/sample" && find . -type f) | while read -r f; do
  [ "$(stat -c %Y "$work/sample/$f")" = "$(stat -c %Y "$out/$f")" ] || fail "$f has another modification time"
done
echo "ok  every file has its modification time"
t4=$(now)

step "the extracted tree"
show_tree "$work/extracted"

# The program itself under Wine, with its dialogs: scripts/demo-stub.sh is given the
# program, the password file and the folder to compare with.
step "the program under Wine ($windows-bit)"
QEF_WINDOWS=$windows scripts/demo-stub.sh "$program" "$work/password.txt" "$work/sample" ||
  fail "the program under Wine failed (status $?; its message is above). Screenshots of what it showed are in $work/screenshots/; scripts/test.sh runs the same program's full test suite."

step "timings"
printf '%-28s %8s s\n' "setup and builds" "$(seconds "$start" "$built")" \
  "qef pack" "$(seconds "$t0" "$t1")" \
  "qef extract" "$(seconds "$t2" "$t3")" \
  "checks" "$(seconds "$t3" "$t4")" \
  "whole demo" "$(seconds "$start" "$(now)")"
echo
echo "The program is $program; the password is \"$password\"."
