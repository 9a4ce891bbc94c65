// The PE header fields stamp reads and sets; see pe_image.h.
#include "release/pe_image.h"

namespace {

uint32_t U32(const std::string& bytes, size_t at) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// The file offsets of the CheckSum field and of the certificate table's data directory entry.
bool Locate(const std::string& bytes, size_t* checksum, size_t* certificates, std::string* error) {
  *error = "not a PE32 or PE32+ file";
  if (bytes.size() < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') return false;
  const size_t pe = U32(bytes, 0x3C);
  if (pe > bytes.size() || bytes.size() - pe < 24 + 240 || U32(bytes, pe) != 0x00004550) {
    return false;
  }
  const size_t optional = pe + 24;
  const uint32_t magic = U32(bytes, optional) & 0xFFFF;
  if (magic != 0x10B && magic != 0x20B) return false;
  const size_t directories = optional + (magic == 0x10B ? 96 : 112);
  if (U32(bytes, directories - 4) <= 4) {
    *certificates = 0;
  } else {
    *certificates = directories + 8 * 4 + 4;  // IMAGE_DIRECTORY_ENTRY_SECURITY's Size
  }
  *checksum = optional + 64;
  error->clear();
  return true;
}

}  // namespace

bool ComputePeChecksum(const std::string& bytes, uint32_t* checksum, std::string* error) {
  size_t field, certificates;
  if (!Locate(bytes, &field, &certificates, error)) return false;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
  uint64_t sum = 0;
  for (size_t at = 0; at < bytes.size(); at += 2) {
    if (at == field || at == field + 2) continue;
    sum += p[at] | (at + 1 < bytes.size() ? p[at + 1] << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  *checksum = (uint32_t)(sum & 0xFFFF) + (uint32_t)bytes.size();
  return true;
}

bool SetPeChecksum(std::string* bytes, std::string* error) {
  uint32_t checksum;
  size_t field, certificates;
  if (!ComputePeChecksum(*bytes, &checksum, error) ||
      !Locate(*bytes, &field, &certificates, error)) {
    return false;
  }
  for (int i = 0; i < 4; i++) (*bytes)[field + i] = (char)(checksum >> (8 * i));
  return true;
}

bool ReadPeFields(const std::string& bytes, uint32_t* checksum, uint32_t* certificates,
                  std::string* error) {
  size_t field, entry;
  if (!Locate(bytes, &field, &entry, error)) return false;
  *checksum = U32(bytes, field);
  *certificates = entry ? U32(bytes, entry) : 0;
  return true;
}
