// The update package: opening it (find, inflate, verify) and walking its entries in stored
// order. The layout is in format.h.
#pragma once

#include "package/format.h"
#include "platform/platform.h"

enum PackageOutcome { PackageMissing, PackageBad, PackageGood };

// Why a package is bad, from the one place that knows: the program shows one failure box
// whatever it is; the packer's verify tells the release engineer.
enum PackageReason {
  PackageFine,
  ReasonUnreadable,      // the resource was found but could not be loaded
  ReasonTooShort,        // fewer bytes than the 12-byte header
  ReasonStoredLength,    // the stored length is below 12 or beyond the resource
  ReasonNoMemory,        // no buffer for the unpacked length
  ReasonStreamTooLong,   // the stream does not end at the unpacked length: it gives more, or
                         // stops short of its own end once the buffer is full
  ReasonBadStream,       // no valid zlib stream; Detail: zlib's code (Z_DATA_ERROR, ...)
  ReasonUnpackedLength,  // the stream inflates to less; Detail: what it gave
  ReasonChecksum,        // the CRC-32 differs; Detail: the data's own
};

// The unpacked data. Owned by whoever opened it until ClosePackage.
struct Package {
  BYTE* Data;
  DWORD Length;
  PackageReason Reason;  // PackageFine unless the outcome was PackageBad
  DWORD Detail;          // see PackageReason
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
  int Broken;  // set when the walk ended at an entry that runs past the end or whose name is too
               // long
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
