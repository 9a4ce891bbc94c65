#!/usr/bin/env python3
"""Generates the sample release: resources/sample/files/ and resources/sample/release.manifest.

The sample has the shape of a real product release (67 files: 23 in the product folder, 44
drawings in two sub-folders of Sample\\ with Japanese names) but contents of our own, made by a
seeded generator, so the same script always writes the same bytes. Run it from anywhere; it
replaces what is there. Its output is committed, and the build packs it with zarpo-pack.
"""

import datetime
import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.path.join(HERE, "sample")
FILES = os.path.join(SAMPLE, "files")


class Generator:
    """xorshift32: small, and the same in every Python version."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF or 1

    def next(self):
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return x

    def below(self, n):
        return self.next() % n


SYMBOLS = [
    "OpenDocument", "CloseDocument", "DrawLine", "DrawArc", "DrawText", "FillRegion", "SetLayer",
    "GetLayer", "LoadFont", "MeasureText", "TransformPoint", "InvertMatrix", "ReadBlock",
    "WriteBlock", "PrintPage", "PreviewPage", "ScaleView", "PanView", "HitTest", "SnapToGrid",
    "ConvertUnits", "ParseNumber", "FormatNumber", "AllocBuffer", "FreeBuffer", "LockView",
]


def module_bytes(seed, size):
    """A module-like file: a small header, symbol tables and lightly random code-like bytes."""
    g = Generator(seed)
    out = bytearray(b"ZMOD" + seed.to_bytes(4, "little") + size.to_bytes(4, "little"))
    while len(out) < size:
        kind = g.below(8)
        if kind == 0:
            name = SYMBOLS[g.below(len(SYMBOLS))]
            out += name.encode("ascii") + b"\0" + g.below(65536).to_bytes(2, "little")
        elif kind == 1:
            out += bytes(g.below(256) for _ in range(4))
        else:
            op = g.below(4)
            out += bytes([0x50 + op, 0x8B, 0x45, g.below(4) * 4, 0xE8, 0, 0, 0, 0])
    return bytes(out[:size])


def drawing_bytes(seed, size, title):
    """A drawing-like file: a header with its title, then lines of coordinates."""
    g = Generator(seed)
    out = bytearray("ZDRW 1.0\r\nTITLE ".encode("ascii") + title.encode("cp932") + b"\r\n")
    while len(out) < size:
        shape = ("LINE", "ARC", "TEXT", "CIRCLE")[g.below(4)]
        coords = " ".join("%d.%d" % (g.below(100) * 10, g.below(4) * 25) for _ in range(4))
        out += ("%s %s LAYER %d\r\n" % (shape, coords, g.below(8))).encode("ascii")
    return bytes(out[:size])


def stamp(dt):
    return dt.strftime("%Y-%m-%dT%H:%M:%SZ")


def main():
    entries = []  # (attributes, name with backslashes, bytes, time)
    release = datetime.datetime(2026, 3, 1, 9, 0, 0)

    programs = [("Zarpo.exe", 0x21, 24000), ("Setup.exe", 0x21, 9000),
                ("ZarpoView.exe", 0x27, 12000), ("ZarpoConv.exe", 0x27, 7000)]
    modules = ["ZarpoCore.dll", "ZarpoDraw.dll", "ZarpoPrint.dll", "ZarpoText.dll",
               "ZarpoFont.dll", "ZarpoImage.dll", "ZarpoMath.dll", "ZarpoCad.dll", "ZarpoIO.dll",
               "ZarpoNet.dll", "ZarpoGrid.ocx", "ZarpoTree.ocx", "ZarpoTool.ocx", "ZarpoMenu.ocx",
               "Zarpo.dat", "ZarpoFont.dat", "ZarpoSym.dat", "ZarpoMsg.dat", "ZarpoHelp.dat"]
    for index, (name, attributes, size) in enumerate(programs):
        time = release + datetime.timedelta(seconds=2 * index)
        entries.append((attributes, name, module_bytes(100 + index, size), time))
    for index, name in enumerate(modules):
        time = release - datetime.timedelta(days=3 * index, seconds=2 * index)
        size = 2500 + Generator(200 + index).below(5000)
        entries.append((0x27, name, module_bytes(200 + index, size), time))

    # Two drawing folders. 表 (0x95 0x5C) and 構 (0x8D 0x5C) end in the byte of a backslash.
    folders = [
        ("表紙図面",
         ["表紙%02d" % i for i in range(1, 19)] + ["構造図%02d" % i for i in range(1, 5)]),
        ("平面詳細図",
         ["平面図%02d" % i for i in range(1, 19)] + ["構造詳細%02d" % i for i in range(1, 5)]),
    ]
    drawn = datetime.datetime(2025, 11, 4, 14, 30, 0)
    seed = 1000
    for folder, titles in folders:
        for title in titles:
            seed += 1
            size = 2000 + Generator(seed).below(4000)
            time = drawn + datetime.timedelta(hours=seed % 97, seconds=2 * (seed % 29))
            name = "Sample\\%s\\%s.dwg" % (folder, title)
            entries.append((0x20, name, drawing_bytes(seed, size, title), time))

    if os.path.isdir(FILES):
        shutil.rmtree(FILES)
    for _, name, data, _ in entries:
        path = os.path.join(FILES, *name.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    width = max(len(name) for _, name, _, _ in entries)
    with open(os.path.join(SAMPLE, "release.manifest"), "w", encoding="utf-8", newline="\n") as f:
        f.write("""\
# The sample release, in the order the package stores it. Generated by
# resources/make-sample-release.py; edit that script, not this file.
#
# One entry per line:  ATTRIBUTES  NAME  [TIME]
#   ATTRIBUTES  0x and 1 to 8 hex digits: the FILE_ATTRIBUTE_* bits the entry is written with
#   NAME        the name below the product folder, levels separated by backslashes; the file
#               is read from files/ with slashes in their place; UTF-8 here, code page 932 in
#               the package (at most 250 bytes there)
#   TIME        last-write time in UTC, YYYY-MM-DDThh:mm:ss[.fffffff]Z; without it the file's
#               own modification time is taken (git does not keep those, so every entry here
#               has one, on a whole even second)
# Fields are separated by spaces or tabs; blank lines and lines starting with # are skipped.
""")
        for attributes, name, _, time in entries:
            f.write("0x%02X  %s  %s\n" % (attributes, name.ljust(width), stamp(time)))
    total = sum(len(data) for _, _, data, _ in entries)
    print("%d entries, %d bytes" % (len(entries), total))
    return 0


if __name__ == "__main__":
    sys.exit(main())
