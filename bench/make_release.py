#!/usr/bin/env python3
"""Generates full-size synthetic releases for the benchmark: files/ and release.manifest.

Shapes (--shape):
  1x      the 67 entries of the sample release (same names, attributes, folders and times),
          33,243,206 bytes unpacked (entry headers and names included), the largest entry
          9,885,184 bytes
  2x, 4x  the same 67 entries, every size scaled, unpacked length exactly 2x and 4x
  10000   10,000 small entries (the 23 program files and 9,977 drawings in four folders),
          the same 33,243,206 bytes unpacked, so that per-entry costs stand out

Contents are our own: runs of structured records (code-like for programs, coordinate lines for
drawings) broken by random bytes, in proportions that zlib level 9 packs about 4:1, as it does
real programs and drawings. Everything comes from seeded generators, so the same shape always
gives the same bytes. The packer makes the package: zarpo-pack pack --root OUT/files
--manifest OUT/release.manifest --output OUT/package.bin
"""

import argparse
import datetime
import os
import random
import shutil
import sys

import zarpo_format

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE_MANIFEST = os.path.join(HERE, "..", "resources", "sample", "release.manifest")

UNPACKED_LENGTH = 33243206
LARGEST_ENTRY = 9885184
ENTRY_HEADER = zarpo_format.ENTRY_HEADER.size
SHAPES = ("1x", "2x", "4x", "10000")

# Byte share of random runs that brings each kind of content to about 4:1 at zlib level 9.
RANDOM_SHARE = {"program": 0.035, "drawing": 0.14}


def sample_entries():
    """(attributes, name, time text) of the sample release, in stored order."""
    entries = []
    with open(SAMPLE_MANIFEST, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            fields = line.split()
            entries.append((int(fields[0], 16), fields[1], fields[2]))
    return entries


def kind_of(name):
    return "drawing" if name.lower().endswith(".dwg") else "program"


def overhead(names):
    """Bytes the entry headers and code page 932 names add to the unpacked length."""
    return sum(ENTRY_HEADER + len(name.encode("cp932")) for name in names)


def spread(total, weights):
    """Splits `total` in proportion to `weights`; the rounding rest goes to the first share."""
    whole = sum(weights)
    shares = [total * w // whole for w in weights]
    shares[0] += total - sum(shares)
    return shares


def sizes_1x(names):
    """Data lengths for the 67 sample names: the main program is the largest entry, the other
    programs and data files share about two thirds of the rest, the drawings the remainder."""
    rng = random.Random(67)
    data = UNPACKED_LENGTH - overhead(names)
    rest = data - LARGEST_ENTRY
    weights = []
    for name in names[1:]:
        if kind_of(name) == "program":
            weights.append(rng.randrange(3000, 30000))
        else:
            weights.append(rng.randrange(400, 1200))
    return [LARGEST_ENTRY] + spread(rest, weights)


def release_entries(shape):
    """[(attributes, name, time text, data length, seed)] for a shape, in stored order."""
    sample = sample_entries()
    if shape in ("1x", "2x", "4x"):
        factor = int(shape[0])
        names = [name for _, name, _ in sample]
        sizes = [size * factor for size in sizes_1x(names)]
        # Headers and names do not grow with the factor; the second entry takes up the rest.
        sizes[1] += (factor - 1) * overhead(names)
        return [(a, n, t, s, i + 1) for i, ((a, n, t), s) in enumerate(zip(sample, sizes))]

    programs = [entry for entry in sample if kind_of(entry[1]) == "program"]
    folders = ["Sample\\表紙図面", "Sample\\平面詳細図", "Sample\\構造詳細図", "Sample\\設備図面"]
    drawings = []
    drawn = datetime.datetime(2025, 11, 4, 14, 30, 0)
    rng = random.Random(10000)
    count = 10000 - len(programs)
    for i in range(count):
        folder = folders[i * len(folders) // count]
        time = drawn + datetime.timedelta(seconds=2 * rng.randrange(40_000_000))
        drawings.append((0x20, "%s\\図面%05d.dwg" % (folder, i + 1),
                         time.strftime("%Y-%m-%dT%H:%M:%SZ")))
    entries = programs + drawings
    names = [name for _, name, _ in entries]
    weights = [rng.randrange(1000, 5600) for _ in entries]
    sizes = spread(UNPACKED_LENGTH - overhead(names), weights)
    return [(a, n, t, s, i + 1) for i, ((a, n, t), s) in enumerate(zip(entries, sizes))]


POOLS = {}


def records(kind, number):
    """Pool `number` (0 to 3) of 400 structured records of one kind. Four pools per kind keep
    files from being copies of one another without building a pool for each small file."""
    key = (kind, number)
    if key not in POOLS:
        POOLS[key] = make_records(kind, random.Random(0x5A5A5A + 16 * number + (kind == "drawing")))
    return POOLS[key]


def make_records(kind, rng):
    pool = []
    if kind == "drawing":
        for _ in range(400):
            shape = rng.choice(("LINE", "ARC", "TEXT", "CIRCLE"))
            coords = " ".join("%d.%d" % (rng.randrange(1000), rng.randrange(4) * 25)
                              for _ in range(4))
            pool.append(("%s %s LAYER %d\r\n" % (shape, coords, rng.randrange(8))).encode())
    else:
        symbols = [b"OpenDocument", b"DrawLine", b"ReadBlock", b"WriteBlock", b"PrintPage",
                   b"ScaleView", b"HitTest", b"SnapToGrid"]
        for _ in range(400):
            record = bytes([0x50 + rng.randrange(4), 0x8B, 0x45, rng.randrange(4) * 4, 0xE8])
            record += rng.randbytes(2) + b"\0\0"
            if rng.randrange(4) == 0:
                record += rng.choice(symbols) + b"\0"
            pool.append(record)
    return pool


def contents(kind, seed, size):
    """`size` bytes of one kind: runs of 4 to 23 records, each followed by random bytes."""
    rng = random.Random(seed)
    pool = records(kind, seed % 4)
    share = RANDOM_SHARE[kind]
    parts = []
    length = 0
    while length < size:
        run = b"".join(pool[rng.randrange(len(pool))] for _ in range(rng.randrange(4, 24)))
        noise = rng.randbytes(int(len(run) * share / (1 - share)))
        parts += (run, noise)
        length += len(run) + len(noise)
    return b"".join(parts)[:size]


MANIFEST_HEADER = """\
# A synthetic release for the benchmark ({shape}), in the order the package stores it.
# Generated by bench/make_release.py; see resources/sample/release.manifest for the
# grammar. One entry per line:  ATTRIBUTES  NAME  TIME
"""


def write_release(shape, out):
    """Writes OUT/files/ and OUT/release.manifest; answers (entries, unpacked length)."""
    entries = release_entries(shape)
    files = os.path.join(out, "files")
    if os.path.isdir(files):
        shutil.rmtree(files)
    for _, name, _, size, seed in entries:
        path = os.path.join(files, *name.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(contents(kind_of(name), seed, size))
    with open(os.path.join(out, "release.manifest"), "w", encoding="utf-8", newline="\n") as f:
        f.write(MANIFEST_HEADER.format(shape=shape))
        for attributes, name, time, _, _ in entries:
            f.write("0x%02X  %s  %s\n" % (attributes, name, time))
    names = [name for _, name, _, _, _ in entries]
    return len(entries), overhead(names) + sum(size for _, _, _, size, _ in entries)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--shape", choices=SHAPES, required=True)
    parser.add_argument("--out", required=True, help="folder to write files/ and the manifest")
    args = parser.parse_args(argv)
    os.makedirs(args.out, exist_ok=True)
    count, unpacked = write_release(args.shape, args.out)
    print("%s: %d entries, %d bytes unpacked" % (args.shape, count, unpacked))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
