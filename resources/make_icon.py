#!/usr/bin/env python3
"""Draws the program's icon and writes it as an .ico file: one image, 32 x 32, 16 colours.

The picture: a page with a list of three lines on the left and a play button on the right, the
movie list the menu entry makes. Run: make_icon.py OUTPUT.ico
"""
import struct
import sys

SIZE = 32
# The 16 colours of the standard VGA palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_CYAN, GREY, RED, CYAN = 0, 6, 8, 9, 14
TRANSPARENT = None


def draw():
    """Rows top to bottom; each pixel a palette index or TRANSPARENT."""
    pixels = [[TRANSPARENT] * SIZE for _ in range(SIZE)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(y0, y1):
            for x in range(x0, x1):
                pixels[y][x] = colour

    fill(2, 3, 30, 29, BLACK)  # outline of the page
    fill(3, 4, 29, 28, CYAN)  # the page, light cyan as the rewritten page
    fill(3, 4, 29, 7, DARK_CYAN)  # its title bar
    for row in range(3):  # the list of movies on the left
        y = 10 + row * 5
        fill(5, y, 13, y + 2, BLACK)
    fill(15, 9, 27, 25, GREY)  # the player frame on the right
    for y in range(11, 24):  # a play triangle in it
        half = 6 - abs(y - 17)
        fill(18, y, 19 + half, y + 1, RED)
    return pixels


def icon_image(pixels):
    """The image as stored in an icon: BITMAPINFOHEADER, palette, 4-bit colours, 1-bit mask, bottom-up."""
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colours = bytearray()
    mask = bytearray()
    for row in reversed(pixels):
        for x in range(0, SIZE, 2):
            left, right = (c if c is not TRANSPARENT else 0 for c in row[x:x + 2])
            colours.append(left << 4 | right)
        bits = 0
        for c in row:
            bits = bits << 1 | (c is TRANSPARENT)
        mask += bits.to_bytes(SIZE // 8, "big")  # rows of 32 bits are already 4-byte aligned
    return header + palette + bytes(colours) + bytes(mask)


def main():
    image = icon_image(draw())
    assert len(image) == 744, len(image)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    with open(sys.argv[1], "wb") as out:
        out.write(directory + entry + image)


if __name__ == "__main__":
    main()
