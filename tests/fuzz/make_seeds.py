#!/usr/bin/env python3
"""Writes the fuzz targets' seed inputs into OUT/<target>/: the JSON documents of the
MusicBrainz tests (every raw string literal of the test sources that parses as JSON),
dBAR files and drive offset lists built the way the tests build them, and the cue
sheets and TOC files of tests/fuzz/sheets (each behind the byte that picks the kind).

usage: make_seeds.py ROOT OUT
"""
import json
import os
import re
import struct
import sys

root, out = sys.argv[1], sys.argv[2]


def write(target, name, data):
    folder = os.path.join(out, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# The MusicBrainz answers the tests use: adjacent raw strings of one expression are
# joined first, as the compiler joins them.
sources = ["tests/metadata/MusicBrainzTest.cpp", "tests/metadata/DiscTitlesTest.cpp",
           "tests/metadata/MbJson.h", "tests/cdaccess/VelmoraRipTest.cpp"]
count = 0
for source in sources:
    path = os.path.join(root, source)
    if not os.path.exists(path):
        continue
    text = open(path, encoding="utf-8").read()
    for group in re.finditer(r'(?:R"\((.*?)\)"\s*)+', text, re.S):
        joined = "".join(re.findall(r'R"\((.*?)\)"', group.group(0), re.S))
        try:
            json.loads(joined)
        except ValueError:
            continue
        count += 1
        write("musicbrainz_fuzz", "test%03d.json" % count, joined.encode())
write("musicbrainz_fuzz", "nested.json", b'{"releases":[{"media":[{"tracks":[' * 20 + b"]")


def dbar_record(ids, tracks):
    data = struct.pack("<BIII", len(tracks), *ids)
    for confidence, checksum, offset in tracks:
        data += struct.pack("<BII", confidence, checksum, offset)
    return data


disc = (0x0002189A, 0x00087F33, 0x1F02E004)
four = [(5, 0x12345678, 0), (5, 1, 0), (5, 2, 0), (5, 3, 0)]
write("dbar_fuzz", "one.bin", dbar_record(disc, four))
write("dbar_fuzz", "three.bin", dbar_record(disc, four) * 3)
write("dbar_fuzz", "cut.bin", (dbar_record(disc, four) * 2)[:60])
write("dbar_fuzz", "zero.bin", dbar_record(disc, []))
write("dbar_fuzz", "other.bin", dbar_record((1, 2, 3), four[:3]) + dbar_record(disc, four))


def offset_record(offset, name):
    return struct.pack("<h", offset) + name.encode().ljust(32, b"\0") + b"\0" * 35


write("drive_offsets_fuzz", "list.bin",
      offset_record(6, "PLEXTOR - DVDR   PX-716A") + offset_record(-472, "HL-DT-ST - DVDRAM GH22NS50")
      + offset_record(0, ""))
write("drive_offsets_fuzz", "cut.bin", offset_record(667, "TSSTcorp - CDDVDW SH-S223C")[:40])
# Sheets: the corpus kept in the repository, whose first byte is even for a cue sheet and
# odd for a TOC file, as sheet_fuzz reads its input.
sheets = os.path.join(root, "tests/fuzz/sheets")
sheet_count = 0
for name in sorted(os.listdir(sheets)):
    with open(os.path.join(sheets, name), "rb") as f:
        write("sheet_fuzz", name, f.read())
    sheet_count += 1
print("seeds: %d MusicBrainz documents, %d sheets" % (count, sheet_count))
