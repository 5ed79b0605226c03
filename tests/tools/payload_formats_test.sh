#!/usr/bin/env bash
# `build --payload` from the files engineers hand over, each made from one
# binary by an independent writer (srecord's srec_cat; binutils' ld for ELF):
# the tool built from each is byte-identical to the one built from the
# binary, and build names the format and the address range.
#   payload_formats_test.sh PACK
set -euo pipefail
PACK=$1
WORK=$(mktemp -d "${TMPDIR:-/tmp}/iap-payload.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
fail() { echo "FAIL: $*" >&2; exit 1; }
head -c 4000 /dev/urandom >exe
head -c 70001 /dev/urandom >fw.bin   # past 64 KiB: extended address records
build() { "$PACK" build --exe exe --device 0483:5750:01 --payload "$@"; }
build fw.bin --out from-bin >/dev/null

srec_cat fw.bin -binary -offset 0x08000000 -o linear.hex -intel
srec_cat fw.bin -binary -offset 0x12340 -o segment.hex -intel -address-length=3
srec_cat fw.bin -binary -offset 0x100 -o s1.srec -motorola -address-length=2
srec_cat fw.bin -binary -offset 0x100 -o s2.srec -motorola -address-length=3
srec_cat fw.bin -binary -offset 0x08000000 -o s3.srec -motorola -address-length=4
printf 'SECTIONS { . = 0x20000000; .fw : AT(0x08000000) { *(.data) } }\n' >fw.ld
ld -m elf_x86_64 -N -T fw.ld --oformat elf64-x86-64 -b binary fw.bin -o fw64.elf
ld -m elf_i386 -N -T fw.ld --oformat elf32-i386 -b binary fw.bin -o fw32.elf
grep -q '^:02000002' segment.hex || fail "srec_cat wrote no extended segment address record"
grep -q '^S1' s1.srec && grep -q '^S2' s2.srec && grep -q '^S3' s3.srec || fail "srec_cat wrote other S-records"

check() {  # FILE FORMAT-TEXT RANGE-TEXT [options]
  local file=$1 format=$2 range=$3
  shift 3
  build "$file" --out "from-$file" "$@" >"$file.txt" || fail "build from $file: $(cat "$file.txt")"
  cmp from-bin "from-$file" || fail "the tool from $file differs from the one from fw.bin"
  grep -q "payload: $format $file, addresses $range (70001 bytes)" "$file.txt" || fail "build output: $(cat "$file.txt")"
}
check linear.hex "Intel HEX" "0x08000000 to 0x08011170"
check segment.hex "Intel HEX" "0x00012340 to 0x000234B0"
check s1.srec "Motorola S-record" "0x00000100 to 0x00011270"
check s2.srec "Motorola S-record" "0x00000100 to 0x00011270"
check s3.srec "Motorola S-record" "0x08000000 to 0x08011170"
check fw64.elf ELF "0x08000000 to 0x08011170"
check fw32.elf ELF "0x08000000 to 0x08011170"
cp fw.bin named.dat && check named.dat "raw binary" "0x00000000 to 0x00011170" --payload-format bin

# Gaps and a base below the data, filled as srec_cat fills them.
head -c 3000 /dev/urandom >a.bin
head -c 1000 /dev/urandom >b.bin
srec_cat a.bin -binary -offset 0x1000 b.bin -binary -offset 0x2000 -o gap.hex -intel
srec_cat gap.hex -intel -fill 0x5A 0x0F00 0x23E8 -offset -0x0F00 -o gap.bin -binary
build gap.bin --out gap-from-bin >/dev/null
build gap.hex --out gap-from-hex --base 0xF00 --fill 0x5A >gap.txt
cmp gap-from-bin gap-from-hex || fail "gaps or base filled otherwise than srec_cat fills them"
grep -q "addresses 0x00000F00 to 0x000023E7" gap.txt || fail "gap build output: $(cat gap.txt)"

# A refusal names the file and the line; nothing is written.
sed '3s/..$/00/' linear.hex >bad.hex
set +e
build bad.hex --out bad >bad.txt 2>&1; rc=$?
set -e
[ "$rc" = 1 ] && grep -q "bad.hex: line 3: bad checksum" bad.txt || fail "bad checksum: $rc $(cat bad.txt)"
[ ! -e bad ] || fail "a refused build wrote its output"
echo "payload_formats_test: ok"
