#!/usr/bin/python3
# DXT textures that `Mtxdump +extract +png` decodes must have the pixels that another program's DDS decoder,
# Pillow's, gives for the same DDS files: random DXT1, DXT3 and DXT5 blocks (both DXT1 modes, both DXT5 alpha
# modes) at sizes with and without blocks cut by the edges.
# Usage: dxt_pillow_test.py MTXMAKE MTXDUMP
import random
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

try:
    from PIL import Image
except ImportError:
    sys.exit("FAILED: Pillow is missing; install Debian's python3-pil (scripts/test does)")

# Surface header flags: caps, height, width, pixel format, linear size; the pixel format names a four-character code.
HEADER_FLAGS = 0x1 | 0x2 | 0x4 | 0x1000 | 0x80000
FOURCC_FLAG = 0x4
CAPS_TEXTURE = 0x1000
BLOCK_BYTES = {b"DXT1": 8, b"DXT3": 16, b"DXT5": 16}
SIZES = [(4, 4), (8, 4), (12, 8), (5, 3), (1, 1), (2, 7), (16, 16), (33, 9)]


def dds_file(code, width, height, body):
    header = struct.pack("<4s7I44x2I4s20xI16x", b"DDS ", 124, HEADER_FLAGS, height, width, len(body), 0, 0,
                         32, FOURCC_FLAG, code, CAPS_TEXTURE)
    return header + body


def first_difference(ours, theirs):
    for at in range(0, min(len(ours), len(theirs)), 4):
        if ours[at:at + 4] != theirs[at:at + 4]:
            return f"pixel {at // 4}: ours {tuple(ours[at:at + 4])}, Pillow's {tuple(theirs[at:at + 4])}"
    return f"sizes {len(ours)} and {len(theirs)}"


def main():
    mtxmake, mtxdump = sys.argv[1:3]
    rng = random.Random(23)
    failed = []
    with tempfile.TemporaryDirectory() as scratch:
        work = Path(scratch)
        (work / "in").mkdir()
        stems = []
        for code, block_bytes in BLOCK_BYTES.items():
            for width, height in SIZES:
                blocks = ((width + 3) // 4) * ((height + 3) // 4)
                stem = f"{code.decode().lower()}_{width}x{height}"
                body = bytes(rng.randrange(256) for _ in range(blocks * block_bytes))
                (work / "in" / f"{stem}.dds").write_bytes(dds_file(code, width, height, body))
                stems.append(stem)
        subprocess.run([mtxmake, "pak", "in/*.*"], cwd=work, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL)
        subprocess.run([mtxdump, "+extract", "+png", "-out", "out", "pak"], cwd=work, check=True,
                       stdout=subprocess.DEVNULL)
        for stem in stems:
            png = work / "out" / "pak" / f"{stem}.png"
            with Image.open(work / "in" / f"{stem}.dds") as dds, Image.open(png) as ours:
                theirs_pixels = dds.convert("RGBA").tobytes()
                our_pixels = ours.convert("RGBA").tobytes()
                if our_pixels != theirs_pixels:
                    failed.append(f"{stem}: {first_difference(our_pixels, theirs_pixels)}")
    for line in failed:
        print(line)
    print(f"{len(stems) - len(failed)} passed, {len(failed)} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
