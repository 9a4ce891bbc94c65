// Writing update packages on the host: the bytes of entries, of the unpacked data and of the
// whole package resource. Used by the packer and by tests that craft packages, well-formed or
// deliberately not.
//
// The layout is the reader's own, package/format.h: the header fields are put where it says.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// One file of a package.
struct PackEntry {
  std::string name;            // code page 932 bytes, backslashes between levels, no NUL
  uint32_t attributes = 0x20;  // FILE_ATTRIBUTE_* bits
  uint64_t lastWrite = 0;      // FILETIME: 100 ns intervals since 1601-01-01 UTC
  std::string data;
};

struct Entry;  // an entry as the reader walks it, package/package.h

// The entry the reader walked, as a PackEntry: the bytes it points into are copied.
PackEntry PackEntryOf(const Entry& entry);

// The 20-byte entry header with arbitrary fields (they need not match what follows).
std::string RawEntryHeader(uint32_t dataLength, uint32_t attributes, uint64_t lastWrite,
                           uint32_t nameLength);

// One well-formed entry: its header with the true lengths, the name, the data.
std::string EntryBytes(const PackEntry& entry);

// The unpacked data: the entries in the given order.
std::string BuildUnpacked(const std::vector<PackEntry>& entries);

// zlib's crc32 with the initial value 0.
uint32_t Crc32(const std::string& bytes);

// A zlib stream of `bytes` (level 9 starts 0x78 0xDA).
std::string Deflate(const std::string& bytes, int level = 9);

// The 12-byte package header with arbitrary fields.
std::string RawPackageHeader(uint32_t storedLength, uint32_t unpackedLength, uint32_t checksum);

// A well-formed package: the header with the true stored length, unpacked length and checksum,
// then the zlib stream of `unpacked`.
std::string BuildPackage(const std::string& unpacked, int level = 9);
