#!/usr/bin/env python3
"""Files for the toolkit tests' resource module stand-in and skin checks.

    SkinStandInFiles.py OUT_DIR SKINS_DIR

Writes Targa files (ImageMagick's from one 5 x 3 pattern, hand-made edge
cases and hostile ones), "LZMG" data (expanded size, then zlib; one good,
one that does not inflate), SkinStandIn.rc naming them by id, the pattern
as the decoder must deliver it (pattern.bgra, top row first) and each
sheet's PNG master as ImageMagick reads it (skinNNN.rgba, straight alpha).
"""
import os
import struct
import subprocess
import sys
import zlib

out, skins = sys.argv[1], sys.argv[2]
os.makedirs(out, exist_ok=True)

W, H = 5, 3
# Row 0 one colour (a run), rows 1 and 2 mixed, alphas from 0 to 255.
PATTERN = [
    [(200, 100, 50, 255)] * 5,
    [(255, 0, 0, 255), (0, 128, 0, 128), (0, 0, 64, 64), (10, 20, 30, 40), (0, 0, 0, 0)],
    [(1, 2, 3, 4), (90, 90, 90, 200), (90, 90, 90, 200), (90, 90, 90, 200), (7, 7, 7, 7)],
]

def write(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)

rgba = b"".join(bytes(p) for row in PATTERN for p in row)
write("pattern.rgba", rgba)
# What the decoder delivers for 32-bit files (blue, green, red, alpha).
write("pattern.bgra", b"".join(bytes((b, g, r, a)) for row in PATTERN for (r, g, b, a) in row))

def magick(args, name):
    subprocess.run(["convert", "-size", f"{W}x{H}", "-depth", "8",
                    "rgba:" + os.path.join(out, "pattern.rgba"), "-flip", "+set", "comment"]
                   + args + [os.path.join(out, name)], check=True)

magick(["-type", "TrueColorAlpha", "-compress", "None"], "raw32.tga")
magick(["-type", "TrueColorAlpha", "-compress", "RLE"], "rle32.tga")
magick(["-alpha", "off", "-type", "TrueColor", "-compress", "None"], "raw24.tga")
magick(["-alpha", "off", "-type", "TrueColor", "-compress", "RLE"], "rle24.tga")

def header(width, height, bits, rle, id_length=0, map_type=0):
    return struct.pack("<BBBHHBHHHHBB", id_length, map_type, 10 if rle else 2, 0, 0, 0, 0, 0,
                       width, height, bits, 8)

px = lambda b, g, r, a: bytes((b, g, r, a))
# 4 x 2: one run of 6 (4 of row 0, 2 of row 1), then 2 literals.
across = header(4, 2, 32, True) + bytes([0x80 | 5]) + px(1, 2, 3, 255) + bytes([1]) \
    + px(9, 9, 9, 9) + px(8, 8, 8, 8)
write("across.tga", across)
# 2 x 2: a run of 128 pixels cut at 4; what follows is never read.
past = header(2, 2, 32, True) + bytes([0xFF]) + px(5, 6, 7, 8) + b"\x00" * 64
write("past.tga", past)
write("idfield.tga", header(1, 1, 32, False, id_length=3) + b"abc" + px(1, 1, 1, 1))
write("colourmap.tga", header(1, 1, 32, False, map_type=1) + px(1, 1, 1, 1))
write("depth16.tga", header(1, 1, 16, False) + b"\x00\x00")
write("shortheader.tga", header(1, 1, 32, False)[:10])
write("shortpixels.tga", header(3, 3, 32, False) + px(1, 1, 1, 1) * 8)
write("huge.tga", header(65535, 65535, 32, True) + (bytes([0xFF]) + px(0, 0, 0, 0)) * 16)
write("empty.tga", header(0, 0, 32, False))
with open(os.path.join(out, "rle32.tga"), "rb") as f:
    good = f.read()
write("good.lzmg", struct.pack("<I", len(good)) + zlib.compress(good))
write("bad.lzmg", struct.pack("<I", len(good)) + b"not a zlib stream")

IMG = [(1, "raw32.tga"), (2, "rle32.tga"), (3, "raw24.tga"), (4, "rle24.tga"),
       (5, "across.tga"), (6, "past.tga"), (10, "idfield.tga"), (11, "colourmap.tga"),
       (12, "depth16.tga"), (13, "shortheader.tga"), (14, "shortpixels.tga"),
       (15, "huge.tga"), (16, "empty.tga")]
LZMG = [(20, "good.lzmg"), (21, "bad.lzmg")]
with open(os.path.join(out, "SkinStandIn.rc"), "w") as rc:
    for rid, name in IMG:
        rc.write(f'{rid} IMG "{os.path.join(out, name)}"\n')
    for rid, name in LZMG:
        rc.write(f'{rid} LZMG "{os.path.join(out, name)}"\n')

for sheet in (161, 162, 164):
    subprocess.run(["convert", os.path.join(skins, f"skin{sheet}.png"), "-depth", "8",
                    "rgba:" + os.path.join(out, f"skin{sheet}.rgba")], check=True)
