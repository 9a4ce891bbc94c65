#!/usr/bin/env python3
"""Describes a package file in one line for the build's configure step: entries, size, SHA-256.

    describe_package.py FILE

Only a description: whether the updater would take the package is decided at build time by
`zarpo-pack verify`. A file that does not even inflate is described as such, exit 0.
Standard library only.
"""
import hashlib
import struct
import sys
import zlib


def describe(data):
    digest = hashlib.sha256(data).hexdigest()
    entries = "not a package"
    if len(data) >= 12:
        try:
            unpacked = zlib.decompress(data[12:struct.unpack_from("<I", data, 0)[0]])
            count, offset = 0, 0
            while offset + 20 <= len(unpacked):
                length, _, _, name_length = struct.unpack_from("<IIQI", unpacked, offset)
                offset += 20 + name_length + length
                count += 1
            entries = "%d entries" % count
        except (zlib.error, struct.error):
            pass
    return "%s, %d bytes, SHA-256 %s" % (entries, len(data), digest)


if __name__ == "__main__":
    with open(sys.argv[1], "rb") as f:
        print(describe(f.read()))
