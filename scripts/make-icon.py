#!/usr/bin/env python3
"""Draws unpellam's icon (resource 103): a loudspeaker struck through with a red cross, at 32x32
and 16x16 pixels in the 16 standard VGA colours, and writes it as a Windows .ico file.

    scripts/make-icon.py            writes uninstaller/unpellam.ico
    scripts/make-icon.py --check    fails when the committed icon differs from the drawing

The drawing is made of exact pixel rules, so the output is the same bytes on every machine.
"""
import pathlib
import struct
import sys

ICON_PATH = pathlib.Path(__file__).resolve().parent.parent / "uninstaller" / "unpellam.ico"

# The 16 colours of the standard VGA palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
DARK_GREY, LIGHT_GREY, RED = 8, 7, 9


def draw(size):
    """Returns size rows (top first) of palette indexes, None where the icon is transparent."""
    # The 32x32 image is drawn to the same plan at twice the size, with a wider cross.
    big = size == 32
    pixels = [[None] * size for _ in range(size)]
    body_top, body_bottom, body_left, body_right = (12, 19, 6, 11) if big else (6, 9, 3, 5)
    # The cone's tip and foot rows, its straight back (right) and the column where it meets
    # the body.
    cone_top, cone_bottom, cone_right, cone_inner = (5, 27, 19, 12) if big else (3, 13, 9, 6)
    for y in range(size):
        for x in range(size):
            if body_top <= y <= body_bottom and body_left <= x <= body_right:
                pixels[y][x] = DARK_GREY
            # The cone widens by a pixel a row from its tip to the body and narrows again.
            cone_left = max(cone_inner, cone_right + cone_top - y, cone_right - cone_bottom + y)
            if cone_top <= y <= cone_bottom and cone_left <= x <= cone_right:
                pixels[y][x] = LIGHT_GREY
    # The cross: two diagonals right of the cone, clipped to the icon.
    cross_top, cross_bottom, cross_left = (4, 16, 20) if big else (2, 8, 10)
    half_width = 1 if big else 0
    for y in range(cross_top, cross_bottom + 1):
        for centre in (y + cross_left - cross_top, cross_left + cross_bottom - y):
            for x in range(centre - half_width, centre + half_width + 1):
                if cross_left <= x < size:
                    pixels[y][x] = RED
    return pixels


def image_entry(size):
    """The icon image: BITMAPINFOHEADER, palette, 4-bit colour rows and the 1-bit mask, both
    bottom row first, rows padded to 4 bytes."""
    pixels = draw(size)
    colour_stride = (size * 4 + 31) // 32 * 4
    mask_stride = (size + 31) // 32 * 4
    colour = bytearray()
    mask = bytearray()
    for row in reversed(pixels):
        line = bytearray(colour_stride)
        bits = bytearray(mask_stride)
        for x, index in enumerate(row):
            if index is None:
                bits[x // 8] |= 0x80 >> (x % 8)
                index = 0
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        colour += line
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(colour) + len(mask),
                         0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(colour) + bytes(mask)


def icon_file():
    images = [(size, image_entry(size)) for size in (32, 16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = len(out) + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main(argv):
    data = icon_file()
    if argv[1:] == ["--check"]:
        if ICON_PATH.read_bytes() != data:
            print(f"{ICON_PATH} differs from the drawing of scripts/make-icon.py; run it to redraw")
            return 1
        print(f"{ICON_PATH} matches its drawing")
        return 0
    if argv[1:]:
        print(__doc__)
        return 2
    ICON_PATH.write_bytes(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
