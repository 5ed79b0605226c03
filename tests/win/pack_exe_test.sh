#!/usr/bin/env bash
# usb-iap-pack.exe under Wine makes from the Windows tool the same bytes as
# the build machine's usb-iap-pack, and `inspect` of either generator reads
# the Windows tool as the other does; a tool that already has a package is
# refused without --replace, and the refused output is left as it was; a
# tool code-signed afterwards is read, and refused as a build's executable.
#   pack_exe_test.sh RUN_WINE PREFIX PACK_EXE HOST_PACK BARE_EXE
set -euo pipefail
RUN_WINE=$1 PREFIX=$2 PACK_EXE=$3 HOST_PACK=$4 BARE=$5
WORK=$(mktemp -d "${TMPDIR:-/tmp}/iap-pack-exe.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
fail() { echo "FAIL: $*" >&2; exit 1; }
cp "$BARE" bare.exe
head -c 20000 /dev/urandom >payload.bin
args=(--payload payload.bin --block-size 512 --item WIN --device 0483:5750:01 --device 0483:5751:02 --retry 5)
"$HOST_PACK" build --exe bare.exe --out host-tool.exe "${args[@]}" >host-build.txt
wine_pack() { "$RUN_WINE" --prefix "$PREFIX" "$PACK_EXE" "$@" 2>&1 | tr -d '\r'; }
wine_pack build --exe bare.exe --out wine-tool.exe "${args[@]}" >wine-build.txt
cmp host-tool.exe wine-tool.exe || fail "the two generators made different tools"
"$HOST_PACK" inspect host-tool.exe | sed 's/host-tool.exe/TOOL/' >host-inspect.txt
wine_pack inspect wine-tool.exe | sed 's/wine-tool.exe/TOOL/' >wine-inspect.txt
diff host-inspect.txt wine-inspect.txt || fail "inspect reads the tool differently"
grep -q "VID 0x0483  PID 0x5751  report ID 0x02" wine-inspect.txt || fail "inspect shows no device IDs"
cp wine-tool.exe before.exe
set +e
wine_pack build --exe wine-tool.exe --out wine-tool.exe "${args[@]}" >refused.txt
set -e
cmp before.exe wine-tool.exe || fail "a refused build changed the tool"
grep -qi "replace" refused.txt || fail "the refusal does not mention --replace: $(cat refused.txt)"
wine_pack build --exe wine-tool.exe --out wine-tool.exe --replace "${args[@]}" >replaced.txt
cmp host-tool.exe wine-tool.exe || fail "--replace in place did not give the same tool"
# Code-signed after building: usb-iap-pack.exe still reads it, and refuses to build on it.
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=USB IAP test signer" 2>/dev/null
osslsigncode sign -certs cert.pem -key key.pem -in host-tool.exe -out signed.exe >/dev/null
wine_pack inspect signed.exe >signed-inspect.txt || fail "inspect of the signed tool: $(cat signed-inspect.txt)"
grep -q "^code signature: Authenticode certificate table" signed-inspect.txt || fail "no signature shown"
grep -q "VID 0x0483  PID 0x5751  report ID 0x02" signed-inspect.txt || fail "the signed tool's package not read"
set +e
wine_pack build --exe signed.exe --out resigned.exe --replace "${args[@]}" >signed-refused.txt
set -e
grep -q "then sign the tool that build writes" signed-refused.txt || fail "signed input: $(cat signed-refused.txt)"
[ ! -e resigned.exe ] || fail "a refused build wrote its output"
rm -f key.pem cert.pem
ls | grep -q '\.tmp-' && fail "a temporary file was left: $(ls)"
echo "pack_exe_test: ok"
