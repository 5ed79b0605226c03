#!/usr/bin/env bash
# A product tool code-signed after building, the way a product engineer does
# it: osslsigncode's signature verifies, `usb-iap-pack inspect` still finds the
# package before the certificate table and reads it as before signing, and
# `build` refuses a signed executable (sign after building) without writing.
#   signed_tool_test.sh PACK [BARE_EXE]   (without BARE_EXE: a small mingw-w64 PE)
set -euo pipefail
PACK=$1 BARE=${2:-}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/iap-signed.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
fail() { echo "FAIL: $*" >&2; exit 1; }
if [ -z "$BARE" ]; then
  echo 'int main(void) { return 0; }' >bare.c
  x86_64-w64-mingw32-gcc -O1 -s -o bare.exe bare.c
  BARE=bare.exe
fi
head -c 5001 /dev/urandom >payload.bin   # an odd size: the signer pads the file
args=(--payload payload.bin --device 0483:5750:01 --retry 5)
"$PACK" build --exe "$BARE" --out tool.exe "${args[@]}" >/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
  -subj "/CN=USB IAP test signer" 2>/dev/null
osslsigncode sign -certs cert.pem -key key.pem -n "USB IAP tool" -in tool.exe -out signed.exe >/dev/null
osslsigncode verify -CAfile cert.pem -in signed.exe >verify.txt 2>&1 || fail "osslsigncode verify: $(cat verify.txt)"
grep -q "Signature verification: ok" verify.txt || fail "no verified signature: $(cat verify.txt)"

"$PACK" inspect tool.exe >unsigned.txt
"$PACK" inspect signed.exe >signed.txt || fail "inspect does not read the signed tool: $(cat signed.txt)"
grep -q "^code signature: none" unsigned.txt || fail "the unsigned tool reads as signed"
grep -q "^code signature: Authenticode certificate table" signed.txt || fail "no certificate table shown"
diff <(sed 1,2d unsigned.txt) <(sed 1,2d signed.txt) || fail "signing changed what inspect reads"

for replace in "" --replace; do
  set +e
  "$PACK" build --exe signed.exe --out out.exe $replace "${args[@]}" >refused.txt 2>&1
  rc=$?
  set -e
  [ "$rc" = 1 ] || fail "build from a signed tool exited $rc: $(cat refused.txt)"
  grep -q "code-signed.*then sign the tool that build writes" refused.txt || fail "refusal text: $(cat refused.txt)"
  [ ! -e out.exe ] || fail "a refused build wrote its output"
done
echo "signed_tool_test: ok"
