// What bench-floor and bench-limit share: the package file, its header, and the buffer it is
// inflated into, each obtained as the program obtains it.
#pragma once

#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "package/format.h"
#include "platform/platform.h"

// The whole file mapped read-only, as the program finds its package in its own image: the
// inflate reads it in place. Null when it cannot be mapped; the mapping lasts until exit.
inline const unsigned char* MapFile(const char* path, size_t* size) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_size == 0) {
    if (fd >= 0) close(fd);
    return nullptr;
  }
  void* data = mmap(nullptr, (size_t)st.st_size, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (data == MAP_FAILED) return nullptr;
  *size = (size_t)st.st_size;
  return (const unsigned char*)data;
}

// The buffer for the unpacked data, taken as the program takes it: from the platform layer's
// VirtualAlloc (fresh pages, with the huge-page hint when large). Give it back with
// VirtualFree(buffer, 0, MEM_RELEASE).
inline unsigned char* UnpackedBuffer(uint32_t unpacked) {
  return (unsigned char*)VirtualAlloc(nullptr, unpacked ? unpacked : 1, MEM_COMMIT | MEM_RESERVE,
                                      PAGE_READWRITE);
}

// A mapped package and its header (stored length, unpacked length, CRC-32; package/format.h).
struct PackageFile {
  const unsigned char* Bytes;
  uint32_t Stored;
  uint32_t Unpacked;
  uint32_t Checksum;
};

// Maps the package at `path` and reads its header: null, or what is wrong with the file.
inline const char* OpenPackageFile(const char* path, PackageFile* package) {
  size_t size = 0;
  package->Bytes = MapFile(path, &size);
  if (!package->Bytes || size < PackageHeaderSize) return "cannot read a package from";
  PackageHeader header = ReadPackageHeader(package->Bytes);
  package->Stored = header.StoredLength;
  package->Unpacked = header.UnpackedLength;
  package->Checksum = header.Checksum;
  if (package->Stored < PackageHeaderSize || package->Stored > size) {
    return "the stored length does not fit";
  }
  return nullptr;
}

// The unpacked data in a fresh buffer (one uncompress, then the CRC-32), or null when the
// package is not good or no buffer was given.
inline unsigned char* InflatePackage(const PackageFile& package) {
  unsigned char* data = UnpackedBuffer(package.Unpacked);
  uLongf produced = package.Unpacked;
  if (data &&
      uncompress(data, &produced, package.Bytes + PackageHeaderSize,
                 package.Stored - PackageHeaderSize) == Z_OK &&
      produced == package.Unpacked && crc32(0, data, (uInt)produced) == package.Checksum) {
    return data;
  }
  if (data) VirtualFree(data, 0, MEM_RELEASE);
  return nullptr;
}
