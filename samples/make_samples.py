#!/usr/bin/env python3
"""Writes the sample photos of the Quick start into the folder of this script.

Each photo is a small baseline JPEG (128x96, YCbCr 4:4:4) drawn from flat 8x8
blocks, with a JFIF header and an EXIF block holding the camera fields and,
for all but one photo, a GPS position. Python 3 standard library only; the
output is the same, byte for byte, on every run.
"""

import os
import struct

WIDTH, HEIGHT = 128, 96
COLS, ROWS = WIDTH // 8, HEIGHT // 8

# Zig-zag position -> natural (row-major) index of an 8x8 block.
ZIGZAG = [
    0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6, 7, 14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
]

# The example quantisation tables of ITU-T T.81 Annex K, in natural order.
LUMA_QUANT = [
    16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55,
    14, 13, 16, 24, 40, 57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62,
    18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99,
]
CHROMA_QUANT = [
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
] + [99] * 32

# A DC step of 8 makes the quantised DC value of a flat block equal to its
# level-shifted sample, so every block decodes to exactly the colour asked for.
DC_QUANT = 8


def _ac_values(prefix):
    # Past its irregular head, each example AC table lists the remaining
    # run/size symbols in ascending order.
    every = {0x00, 0xF0} | {(run << 4) | size for run in range(16) for size in range(1, 11)}
    values = list(prefix) + sorted(every - set(prefix))
    assert len(values) == 162 and set(values) == every
    return values


# The example Huffman tables of ITU-T T.81 Annex K:
# (class and id, code counts for lengths 1..16, symbols).
DC_LUMA = (0x00, [0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0], list(range(12)))
DC_CHROMA = (0x01, [0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0], list(range(12)))
AC_LUMA = (0x10, [0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D], _ac_values([
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13,
    0x51, 0x61, 0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xA1, 0x08, 0x23, 0x42,
    0xB1, 0xC1, 0x15, 0x52, 0xD1, 0xF0, 0x24, 0x33, 0x62, 0x72, 0x82,
]))
AC_CHROMA = (0x11, [0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77], _ac_values([
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51,
    0x07, 0x61, 0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xA1, 0xB1,
    0xC1, 0x09, 0x23, 0x33, 0x52, 0xF0, 0x15, 0x62, 0x72, 0xD1, 0x0A, 0x16, 0x24,
    0x34, 0xE1, 0x25, 0xF1,
]))


def huffman_codes(table):
    """Canonical codes, as T.81 Annex C assigns them: symbol -> (code, length)."""
    _, counts, symbols = table
    codes, code, k = {}, 0, 0
    for length in range(1, 17):
        for _ in range(counts[length - 1]):
            codes[symbols[k]] = (code, length)
            code += 1
            k += 1
        code <<= 1
    return codes


class BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.nbits = 0

    def put(self, value, length):
        for i in range(length - 1, -1, -1):
            self.acc = (self.acc << 1) | ((value >> i) & 1)
            self.nbits += 1
            if self.nbits == 8:
                self._emit()

    def _emit(self):
        self.out.append(self.acc)
        if self.acc == 0xFF:
            self.out.append(0x00)  # a data 0xFF must not read as a marker
        self.acc = 0
        self.nbits = 0

    def flush(self):
        while self.nbits:
            self.put(1, 1)  # pad the last byte with one-bits
        return bytes(self.out)


def encode_scan(blocks):
    """blocks: rows x cols of (Y, Cb, Cr) levels 0..255, one per 8x8 block."""
    dc = [huffman_codes(DC_LUMA), huffman_codes(DC_CHROMA), huffman_codes(DC_CHROMA)]
    eob = [huffman_codes(AC_LUMA)[0x00], huffman_codes(AC_CHROMA)[0x00],
           huffman_codes(AC_CHROMA)[0x00]]
    pred = [0, 0, 0]
    bits = BitWriter()
    for row in blocks:
        for levels in row:  # one MCU: a Y, a Cb and a Cr block
            for comp in range(3):
                value = levels[comp] - 128
                diff = value - pred[comp]
                pred[comp] = value
                category = abs(diff).bit_length()
                bits.put(*dc[comp][category])
                if category:
                    # Negative differences are sent as diff - 1 in category bits.
                    extra = diff if diff > 0 else diff + (1 << category) - 1
                    bits.put(extra, category)
                bits.put(*eob[comp])
    return bits.flush()


def segment(marker, payload):
    return struct.pack(">BBH", 0xFF, marker, len(payload) + 2) + payload


def dqt():
    body = b""
    for ident, table in ((0, LUMA_QUANT), (1, CHROMA_QUANT)):
        zz = [table[ZIGZAG[i]] for i in range(64)]
        zz[0] = DC_QUANT
        body += bytes([ident]) + bytes(zz)
    return segment(0xDB, body)


def dht():
    body = b""
    for ident, counts, symbols in (DC_LUMA, AC_LUMA, DC_CHROMA, AC_CHROMA):
        body += bytes([ident]) + bytes(counts) + bytes(symbols)
    return segment(0xC4, body)


def sof0():
    body = struct.pack(">BHHB", 8, HEIGHT, WIDTH, 3)
    body += bytes([1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1])
    return segment(0xC0, body)


def sos():
    body = bytes([3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0])
    return segment(0xDA, body)


def app0_jfif():
    return segment(0xE0, b"JFIF\0" + struct.pack(">BBBHHBB", 1, 1, 1, 72, 72, 0, 0))


# --- EXIF -------------------------------------------------------------------

BYTE, ASCII, SHORT, LONG, RATIONAL, UNDEFINED = 1, 2, 3, 4, 5, 7
TYPE_SIZE = {BYTE: 1, ASCII: 1, SHORT: 2, LONG: 4, RATIONAL: 8, UNDEFINED: 1}


def pack_value(order, kind, values):
    if kind == ASCII:
        return values.encode("ascii") + b"\0", len(values) + 1
    if kind in (BYTE, UNDEFINED):
        data = bytes(values)
        return data, len(data)
    if kind == SHORT:
        return b"".join(struct.pack(order + "H", v) for v in values), len(values)
    if kind == LONG:
        return b"".join(struct.pack(order + "I", v) for v in values), len(values)
    if kind == RATIONAL:
        return b"".join(struct.pack(order + "II", n, d) for n, d in values), len(values)
    raise ValueError(kind)


def ifd_size(entries, order):
    size = 2 + 12 * len(entries) + 4
    for _, kind, values in entries:
        data, _ = pack_value(order, kind, values)
        if len(data) > 4:
            size += len(data) + (len(data) & 1)
    return size


def build_ifd(entries, order, offset):
    """One directory at `offset` in the TIFF block, its long values right after it."""
    entries = sorted(entries, key=lambda e: e[0])
    head = struct.pack(order + "H", len(entries))
    data_offset = offset + 2 + 12 * len(entries) + 4
    data = b""
    for tag, kind, values in entries:
        raw, count = pack_value(order, kind, values)
        if len(raw) <= 4:
            field = raw.ljust(4, b"\0")
        else:
            field = struct.pack(order + "I", data_offset + len(data))
            data += raw + b"\0" * (len(raw) & 1)
        head += struct.pack(order + "HHI", tag, kind, count) + field
    head += struct.pack(order + "I", 0)  # no linked directory
    return head + data


def dms(degrees, minutes, hundredths_of_seconds):
    return [(degrees, 1), (minutes, 1), (hundredths_of_seconds, 100)]


def app1_exif(photo):
    order = "<" if photo["order"] == "II" else ">"
    ifd0 = [
        (271, ASCII, "pinreel"),
        (272, ASCII, "make_samples.py"),
        (274, SHORT, [1]),
        (282, RATIONAL, [(72, 1)]),
        (283, RATIONAL, [(72, 1)]),
        (296, SHORT, [2]),
        (531, SHORT, [1]),
        (34665, LONG, [0]),
    ]
    exif = [
        (36864, UNDEFINED, list(b"0232")),
        (36867, ASCII, photo["taken"]),
        (37121, UNDEFINED, [1, 2, 3, 0]),
        (40960, UNDEFINED, list(b"0100")),
        (40961, SHORT, [1]),
        (40962, LONG, [WIDTH]),
        (40963, LONG, [HEIGHT]),
    ]
    gps = None
    if photo.get("lat"):
        (lat_ref, *lat), (lon_ref, *lon) = photo["lat"], photo["lon"]
        below, altitude = photo["alt"]
        gps = [
            (0, BYTE, [2, 3, 0, 0]),
            (1, ASCII, lat_ref),
            (2, RATIONAL, dms(*lat)),
            (3, ASCII, lon_ref),
            (4, RATIONAL, dms(*lon)),
            (5, BYTE, [below]),
            (6, RATIONAL, [altitude]),
        ]
        ifd0.append((34853, LONG, [0]))

    # The pointer values do not change any size, so lay out first, then fill in.
    exif_offset = 8 + ifd_size(ifd0, order)
    gps_offset = exif_offset + ifd_size(exif, order)
    ifd0 = [(t, k, [exif_offset] if t == 34665 else [gps_offset] if t == 34853 else v)
            for t, k, v in ifd0]
    tiff = (b"II" if order == "<" else b"MM") + struct.pack(order + "HI", 42, 8)
    tiff += build_ifd(ifd0, order, 8)
    tiff += build_ifd(exif, order, exif_offset)
    if gps:
        tiff += build_ifd(gps, order, gps_offset)
    return segment(0xE1, b"Exif\0\0" + tiff)


# --- Pictures ---------------------------------------------------------------

def ycbcr(rgb):
    r, g, b = rgb
    y = 0.299 * r + 0.587 * g + 0.114 * b
    cb = -0.168736 * r - 0.331264 * g + 0.5 * b + 128
    cr = 0.5 * r - 0.418688 * g - 0.081312 * b + 128
    return tuple(max(0, min(255, int(round(v)))) for v in (y, cb, cr))


def sky(y, top, bottom, rows):
    t = min(1.0, y / max(1, rows - 1))
    return tuple(int(round(a + (b - a) * t)) for a, b in zip(top, bottom))


def harbour(x, y):
    # Sails on the point, the quay, the water.
    if y >= 9:
        return (20, 60, 120) if (x + y) % 3 else (40, 90, 150)
    if y == 8:
        return (120, 120, 115)
    sails = {(4, 5), (5, 4), (5, 5), (6, 5), (7, 3), (7, 4), (7, 5), (8, 4), (8, 5),
             (9, 5), (10, 4), (10, 5), (11, 5)}
    if (x, y) in sails:
        return (245, 240, 225)
    if y in (6, 7) and 3 <= x <= 12:
        return (190, 150, 110)
    return sky(y, (70, 140, 220), (180, 215, 245), 8)


def summit(x, y):
    peak = 2 + abs(x - 8) * 0.75
    if y >= peak:
        if y < peak + 2 or y >= 10:
            return (250, 250, 252)
        return (110, 105, 100) if (x + y) % 2 else (135, 128, 120)
    return sky(y, (20, 60, 160), (120, 170, 230), 10)


def deadsea(x, y):
    if y >= 9:
        return (235, 230, 215) if (x * 7 + y) % 5 else (255, 255, 250)
    if y >= 5:
        return (60, 170, 170) if y % 2 else (90, 190, 185)
    if y >= 3 and y >= 4 - (x % 5) // 2:
        return (170, 110, 80)
    return sky(y, (150, 180, 210), (230, 215, 190), 5)


def times_square(night):
    heights = [3, 2, 4, 1, 2, 3, 1, 2, 4, 3, 2, 1, 3, 2, 4, 2]
    signs = {(1, 4): (230, 30, 40), (2, 6): (250, 200, 20), (4, 3): (30, 200, 230),
             (6, 5): (230, 30, 40), (7, 2): (40, 220, 90), (10, 4): (250, 200, 20),
             (12, 6): (200, 40, 200), (13, 3): (30, 200, 230), (9, 7): (250, 120, 20),
             (8, 7): (20, 20, 20)}  # a screen switched off

    def draw(x, y):
        if y >= 10:
            if y == 10 and x % 4 == 1:
                return (250, 200, 0)  # taxis
            return (40, 40, 45) if night else (110, 110, 115)
        if y < heights[x]:
            return sky(y, (5, 10, 40), (30, 30, 70), 4) if night else sky(
                y, (90, 150, 225), (170, 205, 240), 4)
        if (x, y) in signs:
            return signs[(x, y)]
        if night:
            return (60, 55, 70) if (x + y) % 2 else (35, 35, 45)
        return (150, 130, 115) if x % 2 else (120, 115, 120)

    return draw


def indoors(x, y):
    if y >= 9:
        return (120, 75, 40) if y == 9 else (90, 55, 30)
    if (x, y) == (11, 8):
        return (200, 30, 30)  # a mug on the table
    if 4 <= x <= 10 and 1 <= y <= 6:
        if x in (4, 7, 10) or y in (1, 6):
            return (240, 240, 235)
        return (150, 200, 240)
    return (225, 205, 170)


PHOTOS = [
    # name, scene, byte order, time taken, GPS: (ref, deg, min, sec x 100), (below, (num, den))
    dict(name="harbour.jpeg", scene=harbour, order="II", taken="2023:03:18 08:42:10",
         lat=("S", 33, 51, 2448), lon=("E", 151, 12, 5508), alt=(0, (4, 1))),
    dict(name="summit.jpg", scene=summit, order="MM", taken="2022:07:30 06:15:44",
         lat=("N", 45, 49, 5784), lon=("E", 6, 51, 5436), alt=(0, (480559, 100))),
    dict(name="deadsea.JPG", scene=deadsea, order="MM", taken="2021:11:02 15:03:27",
         lat=("N", 31, 12, 108), lon=("E", 35, 21, 4608), alt=(1, (430, 1))),
    dict(name="square.jpg", scene=times_square(False), order="II", taken="2024:05:11 13:20:05",
         lat=("N", 40, 45, 2880), lon=("W", 73, 59, 780), alt=(0, (10, 1))),
    dict(name="square_night.jpg", scene=times_square(True), order="MM",
         taken="2024:05:11 22:47:51",
         lat=("N", 40, 45, 2880), lon=("W", 73, 59, 780), alt=(0, (10, 1))),
    dict(name="indoors.jpg", scene=indoors, order="II", taken="2024:01:06 19:02:33"),
]


def jpeg(photo):
    blocks = [[ycbcr(photo["scene"](x, y)) for x in range(COLS)] for y in range(ROWS)]
    return (b"\xFF\xD8" + app0_jfif() + app1_exif(photo) + dqt() + sof0() + dht() + sos()
            + encode_scan(blocks) + b"\xFF\xD9")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    total = 0
    for photo in PHOTOS:
        data = jpeg(photo)
        with open(os.path.join(here, photo["name"]), "wb") as f:
            f.write(data)
        total += len(data)
    print("make_samples: wrote %d photos, %d bytes: %s"
          % (len(PHOTOS), total, " ".join(p["name"] for p in PHOTOS)))


if __name__ == "__main__":
    main()
