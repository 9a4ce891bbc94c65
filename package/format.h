// The update package's layout: the resource header and the entry header, as the reader walks
// them and the comparison reads an entry.
//
// Resource layout: PackageHeader (12 bytes: stored length, unpacked length, CRC-32 of the
// unpacked data; little-endian), then a zlib stream of stored length - 12 bytes. The unpacked
// data is a plain run of entries: EntryHeader (20 bytes), the name (code page 932, backslashes
// between levels, no NUL), the file's bytes.
#pragma once

#include "platform/platform.h"

const DWORD PackageHeaderSize = 12;
const DWORD EntryHeaderSize = 20;

struct PackageHeader {
  DWORD StoredLength;    // the whole resource data, these 12 bytes included
  DWORD UnpackedLength;  // exactly what the stream inflates to
  DWORD Checksum;        // CRC-32 of the unpacked data (zlib crc32, initial value 0)
};

struct EntryHeader {
  DWORD DataLength;
  DWORD Attributes;  // FILE_ATTRIBUTE_* bits, applied unchanged
  FILETIME LastWrite;
  DWORD NameLength;
};

