#!/usr/bin/env python3
"""Describes a package file in one line for the build's configure step: entries, size, SHA-256.

    describe_package.py FILE

Only a description: whether the updater would take the package is decided at build time by
`zarpo-pack verify`. A file that does not even inflate is described as such, exit 0.
Standard library only; the layout is read through zarpo_format.py, beside this script.
"""
import hashlib
import struct
import sys
import zlib

import zarpo_format


def describe(data):
    digest = hashlib.sha256(data).hexdigest()
    entries = "not a package"
    if len(data) >= zarpo_format.PACKAGE_HEADER.size:
        try:
            unpacked = zarpo_format.inflate(data)
            count = sum(1 for _ in zarpo_format.entry_headers(unpacked))
            entries = "%d entries" % count
        except (zlib.error, struct.error):
            pass
    return "%s, %d bytes, SHA-256 %s" % (entries, len(data), digest)


if __name__ == "__main__":
    with open(sys.argv[1], "rb") as f:
        print(describe(f.read()))
