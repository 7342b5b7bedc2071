#!/usr/bin/env bash
# A program signed as qef packs it, with a throwaway certificate made here: osslsigncode
# verifies it, qef extracts it, it runs under wine64 with its dialogs, and qef info
# names the signer. A wrong certificate password, a second line in the password file
# and a missing osslsigncode each fail before any output is made.
#
#   signing_test.sh QEF WORK STUB64 WIN64_BUILD
set -uo pipefail
qef=$1 work=$2 stub=$3 win64=$4
here=$(cd "$(dirname "$0")" && pwd)

fail() { echo "FAIL: $*" >&2; exit 1; }
ok() { echo "ok  $*"; }
[ -f "$stub" ] || { echo "SKIPPED: the win64 stub is not built ($stub)"; exit 77; }
rm -rf "$work"
mkdir -p "$work/sample/sub"
cd "$work"
printf 'signed content\n' >sample/a.txt
head -c 50000 /dev/urandom >sample/sub/b.bin
printf 'a long password for the signing test\n' >password.txt

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
  -subj "/CN=Throwaway Publisher/O=qef tests" >openssl.log 2>&1 || fail "openssl cannot make a certificate"
printf 'certificate password\n' >p12pass.txt
openssl pkcs12 -export -inkey key.pem -in cert.pem -out cert.p12 -passout file:p12pass.txt >>openssl.log 2>&1 ||
  fail "openssl cannot make the PKCS#12 file"

sign=(--sign-pkcs12 cert.p12 --sign-password-file p12pass.txt)
"$qef" pack sample -o signed.exe --password-file password.txt --stub "$stub" -q "${sign[@]}" || fail "signed pack failed"
osslsigncode verify -CAfile cert.pem signed.exe >verify.log 2>&1 || { cat verify.log >&2; fail "osslsigncode verify fails"; }
ok "osslsigncode verifies the program qef signed"
ls -a | grep '^~qef-' >/dev/null && fail "the signed pack left temporary files: $(ls -a | grep '^~qef-')"

"$qef" info signed.exe >info.txt || fail "qef info failed"
grep -q '^Signature: *Authenticode, .*signed by /CN=Throwaway Publisher/O=qef tests' info.txt ||
  { cat info.txt >&2; fail "qef info does not name the signer"; }
"$qef" pack sample -o plain.exe --password-file password.txt --stub "$stub" -q || fail "unsigned pack failed"
grep -q '^Signature: *none' <("$qef" info plain.exe) || fail "qef info does not say an unsigned program is unsigned"
ok "qef info names the signer, and says none for an unsigned program"

"$qef" extract signed.exe -C out --password-file password.txt -q || fail "qef extract of the signed program failed"
diff -r sample out/sample || fail "the tree extracted from the signed program differs"
ok "qef extracts the signed program"

# Each refusal: the run fails, and no output nor temporary file is left.
refused() {
  local why=$1 expect=$2
  shift 2
  rm -f refused.exe
  if "$@" >refused.log 2>&1; then fail "$why: the pack succeeded"; fi
  grep -q -- "$expect" refused.log || { cat refused.log >&2; fail "$why: the message does not say '$expect'"; }
  [ ! -e refused.exe ] || fail "$why: an output was left"
  ls -a | grep '^~qef-' >/dev/null && fail "$why: temporary files were left"
  ok "refused before any output: $why"
}
printf 'wrong password\n' >wrongpass.txt
printf 'certificate password\nsecond line\n' >twolines.txt
pack=("$qef" pack sample -o refused.exe --password-file password.txt --stub "$stub" -q)
refused "a wrong certificate password" "does not open the certificate" \
  "${pack[@]}" --sign-pkcs12 cert.p12 --sign-password-file wrongpass.txt
refused "a second line in the password file" "on one line" \
  "${pack[@]}" --sign-pkcs12 cert.p12 --sign-password-file twolines.txt
refused "a file that is not a certificate" "not a PKCS#12 file" \
  "${pack[@]}" --sign-pkcs12 cert.pem --sign-password-file p12pass.txt
mkdir -p nopath
ln -sf "$(command -v openssl)" nopath/openssl
refused "no osslsigncode on PATH" "osslsigncode, which is not on PATH" \
  env PATH="$work/nopath" "${pack[@]}" "${sign[@]}"
refused "a password without its file" "needs --sign-password-file" "${pack[@]}" --sign-pkcs12 cert.p12

# The signed program under wine64, driven through its dialogs by the recipient driver.
if [ ! -f "$win64/tests/e2e/stub_demo.exe" ]; then
  echo "SKIPPED: the run under Wine: no $win64/tests/e2e/stub_demo.exe (build the win64 preset)"
  exit 77
fi
QEF_PASSWORD="a long password for the signing test" QEF_SCREENSHOT_DIR=$work/screenshots \
  "$here/../e2e/run_stub_demo.sh" "$win64" signed.exe sample >wine.log 2>&1 ||
  { cat wine.log >&2; fail "the signed program does not run under wine64"; }
ok "the signed program runs under wine64 and extracts the tree"
