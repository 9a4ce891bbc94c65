"""The benchmark's chart: grouped bars of the time of each phase per package, written as a PNG
with nothing but the standard library (zlib for the image data, a 5x7 bitmap font for labels),
so that the benchmark needs no plotting package."""

import struct
import zlib

# 5x7 glyphs, one string of 7 rows of 5 bits per character.
FONT = {
    "0": "01110100011001110101110011000101110", "1": "00100011000010000100001000010001110",
    "2": "01110100010000100010001000100011111", "3": "11111000100010000010000011000101110",
    "4": "00010001100101010010111110001000010", "5": "11111100001111000001000011000101110",
    "6": "00110010001000011110100011000101110", "7": "11111000010001000100010000100001000",
    "8": "01110100011000101110100011000101110", "9": "01110100011000101111000010001001100",
    "x": "00000000001000101010001000101010001", "m": "00000000001101010101101011000110001",
    "s": "00000000000111010000011100000111110", "a": "00000000000111000001011111000101111",
    "b": "10000100001011011001100011000111110", "c": "00000000000111010000100001000101110",
    "d": "00001000010110110011100011000101111", "e": "00000000000111010001111111000001110",
    "f": "00110010010100011100010000100001000", "h": "10000100001011011001100011000110001",
    "i": "00100000000110000100001000010001110", "l": "01100001000010000100001000010001110",
    "n": "00000000001011011001100011000110001", "o": "00000000000111010001100011000101110",
    "p": "00000000001111010001111101000010000", "r": "00000000001011011001100001000010000",
    "t": "01000010001110001000010000100100110", "u": "00000000001000110001100011001101101",
    "y": "00000000001000110001011110000101110", "k": "10000100001001010100110001010010010",
    "g": "00000011111000110001011110000101110", "w": "00000000001000110001101011010101010",
    "-": "00000000000000011111000000000000000", "(": "00010001000100001000010000010000010",
    ")": "01000001000001000010000100010001000", ".": "00000000000000000000000000110001100",
    " ": "00000000000000000000000000000000000", "/": "00000000010001000100010001000000000",
    "+": "00000001000010011111001000010000000", "z": "00000000001111100010001000100011111",
}

COLOURS = [(90, 90, 90), (31, 119, 180), (44, 160, 44), (255, 127, 14), (148, 103, 189),
           (214, 39, 40), (188, 189, 34)]
PHASES = [("floor", "(a) floor"), ("fresh", "(b) fresh"), ("rerun", "(c) rerun"),
          ("tar", "(d) tar -xzf"), ("copy", "(e) cp -a"), ("write", "(e2) write"),
          ("start", "start")]


class Canvas:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.pixels = bytearray(b"\xff" * (width * height * 3))

    def rect(self, x0, y0, x1, y1, colour):
        x0, x1 = max(0, min(x0, x1)), min(self.width, max(x0, x1))
        y0, y1 = max(0, min(y0, y1)), min(self.height, max(y0, y1))
        row = bytes(colour) * (x1 - x0)
        for y in range(y0, y1):
            start = (y * self.width + x0) * 3
            self.pixels[start:start + len(row)] = row

    def text(self, x, y, text, colour=(0, 0, 0), scale=2):
        for ch in text:
            glyph = FONT.get(ch, FONT[" "])
            for row in range(7):
                for col in range(5):
                    if glyph[row * 5 + col] == "1":
                        self.rect(x + col * scale, y + row * scale, x + (col + 1) * scale,
                                  y + (row + 1) * scale, colour)
            x += 6 * scale

    def png(self):
        raw = b"".join(b"\0" + bytes(self.pixels[y * self.width * 3:(y + 1) * self.width * 3])
                       for y in range(self.height))

        def chunk(kind, data):
            return (struct.pack(">I", len(data)) + kind + data +
                    struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
        return (b"\x89PNG\r\n\x1a\n" +
                chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def write_chart(path, results):
    """Bars of each phase's median time (ms) for each package in `results` (run.py's records)."""
    width, height = 1100, 420
    left, bottom, top = 70, 360, 60
    canvas = Canvas(width, height)
    canvas.text(left, 16, "time per phase (ms) per package")
    peak = max(r[key] for r in results for key, _ in PHASES)
    step = 10 ** len(str(int(peak * 1000))) / 10
    while peak * 1000 / step > 8:
        step *= 2
    scale = (bottom - top) / (peak * 1000)
    tick = 0
    while tick <= peak * 1000:
        y = bottom - int(tick * scale)
        canvas.rect(left - 4, y, width - 20, y + 1, (220, 220, 220))
        canvas.text(4, y - 7, "%d" % tick, scale=2)
        tick += step
    canvas.rect(left, top - 10, left + 1, bottom, (0, 0, 0))
    canvas.rect(left, bottom, width - 20, bottom + 1, (0, 0, 0))
    group = (width - 20 - left) // len(results)
    bar = (group - 20) // len(PHASES)
    for i, r in enumerate(results):
        x = left + 10 + i * group
        for j, (key, _) in enumerate(PHASES):
            canvas.rect(x + j * bar, bottom - int(r[key] * 1000 * scale), x + (j + 1) * bar - 2,
                        bottom, COLOURS[j])
        canvas.text(x, bottom + 10, "%s %d" % (r["shape"], r["entries"]), scale=2)
    x = left
    for j, (_, label) in enumerate(PHASES):
        canvas.rect(x, 40, x + 12, 52, COLOURS[j])
        canvas.text(x + 16, 40, label, scale=2)
        x += 16 + len(label) * 12 + 14
    with open(path, "wb") as f:
        f.write(canvas.png())
