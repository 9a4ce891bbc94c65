// Fuzz target for the package reader. Two modes, built as two programs:
//
//   package_reader_fuzz  the input is the resource: opened through a module of its own (so the
//                        resource lookup and size check run too), then walked in full when good
//   package_walk_fuzz    the input is the unpacked data: wrapped in a package with a correct
//                        header and checksum, so that every input reaches the walk
//
// Every entry handed out is read in full (name and data), so a view outside the buffer shows
// up under AddressSanitizer.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "package/package.h"
#include "platform/posix/module.h"

static void WalkAll(const Package* package) {
  EntryWalk walk;
  Entry entry;
  StartEntryWalk(&walk, package);
  volatile BYTE sink = 0;
  while (NextEntry(&walk, &entry)) {
    if (strlen(entry.Name) > entry.Header.NameLength) abort();
    for (DWORD i = 0; i < entry.Header.DataLength; i++) sink = sink ^ entry.Data[i];
  }
  // A finished walk stays finished.
  if (NextEntry(&walk, &entry)) abort();
}

#ifndef ZARPO_FUZZ_WALK

// Headers may declare up to 4 GB of unpacked data, which the reader then allocates up front.
// That is its documented behaviour, but libFuzzer counts such an allocation as a failure, so
// inputs declaring more than this are skipped.
static const DWORD LargestUnpacked = 64u << 20;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= UnpackedLengthAt + 4 && ReadLe32(data + UnpackedLengthAt) > LargestUnpacked) {
    return 0;
  }
  PosixResource resource = {"ZIPFILE", "UPDATE", 1041, data, data + size};
  HINSTANCE__ module = {&resource, 1};
  Package package;
  PackageOutcome outcome = OpenPackage(&module, &package);
  if (outcome == PackageMissing) abort();
  if (outcome == PackageGood) {
    // Good means exactly what the header promised.
    if (crc32(0, package.Data, package.Length) != (uLong)ReadPackageHeader(data).Checksum) {
      abort();
    }
    WalkAll(&package);
  }
  ClosePackage(&package);
  return 0;
}

#else

static void StoreDword(BYTE* at, DWORD value) {
  for (int i = 0; i < 4; i++) at[i] = (BYTE)(value >> (8 * i));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Level 1: the walk is the target here, not deflate.
  uLong bound = compressBound((uLong)size);
  BYTE* resource = (BYTE*)malloc(PackageHeaderSize + bound);
  if (!resource) return 0;
  uLongf streamLength = bound;
  if (compress2(resource + PackageHeaderSize, &streamLength, data, (uLong)size, 1) != Z_OK) abort();
  StoreDword(resource, (DWORD)(PackageHeaderSize + streamLength));
  StoreDword(resource + 4, (DWORD)size);
  StoreDword(resource + 8, (DWORD)crc32(0, data, (uInt)size));

  Package package;
  if (UnpackPackage(resource, (DWORD)(PackageHeaderSize + streamLength), &package) != PackageGood) {
    abort();
  }
  if (package.Length != size || memcmp(package.Data, data, size) != 0) abort();
  WalkAll(&package);
  ClosePackage(&package);
  free(resource);
  return 0;
}

#endif
