// The update package's layout: the resource header and the entry header, as the reader walks
// them and the packer writes them. The one place that spells it.
//
// Resource layout: PackageHeader (12 bytes: stored length, unpacked length, CRC-32 of the
// unpacked data; little-endian), then a zlib stream of stored length - 12 bytes. The unpacked
// data is a plain run of entries: EntryHeader (20 bytes), the name (code page 932, backslashes
// between levels, no NUL), the file's bytes.
#pragma once

#include "fs/entry.h"
#include "platform/platform.h"

const DWORD PackageHeaderSize = 12;
const DWORD EntryHeaderSize = 20;

// Where each field lies: little-endian DWORDs (the time two of them, low half first).
enum PackageHeaderField { StoredLengthAt = 0, UnpackedLengthAt = 4, ChecksumAt = 8 };
enum EntryHeaderField { DataLengthAt = 0, AttributesAt = 4, LastWriteAt = 8, NameLengthAt = 16 };

struct PackageHeader {
  DWORD StoredLength;    // the whole resource data, these 12 bytes included
  DWORD UnpackedLength;  // exactly what the stream inflates to
  DWORD Checksum;        // CRC-32 of the unpacked data (zlib crc32, initial value 0)
};

// EntryHeader, the entry header's fields as a record, is in fs/entry.h: the file-system
// helpers read it too.

