#!/usr/bin/env python3
"""Makes damaged and hostile JPEG files from the intact ones in jpeg/.

usage: make_damage_suite.py SOURCE_FOLDER OUT_FOLDER

For every intact NAME.jpg it writes NAME-KIND.jpg, one per kind of damage below, and three hostile
files made from nothing: hostile-huge-declared.jpg (64250 x 64250 pixels declared in about
1.4 KB), hostile-many-scans.jpg (a progressive file with 50,000 scans) and hostile-much-work.jpg
(a valid progressive 10000 x 10000 grey picture of about 270 KB whose 883 scans are end-of-block
runs: within every ceiling on size and scans, yet half a minute of decoding). The output is the
same on every run.
"""

import os
import struct
import sys


def segments(data):
    """Yields (marker, offset, length) for each segment up to the first scan's header."""
    pos = 2
    while pos + 4 <= len(data):
        marker = data[pos + 1]
        length = struct.unpack(">H", data[pos + 2:pos + 4])[0]
        yield marker, pos, length
        if marker == 0xDA:
            return
        pos += 2 + length


def find_segment(data, markers):
    for marker, offset, length in segments(data):
        if marker in markers:
            return offset, length
    raise ValueError("no segment %s" % markers)


def image_data(data):
    """The range of bytes from the first scan's data to the end marker."""
    offset, length = find_segment(data, {0xDA})
    return offset + 2 + length, data.rindex(b"\xff\xd9")


def at_fraction(data, fraction):
    start, end = image_data(data)
    return start + int((end - start) * fraction)


def overwrite(data, offset, new):
    return data[:offset] + new + data[offset + len(new):]


def flip_bit(data, fraction):
    offset = at_fraction(data, fraction)
    # A stuffed byte or a marker keeps its meaning: flip a bit of the next ordinary byte.
    while data[offset] == 0xFF or data[offset - 1] == 0xFF:
        offset += 1
    return overwrite(data, offset, bytes([data[offset] ^ 0x10]))


def mp4(size):
    ftyp = struct.pack(">I", 24) + b"ftypisom" + struct.pack(">I", 512) + b"isomiso2"
    payload = bytes((i * 37 + 11) & 0xFF for i in range(size))
    return ftyp + struct.pack(">I", 8 + size) + b"mdat" + payload


def damaged_variants(data, other_jpeg):
    dht, _ = find_segment(data, {0xC4})
    sof, _ = find_segment(data, {0xC0, 0xC1, 0xC2})
    middle = at_fraction(data, 0.5)
    return {
        "truncated": data[:at_fraction(data, 0.6)],
        "zeroed-tail": data[:at_fraction(data, 0.7)] + bytes(len(data) - at_fraction(data, 0.7)),
        "bad-start": b"\0\0" + data[2:],
        "zeros-inside": overwrite(data, middle, bytes(4096)),
        "chunk-dropped": data[:middle] + data[middle + 3000:],
        "bit-flip-1": flip_bit(data, 0.25),
        "bit-flip-2": flip_bit(data, 0.5),
        "bit-flip-3": flip_bit(data, 0.75),
        # The code counts of the first table's first lengths.
        "huffman-counts": overwrite(data, dht + 5, b"\x63\x63\x63"),
        # Three of its symbols.
        "huffman-symbols": overwrite(data, dht + 21, b"\xa7\xa7\xa7"),
        # The component count and the first component.
        "frame-components": overwrite(data, sof + 9, b"\x2a\x2a\x2a"),
        # The height, and the width's high byte.
        "frame-size": overwrite(data, sof + 5, b"\x0f\x0f\x0f"),
        "trailer-video": data + mp4(20000),
        "trailer-tagged-video": data + b"MotionPhoto_Data" + mp4(20000),
        "trailer-vendor": data + b"SEFH" + bytes(range(256)) * 8 + b"SEFT",
        "trailer-padding": data + bytes(4096),
        "trailer-jpeg": data + other_jpeg,
    }


def segment(marker, body):
    return bytes([0xFF, marker]) + struct.pack(">H", 2 + len(body)) + body


# One Huffman table each for DC and AC, with a single 1-bit code: symbol 0 (a DC difference of
# 0, an end of block). Every 0 bit of image data is a valid code.
DQT = segment(0xDB, b"\x00" + bytes([1] * 64))
DHT = segment(0xC4, b"\x00" + b"\x01" + bytes(15) + b"\x00" + b"\x10" + b"\x01" + bytes(15) + b"\x00")


def huge_declared():
    sof = segment(0xC0, b"\x08" + struct.pack(">HH", 64250, 64250) + b"\x01\x01\x11\x00")
    sos = segment(0xDA, b"\x01\x01\x00\x00\x3f\x00")
    return b"\xff\xd8" + DQT + sof + DHT + sos + bytes(1200) + b"\xff\xd9"


def many_scans(count):
    sof = segment(0xC2, b"\x08" + struct.pack(">HH", 1024, 1024) + b"\x01\x01\x11\x00")
    scan = segment(0xDA, b"\x01\x01\x00\x00\x00\x00") + b"\x00"
    return b"\xff\xd8" + DQT + sof + DHT + scan * count + b"\xff\xd9"


class BitWriter:
    """Entropy-coded data: bits from the most significant on, a 00 stuffed after each FF byte,
    the last byte filled with ones."""

    def __init__(self):
        self.out = bytearray()
        self.bits = 0
        self.count = 0

    def put(self, value, length):
        for i in reversed(range(length)):
            self.bits = self.bits << 1 | (value >> i) & 1
            self.count += 1
            if self.count == 8:
                self.flush_byte()

    def flush_byte(self):
        self.out.append(self.bits)
        if self.bits == 0xFF:
            self.out.append(0)
        self.bits = self.count = 0

    def done(self):
        if self.count:
            self.put(0xFF, 8 - self.count)
        return bytes(self.out)


def much_work():
    """Every coefficient of a 10000 x 10000 grey picture coded in its own scan at every bit
    position: a DC scan, then for each of the 63 AC coefficients a first scan at bit 13 and 13
    refinements, each scan a few end-of-block runs over all 1,562,500 blocks."""
    size = 10000
    blocks = (size // 8) ** 2
    sof = segment(0xC2, b"\x08" + struct.pack(">HH", size, size) + b"\x01\x01\x11\x00")
    # DC: the 1-bit code 0 is a difference of 0. AC: the 1-bit code 0 is an end-of-block run of
    # 2^14 blocks plus 14 more bits.
    dht = segment(0xC4, b"\x00\x01" + bytes(15) + b"\x00" + b"\x10\x01" + bytes(15) + b"\xe0")
    dc = BitWriter()
    dc.put(0, blocks)
    scans = [segment(0xDA, b"\x01\x01\x00\x00\x00\x00") + dc.done()]
    runs = BitWriter()
    left = blocks
    while left:
        run = min(left, (1 << 15) - 1)
        runs.put(0, 1)
        runs.put(run - (1 << 14), 14)
        left -= run
    ac = runs.done()
    for k in range(1, 64):
        for ah, al in [(0, 13)] + [(a, a - 1) for a in range(13, 0, -1)]:
            scans.append(segment(0xDA, b"\x01\x01\x00" + bytes([k, k, ah << 4 | al])) + ac)
    return b"\xff\xd8" + DQT + sof + dht + b"".join(scans) + b"\xff\xd9"


def main():
    source, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    names = sorted(n for n in os.listdir(source) if n.endswith(".jpg"))
    originals = {n[:-4]: open(os.path.join(source, n), "rb").read() for n in names}
    stems = list(originals)
    for i, stem in enumerate(stems):
        other = originals[stems[(i + 1) % len(stems)]]
        for kind, data in damaged_variants(originals[stem], other).items():
            with open(os.path.join(out, "%s-%s.jpg" % (stem, kind)), "wb") as f:
                f.write(data)
    with open(os.path.join(out, "hostile-huge-declared.jpg"), "wb") as f:
        f.write(huge_declared())
    with open(os.path.join(out, "hostile-many-scans.jpg"), "wb") as f:
        f.write(many_scans(50000))
    with open(os.path.join(out, "hostile-much-work.jpg"), "wb") as f:
        f.write(much_work())


if __name__ == "__main__":
    main()
