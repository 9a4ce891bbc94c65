// Reading the package and the version out of a built updater; see program_file.h. Every offset
// taken from the file is checked against its size before it is used.
#include "release/program_file.h"

#include <stdint.h>
#include <stdio.h>

namespace {

const uint16_t PeMagic32 = 0x10B, PeMagic64 = 0x20B;
const uint32_t ResourceDirectoryIndex = 2;
const uint32_t CertificateDirectoryIndex = 4;
const uint32_t RtVersion = 16;

struct Reader {
  const std::string& bytes;
  bool ok = true;
  uint32_t U32(size_t at) {
    if (at > bytes.size() || bytes.size() - at < 4) return Fail();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
  }
  uint16_t U16(size_t at) {
    if (at > bytes.size() || bytes.size() - at < 2) return (uint16_t)Fail();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    return (uint16_t)(p[0] | p[1] << 8);
  }
  uint32_t Fail() {
    ok = false;
    return 0;
  }
};

struct Image {
  size_t sections;  // file offset of the section table
  uint16_t sectionCount;
  uint32_t resourceRva;
  uint32_t resourceSize;
  size_t checksum;                // file offset of the optional header's CheckSum
  uint32_t certificateTableSize;  // 0: the program is not signed
};

// The file offset of `rva`, or SIZE_MAX when no section holds it.
size_t OffsetOf(Reader* r, const Image& image, uint32_t rva) {
  for (uint16_t i = 0; i < image.sectionCount && r->ok; i++) {
    size_t section = image.sections + 40u * i;
    uint32_t size = r->U32(section + 8), address = r->U32(section + 12);
    uint32_t raw = r->U32(section + 16), pointer = r->U32(section + 20);
    if (size < raw) size = raw;
    if (rva >= address && rva - address < size && rva - address < raw) {
      return (size_t)pointer + (rva - address);
    }
  }
  return SIZE_MAX;
}

bool ReadImage(Reader* r, Image* image, std::string* error) {
  if (!IsProgramFile(r->bytes)) {
    *error = "not a Windows program (no MZ header)";
    return false;
  }
  uint32_t pe = r->U32(0x3C);
  if (!r->ok || r->U32(pe) != 0x00004550) {
    *error = "not a PE file (no PE signature)";
    return false;
  }
  size_t coff = (size_t)pe + 4;
  image->sectionCount = r->U16(coff + 2);
  uint16_t optionalSize = r->U16(coff + 16);
  size_t optional = coff + 20;
  uint16_t magic = r->U16(optional);
  size_t directories;
  uint32_t count;
  if (magic == PeMagic32) {
    count = r->U32(optional + 92);
    directories = optional + 96;
  } else if (magic == PeMagic64) {
    count = r->U32(optional + 108);
    directories = optional + 112;
  } else {
    *error = "not a PE32 or PE32+ file";
    return false;
  }
  image->sections = optional + optionalSize;
  if (count <= ResourceDirectoryIndex) {
    *error = "the program has no resources";
    return false;
  }
  image->resourceRva = r->U32(directories + 8 * ResourceDirectoryIndex);
  image->resourceSize = r->U32(directories + 8 * ResourceDirectoryIndex + 4);
  image->checksum = optional + 64;
  r->U32(image->checksum);  // within the file, so that it can be set
  image->certificateTableSize = count > CertificateDirectoryIndex
                                    ? r->U32(directories + 8 * CertificateDirectoryIndex + 4)
                                    : 0;
  if (!r->ok) *error = "the PE headers run past the end of the file";
  return r->ok;
}

// A resource directory's entry whose name is `name` (or, when empty, whose id is `id`; id 0 with
// an empty name: the first entry): its OffsetToData field, or 0 when none matches.
uint32_t FindEntry(Reader* r, size_t base, uint32_t directory, const std::string& name,
                   uint32_t id) {
  size_t at = base + directory;
  uint32_t named = r->U16(at + 12), ids = r->U16(at + 14);
  for (uint32_t i = 0; i < named + ids && r->ok; i++) {
    size_t entry = at + 16 + 8 * i;
    uint32_t label = r->U32(entry), data = r->U32(entry + 4);
    if (name.empty() && id == 0) return data;
    if (label & 0x80000000u) {
      if (name.empty()) continue;
      size_t text = base + (label & 0x7FFFFFFFu);
      uint16_t length = r->U16(text);
      if (length != name.size()) continue;
      bool same = true;
      for (uint16_t c = 0; c < length && same; c++) {
        same = r->U16(text + 2 + 2 * c) == (uint8_t)name[c];
      }
      if (same) return data;
    } else if (name.empty() && label == id) {
      return data;
    }
  }
  return 0;
}

// The bytes of the first language of resource type/name, or false.
bool FindResource(Reader* r, const Image& image, const std::string& typeName, uint32_t typeId,
                  const std::string& name, uint32_t nameId, std::string* out) {
  size_t base = OffsetOf(r, image, image.resourceRva);
  if (base == SIZE_MAX) return false;
  uint32_t level = FindEntry(r, base, 0, typeName, typeId);
  if (!(level & 0x80000000u)) return false;
  level = FindEntry(r, base, level & 0x7FFFFFFFu, name, nameId);
  if (!(level & 0x80000000u)) return false;
  level = FindEntry(r, base, level & 0x7FFFFFFFu, "", 0);  // any language
  if (!level || (level & 0x80000000u)) return false;
  uint32_t rva = r->U32(base + level), size = r->U32(base + level + 4);
  size_t at = OffsetOf(r, image, rva);
  if (!r->ok || at == SIZE_MAX || at > r->bytes.size() || r->bytes.size() - at < size) return false;
  *out = r->bytes.substr(at, size);
  return true;
}

// "a.b.c.d" from VS_FIXEDFILEINFO, and the PackageSHA256 string, out of a VS_VERSIONINFO block.
void ReadVersion(const std::string& block, ProgramInfo* info) {
  Reader r{block};
  for (size_t at = 0; at + 52 <= block.size(); at += 4) {
    if (r.U32(at) != 0xFEEF04BDu) continue;
    uint32_t high = r.U32(at + 8), low = r.U32(at + 12);
    char text[64];
    snprintf(text, sizeof text, "%u.%u.%u.%u", high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF);
    info->version = text;
    break;
  }
  std::string key;
  for (char c : std::string("PackageSHA256")) key += std::string(1, c) + '\0';
  size_t found = block.find(key + std::string(2, '\0'));
  if (found == std::string::npos) return;
  size_t at = found + key.size() + 2;
  while (at + 1 < block.size() && block[at] == '\0' && block[at + 1] == '\0') at += 2;
  std::string digest;
  while (at + 1 < block.size() && block[at + 1] == '\0' && block[at] != '\0') {
    digest += block[at];
    at += 2;
  }
  info->packageDigest = digest;
}

}  // namespace

bool IsProgramFile(const std::string& bytes) {
  return bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z';
}

bool ReadProgramFile(const std::string& bytes, std::string* package, ProgramInfo* info,
                     std::string* error) {
  Reader r{bytes};
  Image image;
  if (!ReadImage(&r, &image, error)) return false;
  if (!FindResource(&r, image, "ZIPFILE", 0, "UPDATE", 0, package)) {
    *error = "the program carries no ZIPFILE/UPDATE resource";
    return false;
  }
  *info = ProgramInfo();
  std::string version;
  if (FindResource(&r, image, "", RtVersion, "", 1, &version)) ReadVersion(version, info);
  return true;
}

bool ReadProgramVersion(const std::string& bytes, std::string* block, std::string* error) {
  Reader r{bytes};
  Image image;
  if (!ReadImage(&r, &image, error)) return false;
  if (!FindResource(&r, image, "", RtVersion, "", 1, block)) {
    *error = "the program has no version resource";
    return false;
  }
  return true;
}

bool ComputePeChecksum(const std::string& bytes, uint32_t* checksum, std::string* error) {
  Reader r{bytes};
  Image image;
  if (!ReadImage(&r, &image, error)) return false;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
  uint64_t sum = 0;
  for (size_t at = 0; at < bytes.size(); at += 2) {
    if (at == image.checksum || at == image.checksum + 2) continue;
    sum += p[at] | (at + 1 < bytes.size() ? p[at + 1] << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  *checksum = (uint32_t)(sum & 0xFFFF) + (uint32_t)bytes.size();
  return true;
}

bool SetPeChecksum(std::string* bytes, std::string* error) {
  uint32_t checksum;
  Reader r{*bytes};
  Image image;
  if (!ComputePeChecksum(*bytes, &checksum, error) || !ReadImage(&r, &image, error)) return false;
  for (int i = 0; i < 4; i++) (*bytes)[image.checksum + i] = (char)(checksum >> (8 * i));
  return true;
}

bool ReadPeFields(const std::string& bytes, uint32_t* checksum, uint32_t* certificates,
                  std::string* error) {
  Reader r{bytes};
  Image image;
  if (!ReadImage(&r, &image, error)) return false;
  *checksum = r.U32(image.checksum);
  *certificates = image.certificateTableSize;
  return true;
}
