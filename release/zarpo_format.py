"""The update package's layout in Python, as package/format.h lays it out: a 12-byte header
(stored length, unpacked length, CRC-32 of the unpacked data; little-endian), then a zlib stream
of stored length - 12 bytes, which inflates to a plain run of entries: a 20-byte entry header
(data length, attributes, last-write FILETIME, name length), the name (code page 932,
backslashes between levels, no NUL), the file's bytes.

The one place the scripts spell it: describe_package.py beside it, and through PYTHONPATH the
test and benchmark scripts. Standard library only.
"""
import calendar
import os
import struct
import zlib

# Stored length (this header included), unpacked length, CRC-32 (zlib's, initial value 0).
PACKAGE_HEADER = struct.Struct("<III")
# Data length, attributes, last write (FILETIME, low half first), name length.
ENTRY_HEADER = struct.Struct("<IIQI")
# 1970-01-01 as a FILETIME (100 ns steps since 1601-01-01).
EPOCH_AS_FILETIME = 116444736000000000


class PackageEntry:
    def __init__(self, name, data, attributes=0x20, last_write=0):
        self.name = name                # code page 932 bytes, backslashes between levels
        self.data = data
        self.attributes = attributes
        self.last_write = last_write    # FILETIME as an integer

    def linux_path(self, folder):
        return os.path.join(folder, *self.name.decode("cp932").split("\\"))


def build_package(entries, level=9):
    unpacked = b"".join(ENTRY_HEADER.pack(len(e.data), e.attributes, e.last_write, len(e.name))
                        + e.name + e.data for e in entries)
    stream = zlib.compress(unpacked, level)
    return PACKAGE_HEADER.pack(PACKAGE_HEADER.size + len(stream), len(unpacked),
                               zlib.crc32(unpacked)) + stream


def inflate(data):
    """The unpacked run of entries of a package, unchecked (zlib.error when it does not
    inflate)."""
    stored = struct.unpack_from("<I", data, 0)[0]
    return zlib.decompress(data[PACKAGE_HEADER.size:stored])


def entry_headers(unpacked):
    """(offset of the header, data length, attributes, last write, name length) of each entry
    along a run of entries, as long as a whole header is left; the lengths are not checked."""
    offset = 0
    while offset + ENTRY_HEADER.size <= len(unpacked):
        size, attributes, last_write, name_length = ENTRY_HEADER.unpack_from(unpacked, offset)
        yield offset, size, attributes, last_write, name_length
        offset += ENTRY_HEADER.size + name_length + size


def read_package(data):
    """The entries of a well-formed package."""
    stored, length, checksum = PACKAGE_HEADER.unpack_from(data)
    unpacked = zlib.decompress(data[PACKAGE_HEADER.size:stored])
    if len(unpacked) != length or zlib.crc32(unpacked) != checksum:
        raise ValueError("package fails its checks")
    entries, end = [], 0
    for offset, size, attributes, last_write, name_length in entry_headers(unpacked):
        name_at = offset + ENTRY_HEADER.size
        data_at = name_at + name_length
        entries.append(PackageEntry(unpacked[name_at:data_at],
                                    unpacked[data_at:data_at + size], attributes, last_write))
        end = data_at + size
    if end < len(unpacked):
        ENTRY_HEADER.unpack_from(unpacked, end)  # a piece of a header: struct.error
    return entries


def filetime(year, month, day, hour=0, minute=0, second=0):
    """FILETIME of a UTC time."""
    seconds = calendar.timegm((year, month, day, hour, minute, second, 0, 0, 0))
    return seconds * 10_000_000 + EPOCH_AS_FILETIME
