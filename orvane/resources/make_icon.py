#!/usr/bin/env python3
"""Writes the program icon: a chip with an arrow coming down into it (an
image being installed), at 32 x 32 and 16 x 16 pixels in the 16 standard
colours.  Usage: make_icon.py OUT.ico"""
import os
import struct
import sys

# The 16 standard colours, in palette order (r, g, b).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, SILVER, GREY, YELLOW, WHITE = 0, 4, 7, 8, 11, 15
CLEAR = None


def rect(img, x0, y0, x1, y1, colour):
    """Fills x0..x1, y0..y1 inclusive."""
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            img[y][x] = colour


def outlined(img, x0, y0, x1, y1, colour):
    rect(img, x0, y0, x1, y1, BLACK)
    rect(img, x0 + 1, y0 + 1, x1 - 1, y1 - 1, colour)


def arrow(img, cx, top, shaft_half, shaft_bottom, head_half, tip):
    """A downward arrow centred between columns cx - 1 and cx, outlined in black."""
    def span(y):
        if y <= shaft_bottom:
            return shaft_half
        return head_half - (y - shaft_bottom - 1)

    for y in range(top, tip + 1):
        h = span(y)
        if h <= 0:
            break
        rect(img, cx - h - 1, y, cx + h, y, BLACK)
    for y in range(top + 1, tip + 1):
        h = span(y) - 1
        if y > shaft_bottom:
            h -= 1
        if h <= 0:
            break
        rect(img, cx - h - 1, y, cx + h, y, YELLOW)


def picture(size):
    img = [[CLEAR] * size for _ in range(size)]
    if size == 32:
        for y in (11, 15, 19, 23):
            outlined(img, 2, y, 7, y + 2, SILVER)
            outlined(img, 24, y, 29, y + 2, SILVER)
        outlined(img, 6, 8, 25, 28, NAVY)
        rect(img, 8, 26, 23, 26, GREY)          # the chip's lower edge
        rect(img, 9, 10, 10, 11, WHITE)         # pin-one mark
        arrow(img, 16, 0, 3, 11, 8, 22)
    else:
        for y in (8, 11, 14):
            rect(img, 0, y, 2, y, SILVER)
            rect(img, 13, y, 15, y, SILVER)
        outlined(img, 2, 6, 13, 15, NAVY)
        arrow(img, 8, 0, 2, 4, 5, 11)
    return img


def dib(img):
    """The image as an icon stores it: header, palette, 4-bit colours and the
    1-bit transparency mask, both bottom-up with rows padded to 4 bytes."""
    size = len(img)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    xor_rows, and_rows = [], []
    for row in reversed(img):
        nibbles = [0 if c is CLEAR else c for c in row]
        line = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor_rows.append(line + b'\0' * (-len(line) % 4))
        bits = 0
        mask = bytearray()
        for i, c in enumerate(row):
            bits = (bits << 1) | (1 if c is CLEAR else 0)
            if i % 8 == 7:
                mask.append(bits)
                bits = 0
        and_rows.append(bytes(mask) + b'\0' * (-len(mask) % 4))
    return header + palette + b''.join(xor_rows) + b''.join(and_rows)


def main():
    images = [dib(picture(32)), dib(picture(16))]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    os.makedirs(os.path.dirname(os.path.abspath(sys.argv[1])), exist_ok=True)
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
