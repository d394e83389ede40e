#!/usr/bin/env python3
"""Writes the small Photo-CD, Dr. Halo CUT and Wavefront RLA seed files into fuzz/seeds/."""
import os
import struct

SEEDS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "seeds")


def write(name, data):
    with open(os.path.join(SEEDS, name), "wb") as f:
        f.write(data)


def cut_row(pixels):
    """Packs one row: runs of equal pixels as run packets, the rest as literals."""
    packets = b""
    i = 0
    while i < len(pixels):
        j = i
        while j < len(pixels) and j - i < 127 and pixels[j] == pixels[i]:
            j += 1
        if j - i >= 3:
            packets += bytes([0x80 | (j - i), pixels[i]])
        else:
            j = i
            while j < len(pixels) and j - i < 127 and not (j + 2 < len(pixels) and pixels[j] == pixels[j + 1] == pixels[j + 2]):
                j += 1
            packets += bytes([j - i]) + bytes(pixels[i:j])
        i = j
    packets += b"\x00"
    return struct.pack("<H", len(packets)) + packets


def cut(width, height):
    rows = b"".join(cut_row([(x // 4 + y * 3) % 256 if x < width // 2 else 7 for x in range(width)]) for y in range(height))
    return struct.pack("<HHH", width, height, 0) + rows


def rla_channel(samples):
    packed = b""
    i = 0
    while i < len(samples):
        j = i
        while j < len(samples) and j - i < 128 and samples[j] == samples[i]:
            j += 1
        if j - i >= 2:
            packed += bytes([j - i - 1, samples[i]])
        else:
            j = min(i + 128, len(samples))
            packed += bytes([256 - (j - i)]) + bytes(samples[i:j])
        i = j
    return struct.pack(">H", len(packed)) + packed


def rla(width, height, matte=False, bits=8):
    header = bytearray(740)
    struct.pack_into(">8h", header, 0, 0, width - 1, 0, height - 1, 0, width - 1, 0, height - 1)
    struct.pack_into(">hhhhh", header, 18, 0 if bits == 8 else 1, 3, 1 if matte else 0, 0, -2)
    struct.pack_into(">5h", header, 658, bits, 0, 8, 0, 8)
    rows = []
    for y in range(height):
        channels = []
        for c in range(3):
            samples = [(x * 16 + y * 8 + c * 40) % 256 for x in range(width)]
            if bits == 16:
                samples = samples + [(s * 3) % 256 for s in samples]
            channels.append(rla_channel(samples))
        if matte:
            channels.append(rla_channel([255 if x < width // 2 else 128 for x in range(width)]))
        rows.append(b"".join(channels))
    offsets = []
    position = 740 + 4 * height
    for row in rows:
        offsets.append(position)
        position += len(row)
    return bytes(header) + struct.pack(">%dI" % height, *offsets) + b"".join(rows)


def pcd_signature_only():
    data = bytearray(2048 + 16)
    data[2048:2055] = b"PCD_IPI"
    return bytes(data)


if __name__ == "__main__":
    os.makedirs(SEEDS, exist_ok=True)
    write("cut-16x8.cut", cut(16, 8))
    write("cut-300x2-long-runs.cut", cut(300, 2))
    write("rla-rgb-8x4.rla", rla(8, 4))
    write("rla-rgba-matte-8x4.rla", rla(8, 4, matte=True))
    write("rla-rgb16-6x3.rla", rla(6, 3, bits=16))
    write("pcd-signature-only.pcd", pcd_signature_only())
