#!/usr/bin/env python3
"""SkinStandInFiles.py OUT_DIR: files for the toolkit tests' resource module
stand-in. Targa files (ImageMagick's from one 5 x 3 pattern, a refused header,
cut pixels), "LZMG" data (expanded size, then zlib; one that does not inflate),
SkinStandIn.rc naming them by id, and pattern.bgra, the pattern as the decoder
must deliver it (top row first)."""
import os
import struct
import subprocess
import sys
import zlib

out = sys.argv[1]
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

def header(width, height, bits, id_length=0):
    return struct.pack("<BBBHHBHHHHBB", id_length, 0, 2, 0, 0, 0, 0, 0, width, height, bits, 8)

one = bytes((1, 1, 1, 1))
write("idfield.tga", header(1, 1, 32, id_length=3) + b"abc" + one)
write("shortpixels.tga", header(3, 3, 32) + one * 8)
with open(os.path.join(out, "rle32.tga"), "rb") as f:
    good = f.read()
write("good.lzmg", struct.pack("<I", len(good)) + zlib.compress(good))
write("bad.lzmg", struct.pack("<I", len(good)) + b"not a zlib stream")

RESOURCES = [(1, "IMG", "raw32.tga"), (10, "IMG", "idfield.tga"), (14, "IMG", "shortpixels.tga"),
             (20, "LZMG", "good.lzmg"), (21, "LZMG", "bad.lzmg")]
with open(os.path.join(out, "SkinStandIn.rc"), "w") as rc:
    for rid, kind, name in RESOURCES:
        rc.write(f'{rid} {kind} "{os.path.join(out, name)}"\n')
