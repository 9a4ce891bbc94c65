// The update package's layout: the resource header and the entry header, as the reader walks
// them and the packer writes them, and the reading and writing of their fields. The one place
// that spells it.
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

// A little-endian DWORD, byte by byte: neither the host's byte order nor the alignment of `at`
// matters.
inline DWORD ReadLe32(const BYTE* at) {
  return (DWORD)at[0] | ((DWORD)at[1] << 8) | ((DWORD)at[2] << 16) | ((DWORD)at[3] << 24);
}

inline void WriteLe32(BYTE* at, DWORD value) {
  for (int i = 0; i < 4; i++) at[i] = (BYTE)(value >> (8 * i));
}

// The headers' fields from and to their bytes: PackageHeaderSize or EntryHeaderSize bytes at
// `at`, which the caller has checked are there.
inline PackageHeader ReadPackageHeader(const BYTE* at) {
  PackageHeader header;
  header.StoredLength = ReadLe32(at + StoredLengthAt);
  header.UnpackedLength = ReadLe32(at + UnpackedLengthAt);
  header.Checksum = ReadLe32(at + ChecksumAt);
  return header;
}

inline void WritePackageHeader(BYTE* at, const PackageHeader& header) {
  WriteLe32(at + StoredLengthAt, header.StoredLength);
  WriteLe32(at + UnpackedLengthAt, header.UnpackedLength);
  WriteLe32(at + ChecksumAt, header.Checksum);
}

inline EntryHeader ReadEntryHeader(const BYTE* at) {
  EntryHeader header;
  header.DataLength = ReadLe32(at + DataLengthAt);
  header.Attributes = ReadLe32(at + AttributesAt);
  header.LastWrite.dwLowDateTime = ReadLe32(at + LastWriteAt);
  header.LastWrite.dwHighDateTime = ReadLe32(at + LastWriteAt + 4);
  header.NameLength = ReadLe32(at + NameLengthAt);
  return header;
}

inline void WriteEntryHeader(BYTE* at, const EntryHeader& header) {
  WriteLe32(at + DataLengthAt, header.DataLength);
  WriteLe32(at + AttributesAt, header.Attributes);
  WriteLe32(at + LastWriteAt, header.LastWrite.dwLowDateTime);
  WriteLe32(at + LastWriteAt + 4, header.LastWrite.dwHighDateTime);
  WriteLe32(at + NameLengthAt, header.NameLength);
}
