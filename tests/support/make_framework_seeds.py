#!/usr/bin/env python3
"""Writes small fuzz seeds of the framework's picture formats into fuzz/seeds/.

JPEG seeds need cjpeg (libjpeg-turbo-progs); the others are built here byte by byte.
Run from the project root: python3 tests/support/make_framework_seeds.py
"""
import os
import struct
import subprocess
import zlib

OUT = os.path.join(os.path.dirname(__file__), '..', '..', 'fuzz', 'seeds')


def write(name, data):
    with open(os.path.join(OUT, name), 'wb') as f:
        f.write(data)


def ppm(width, height, grey=False):
    pixels = bytearray()
    for y in range(height):
        for x in range(width):
            if grey:
                pixels.append((x * 16 + y * 8) & 0xFF)
            else:
                pixels += bytes(((x * 20) & 0xFF, (y * 20) & 0xFF, ((x + y) * 9) & 0xFF))
    magic = b'P5' if grey else b'P6'
    return magic + b'\n%d %d\n255\n' % (width, height) + bytes(pixels)


def cjpeg(image, *options):
    return subprocess.run(['cjpeg', *options], input=image, capture_output=True, check=True).stdout


def png(width, height):
    raw = b''.join(b'\0' + b''.join(bytes((x * 30 & 0xFF, y * 30 & 0xFF, 90, 255 - x * 10)) for x in range(width))
                   for y in range(height))
    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))


def bmp_icon_image(size, bits):
    colours = 1 << bits if bits <= 8 else 0
    head = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    table = b''.join(bytes((i * 37 & 0xFF, i * 91 & 0xFF, i * 13 & 0xFF, 0)) for i in range(colours))
    stride = (size * bits + 31) // 32 * 4
    rows = bytes(((y * 7 + x) * 5) & 0xFF for y in range(size) for x in range(stride))
    mask_stride = (size + 31) // 32 * 4
    mask = b''.join(bytes((0x80 >> (y % 8) if x == y // 8 else 0) for x in range(mask_stride)) for y in range(size))
    return head + table + rows + mask


def icon(images):
    head = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b''
    for image in images:
        entries += struct.pack('<BBBBHHII', 0, 0, 0, 0, 1, 0, len(image), offset)
        offset += len(image)
    return head + entries + b''.join(images)


def wmf_record(function, *words, raw=b''):
    body = b''.join(struct.pack('<h' if w < 0 else '<H', w) for w in words) + raw
    if len(body) % 2:
        body += b'\0'
    return struct.pack('<IH', 3 + len(body) // 2, function) + body


def dib_2x2():
    return struct.pack('<IiiHHIIiiII', 40, 2, 2, 1, 24, 0, 0, 0, 0, 0, 0) + bytes(
        (255, 0, 0, 255, 255, 255, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0))


def wmf(records, placeable=True, bbox=(0, 0, 200, 100)):
    body = b''.join(records) + struct.pack('<IH', 3, 0)
    header = struct.pack('<HHHIHIH', 1, 9, 0x300, 9 + len(body) // 2, 8, 64, 0)
    out = header + body
    if placeable:
        words = struct.pack('<IHhhhhHI', 0x9AC6CDD7, 0, *bbox, 96, 0)
        checksum = 0
        for (w,) in struct.iter_unpack('<H', words):
            checksum ^= w
        out = words + struct.pack('<H', checksum) + out
    return out


def emf_record(kind, *values, raw=b''):
    body = b''.join(struct.pack('<i' if v < 0 else '<I', v) for v in values) + raw
    body += b'\0' * (-len(body) % 4)
    return struct.pack('<II', kind, 8 + len(body)) + body


def emf(records):
    body = b''.join(records) + emf_record(14, 0, 0, 20)
    header = struct.pack('<II4i4iIIIIHHIIIiiii', 1, 88, 0, 0, 99, 99, 0, 0, 2646, 2646, 0x464D4520, 0x10000,
                         88 + len(body), len(records) + 2, 8, 0, 0, 0, 0, 960, 960, 254, 254)
    return header + body


def main():
    os.makedirs(OUT, exist_ok=True)
    write('jpeg-baseline.jpg', cjpeg(ppm(24, 16), '-quality', '60'))
    write('jpeg-progressive.jpg', cjpeg(ppm(24, 16), '-progressive', '-quality', '60'))
    write('jpeg-gray-restart.jpg', cjpeg(ppm(16, 16, grey=True), '-restart', '1', '-quality', '60'))

    write('ico-bmp-depths.ico', icon([bmp_icon_image(8, 1), bmp_icon_image(8, 4), bmp_icon_image(8, 8),
                                      bmp_icon_image(8, 24), bmp_icon_image(8, 32)]))
    write('ico-png.ico', icon([png(12, 10), bmp_icon_image(4, 8)]))

    shapes = [
        wmf_record(0x020B, 0, 0), wmf_record(0x020C, 100, 200),
        wmf_record(0x02FA, 0, 3, 0, 0x00FF, 0), wmf_record(0x02FC, 2, 0, 0x00FF, 3),
        wmf_record(0x012D, 0), wmf_record(0x012D, 1),
        wmf_record(0x041B, 40, 60, 10, 10), wmf_record(0x0418, 90, 190, 50, 100),
        wmf_record(0x061C, 20, 20, 95, 95, 60, 60),
        wmf_record(0x081A, 100, 50, 50, 100, 100, 100, 0, 0),
        wmf_record(0x0324, 3, 0, 0, 50, 0, 25, 40),
        wmf_record(0x0538, 2, 3, 3, 0, 0, 9, 0, 9, 9, 20, 20, 29, 20, 29, 29),
        wmf_record(0x001E), wmf_record(0x0416, 80, 150, 20, 20), wmf_record(0x0127, -1),
        wmf_record(0x0521, 2, raw=b'Hi' + struct.pack('<hh', 50, 20)),
        wmf_record(0x0F43, 0x0020, 0x00CC, 0, 2, 2, 0, 0, 30, 30, 60, 120, raw=dib_2x2()),
        wmf_record(0x01F0, 0), wmf_record(0x01F0, 1),
    ]
    write('wmf-shapes.wmf', wmf(shapes))
    write('wmf-standard.wmf', wmf([wmf_record(0x041B, 40, 60, 10, 10), wmf_record(0x0213, 5, 5)], placeable=False))

    text = struct.pack('<4iIff', 0, 0, 0, 0, 1, 0, 0) + struct.pack('<iiIII4iI', 10, 20, 2, 76, 0, 0, 0, 0, 0, 0)
    text += '汉字'.encode('utf-16-le')
    dib = dib_2x2()
    stretch = struct.pack('<4i6i', 0, 0, 0, 0, 5, 5, 0, 0, 2, 2) + struct.pack('<IIIIIIii', 80, 40, 120, 16, 0,
                                                                              0x00CC0020, 30, 30) + dib
    records = [
        emf_record(17, 8), emf_record(9, 100, 100), emf_record(11, 100, 100),
        emf_record(38, 1, 0, 2, 0, 0x0000FF), emf_record(37, 1), emf_record(37, 0x80000005),
        emf_record(59), emf_record(27, 10, 10), emf_record(54, 80, 10), emf_record(54, 80, 80),
        emf_record(61), emf_record(60), emf_record(63),
        emf_record(33), emf_record(35, *struct.unpack('<6I', struct.pack('<6f', 0.7, 0.7, -0.7, 0.7, 50, 0))),
        emf_record(42, 0, 0, 40, 20), emf_record(34, -1 & 0xFFFFFFFF),
        emf_record(87, 0, 0, 0, 0, 3, raw=struct.pack('<6h', 0, 0, 50, 90, 90, 0)),
        emf_record(84, raw=text), emf_record(81, raw=stretch),
    ]
    write('emf-paths-text.emf', emf(records))


if __name__ == '__main__':
    main()
