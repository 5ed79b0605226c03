#!/usr/bin/env python3
"""Checks that each Windows program carries VERSION: in its VERSIONINFO
resource (the fixed file and product version, and the FileVersion and
ProductVersion strings Explorer shows) and in the version marker.

    version_info.py VERSION PROGRAM.exe...
"""
import struct
import sys


def problems(data: bytes, version: str) -> list:
    found = []
    numbers = [int(n) for n in version.split('.')] + [0]
    ms, ls = numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3]
    at = data.find(struct.pack('<I', 0xFEEF04BD))  # VS_FIXEDFILEINFO's signature
    if at < 0:
        return ['no VS_FIXEDFILEINFO']
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from('<4I', data, at + 8)
    if (file_ms, file_ls, product_ms, product_ls) != (ms, ls, ms, ls):
        found.append('fixed versions %x.%x / %x.%x' % (file_ms, file_ls, product_ms, product_ls))
    for key in ('FileVersion', 'ProductVersion'):
        # A String entry: the key, NUL, padding to 32 bits, the value, NUL.
        k = data.find((key + '\0').encode('utf-16-le'))
        if k < 0:
            found.append('no ' + key)
            continue
        v = k + len(key + '\0') * 2
        v += (4 - v % 4) % 4
        value = data[v:v + len(version + '\0') * 2].decode('utf-16-le', 'replace')
        if value != version + '\0':
            found.append('%s "%s"' % (key, value.rstrip('\0')))
    if ('USB-IAP-TOOL-VERSION:' + version + '\0').encode() not in data:
        found.append('no version marker')
    return found


def main() -> int:
    version, programs = sys.argv[1], sys.argv[2:]
    failed = False
    for program in programs:
        with open(program, 'rb') as f:
            found = problems(f.read(), version)
        print('%s: %s' % (program, '; '.join(found) if found else 'version ' + version))
        failed = failed or bool(found)
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
