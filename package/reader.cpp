// The package reader: finds the package resource, inflates it into one buffer, verifies length
// and CRC-32, and walks the entries of the unpacked data in stored order.
//
// Every field is read byte by byte in little-endian order, so the reader neither depends on
// the host's byte order nor reads a misaligned integer. Every bound is checked by subtraction
// from what is left, never by adding to an offset, so 32-bit lengths near 0xFFFFFFFF cannot
// wrap around.
#include <string.h>
#include <zlib.h>

#include "package/package.h"

// The package is bad for `reason`; `detail` as PackageReason says.
static PackageOutcome Bad(Package* package, PackageReason reason, DWORD detail = 0) {
  package->Reason = reason;
  package->Detail = detail;
  return PackageBad;
}

static void Empty(Package* package) {
  package->Data = nullptr;
  package->Length = 0;
  package->Reason = PackageFine;
  package->Detail = 0;
}

PackageOutcome OpenPackage(HMODULE module, Package* package) {
  Empty(package);
  HRSRC found = FindResourceA(module, "Update", "ZIPFILE");
  if (!found) return PackageMissing;
  HGLOBAL loaded = LoadResource(module, found);
  if (!loaded) return Bad(package, ReasonUnreadable);
  const BYTE* bytes = (const BYTE*)LockResource(loaded);
  if (!bytes) return Bad(package, ReasonUnreadable);
  // The stored length in the header is what the reader goes by; the resource's real size only
  // keeps a stored length that overstates it from reading past the resource.
  return UnpackPackage(bytes, SizeofResource(module, found), package);
}

PackageOutcome UnpackPackage(const BYTE* resource, DWORD available, Package* package) {
  Empty(package);
  if (!resource || available < PackageHeaderSize) return Bad(package, ReasonTooShort);

  const PackageHeader header = ReadPackageHeader(resource);
  if (header.StoredLength < PackageHeaderSize || header.StoredLength > available) {
    return Bad(package, ReasonStoredLength);
  }

  // Pages straight from the system: the buffer is written once, front to back, by the inflate,
  // and no heap would reuse it. One byte for an empty package (VirtualAlloc refuses 0).
  BYTE* data = (BYTE*)VirtualAlloc(nullptr, header.UnpackedLength ? header.UnpackedLength : 1,
                                   MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (!data) return Bad(package, ReasonNoMemory);
  package->Data = data;
  package->Length = header.UnpackedLength;

  // uLong is 32 bits on Windows and 64 bits on Linux; a DWORD fits either way.
  uLongf produced = header.UnpackedLength;
  int result = uncompress(data, &produced, resource + PackageHeaderSize,
                          (uLong)(header.StoredLength - PackageHeaderSize));
  // A full buffer with more to come: the stream is longer than the header says.
  if (result == Z_BUF_ERROR && produced == header.UnpackedLength) {
    return Bad(package, ReasonStreamTooLong);
  }
  if (result != Z_OK) return Bad(package, ReasonBadStream, (DWORD)result);
  if (produced != header.UnpackedLength) {
    return Bad(package, ReasonUnpackedLength, (DWORD)produced);
  }
  DWORD checksum = (DWORD)crc32(0, data, header.UnpackedLength);
  if (checksum != header.Checksum) return Bad(package, ReasonChecksum, checksum);
  return PackageGood;
}

void ClosePackage(Package* package) {
  if (package->Data) VirtualFree(package->Data, 0, MEM_RELEASE);
  Empty(package);
}

void StartEntryWalk(EntryWalk* walk, const Package* package) {
  walk->Data = package->Data;
  walk->Length = package->Data ? package->Length : 0;
  walk->Offset = 0;
  walk->Broken = 0;
}

int NextEntry(EntryWalk* walk, Entry* entry) {
  if (walk->Broken || walk->Offset >= walk->Length) return 0;
  const BYTE* at = walk->Data + walk->Offset;
  DWORD left = walk->Length - walk->Offset;

  if (left < EntryHeaderSize) {
    walk->Broken = 1;
    return 0;
  }
  const EntryHeader header = ReadEntryHeader(at);
  left -= EntryHeaderSize;

  // The name must fit the 260-byte buffer with its NUL; name and data must lie inside the data.
  if (header.NameLength >= MAX_PATH || header.NameLength > left ||
      header.DataLength > left - header.NameLength) {
    walk->Broken = 1;
    return 0;
  }

  entry->Header = header;
  memcpy(entry->Name, at + EntryHeaderSize, header.NameLength);
  entry->Name[header.NameLength] = '\0';
  entry->Data = at + EntryHeaderSize + header.NameLength;
  walk->Offset += EntryHeaderSize + header.NameLength + header.DataLength;
  return 1;
}
