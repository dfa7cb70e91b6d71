#!/usr/bin/env python3
"""Writes the bundled sample firmware image: SIZE deterministic bytes
(xorshift32 from a fixed seed), the same on every machine.

    make_sample.py OUT [SIZE]
"""
import sys


def main():
    out = sys.argv[1]
    size = int(sys.argv[2]) if len(sys.argv) > 2 else 200 * 1024
    x = 0x2545F491
    data = bytearray(size)
    for i in range(size):
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        data[i] = x & 0xFF
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
