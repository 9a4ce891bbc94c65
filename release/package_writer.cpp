// Writing update packages on the host; see package_writer.h for the layout.
#include "release/package_writer.h"

#include <zlib.h>

#include <stdexcept>

#include "package/format.h"
#include "package/package.h"

PackEntry PackEntryOf(const Entry& entry) {
  PackEntry copy;
  copy.name.assign(entry.Name, entry.Header.NameLength);
  copy.attributes = entry.Header.Attributes;
  copy.lastWrite = (uint64_t)entry.Header.LastWrite.dwHighDateTime << 32 |
                   entry.Header.LastWrite.dwLowDateTime;
  copy.data.assign((const char*)entry.Data, entry.Header.DataLength);
  return copy;
}

std::string RawEntryHeader(uint32_t dataLength, uint32_t attributes, uint64_t lastWrite,
                           uint32_t nameLength) {
  EntryHeader header;
  header.DataLength = dataLength;
  header.Attributes = attributes;
  header.LastWrite.dwLowDateTime = (DWORD)lastWrite;
  header.LastWrite.dwHighDateTime = (DWORD)(lastWrite >> 32);
  header.NameLength = nameLength;
  std::string out(EntryHeaderSize, '\0');
  WriteEntryHeader((BYTE*)&out[0], header);
  return out;
}

std::string EntryBytes(const PackEntry& entry) {
  if (entry.name.size() > UINT32_MAX || entry.data.size() > UINT32_MAX) {
    throw std::length_error("package entry larger than 4 GB");
  }
  return RawEntryHeader((uint32_t)entry.data.size(), entry.attributes, entry.lastWrite,
                        (uint32_t)entry.name.size()) +
         entry.name + entry.data;
}

std::string BuildUnpacked(const std::vector<PackEntry>& entries) {
  std::string out;
  for (const PackEntry& entry : entries) out += EntryBytes(entry);
  return out;
}

uint32_t Crc32(const std::string& bytes) {
  // crc32 takes at most a uInt at a time.
  uLong crc = crc32(0, Z_NULL, 0);
  const Bytef* at = (const Bytef*)bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    uInt chunk = left > 0x40000000u ? 0x40000000u : (uInt)left;
    crc = crc32(crc, at, chunk);
    at += chunk;
    left -= chunk;
  }
  return (uint32_t)crc;
}

std::string Deflate(const std::string& bytes, int level) {
  uLongf size = compressBound((uLong)bytes.size());
  std::string out(size, '\0');
  int result = compress2((Bytef*)&out[0], &size, (const Bytef*)bytes.data(), (uLong)bytes.size(),
                         level);
  if (result != Z_OK) throw std::runtime_error("deflate failed");
  out.resize(size);
  return out;
}

std::string RawPackageHeader(uint32_t storedLength, uint32_t unpackedLength, uint32_t checksum) {
  PackageHeader header;
  header.StoredLength = storedLength;
  header.UnpackedLength = unpackedLength;
  header.Checksum = checksum;
  std::string out(PackageHeaderSize, '\0');
  WritePackageHeader((BYTE*)&out[0], header);
  return out;
}

std::string BuildPackage(const std::string& unpacked, int level) {
  std::string stream = Deflate(unpacked, level);
  if (unpacked.size() > UINT32_MAX || stream.size() > UINT32_MAX - PackageHeaderSize) {
    throw std::length_error("package larger than 4 GB");
  }
  return RawPackageHeader((uint32_t)(PackageHeaderSize + stream.size()), (uint32_t)unpacked.size(),
                          Crc32(unpacked)) +
         stream;
}
