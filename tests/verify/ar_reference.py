#!/usr/bin/env python3
"""Independent reference for the track checksums: reads raw 44.1 kHz stereo PCM and
prints zlib's CRC32, AccurateRip v1 and v2 as 8 hex digits each.

usage: ar_reference.py FILE FIRST(0/1) LAST(0/1)
"""
import struct
import sys
import zlib

data = open(sys.argv[1], "rb").read()
first = sys.argv[2] == "1"
last = sys.argv[3] == "1"
words = struct.unpack("<%dI" % (len(data) // 4), data[: len(data) // 4 * 4])
n = len(words)
lo_from = 5 * 588 if first else 1
hi_to = n - 5 * 588 if last else n
v1 = 0
v2 = 0
for pos, w in enumerate(words, start=1):
    if lo_from <= pos <= hi_to:
        p = w * pos
        v1 = (v1 + p) & 0xFFFFFFFF
        v2 = (v2 + (p & 0xFFFFFFFF) + (p >> 32)) & 0xFFFFFFFF
print("%08x %08x %08x" % (zlib.crc32(data) & 0xFFFFFFFF, v1, v2))
