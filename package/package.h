// The update package: the layout of the resource, opening it (find, inflate, verify) and walking
// its entries in stored order.
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

enum PackageOutcome { PackageMissing, PackageBad, PackageGood };

// The unpacked data. Owned by whoever opened it until ClosePackage.
struct Package {
  BYTE* Data;
  DWORD Length;
};

// Finds the ZIPFILE/UPDATE resource of `module` (NULL: the running program), inflates and
// verifies it. PackageMissing: nothing was allocated. PackageBad and PackageGood: the caller
// owns `package` and releases it with ClosePackage (its Data may be NULL when bad).
PackageOutcome OpenPackage(HMODULE module, Package* package);

// The same from resource bytes already in hand; `available` bounds every read.
PackageOutcome UnpackPackage(const BYTE* resource, DWORD available, Package* package);

// Releases the unpacked data; harmless on an empty package.
void ClosePackage(Package* package);

// An iterator over the entries of good unpacked data; entries are viewed in place.
struct EntryWalk {
  const BYTE* Data;
  DWORD Length;
  DWORD Offset;
  int Broken;  // set when the walk ended at an entry that runs past the end or whose name is too long
};

struct Entry {
  EntryHeader Header;
  char Name[MAX_PATH];  // NUL-terminated copy of the name
  const BYTE* Data;     // Header.DataLength bytes inside the package
};

void StartEntryWalk(EntryWalk* walk, const Package* package);

// 1 with the next entry filled in; 0 when the walk is over: at the normal end, or with
// walk->Broken set when the next entry is malformed (nothing of it is handed out).
int NextEntry(EntryWalk* walk, Entry* entry);
