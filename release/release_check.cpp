// The release checks of the packer; see release_check.h.
#include "release/release_check.h"

#include <stdio.h>

#include <vector>

#include "package/entry_check.h"
#include "package/install.h"

namespace {

// 1980-01-01T00:00:00Z and 2108-01-01T00:00:00Z as FILETIMEs: the range of a DOS date.
const uint64_t FirstDosTime = 119600064000000000ull;
const uint64_t EndOfDosTimes = 159992928000000000ull;

// The lowercase letters code page 932 can spell, with their simple uppercase mappings: the
// last character of each range and how far below it its capital lies. A name reaches the
// comparisons only once code page 932 spells it, so no other character needs folding; the
// tests hold the table against ICU's mapping of every character code page 932 has.
struct CaseRange {
  uint32_t first, last, below;
};
const CaseRange Lowercase[] = {
    {0x0061, 0x007A, 32},  // a-z
    {0x03B1, 0x03C1, 32},  // Greek alpha to rho (final sigma is not in code page 932)
    {0x03C3, 0x03C9, 32},  // Greek sigma to omega
    {0x0430, 0x044F, 32},  // Cyrillic a to ya
    {0x0451, 0x0451, 80},  // Cyrillic io
    {0x2170, 0x2179, 16},  // small Roman numerals one to ten
    {0xFF41, 0xFF5A, 32},  // full-width a-z
};

uint32_t Upper(uint32_t c) {
  for (const CaseRange& range : Lowercase) {
    if (c >= range.first && c <= range.last) return c - range.below;
  }
  return c;
}

// The name upper-cased as Windows compares names: each character by its simple uppercase
// mapping. Bytes that are not UTF-8 of at most three bytes are kept as they are.
std::string FoldCase(const std::string& name) {
  std::string out;
  for (size_t at = 0; at < name.size();) {
    unsigned char lead = (unsigned char)name[at];
    size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : 0;
    uint32_t c = length == 1 ? lead : length == 2 ? lead & 0x1Fu : lead & 0x0Fu;
    for (size_t i = 1; i < length; i++) {
      unsigned char next = at + i < name.size() ? (unsigned char)name[at + i] : 0;
      if ((next & 0xC0) != 0x80) length = 0;
      c = c << 6 | (next & 0x3Fu);
    }
    if (length == 0) {
      out += name[at++];
      continue;
    }
    c = Upper(c);
    if (length == 1) {
      out += (char)c;
    } else if (length == 2) {
      out += (char)(0xC0 | c >> 6);
      out += (char)(0x80 | (c & 0x3F));
    } else {
      out += (char)(0xE0 | c >> 12);
      out += (char)(0x80 | (c >> 6 & 0x3F));
      out += (char)(0x80 | (c & 0x3F));
    }
    at += length;
  }
  return out;
}

std::vector<std::string> Levels(const std::string& name) {
  std::vector<std::string> levels;
  size_t begin = 0;
  for (;;) {
    size_t end = name.find('\\', begin);
    levels.push_back(
        name.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    if (end == std::string::npos) return levels;
    begin = end + 1;
  }
}

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// The device a level opens on Windows ("NUL" for "nul.txt"), or "".
std::string DeviceOf(const std::string& level) {
  std::string stem = FoldCase(level.substr(0, level.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (stem == device) return stem;
  }
  if (stem.size() == 4 && IsAsciiDigit(stem[3]) &&
      (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0)) {
    return stem;
  }
  return "";
}

// Shaped like a short alias: 1 to 6 characters, a tilde, digits, an extension of up to 3.
bool IsShortAliasShape(const std::string& level) {
  size_t tilde = level.find('~');
  if (tilde == std::string::npos || tilde == 0 || tilde > 6) return false;
  size_t at = tilde + 1;
  size_t digits = 0;
  while (at < level.size() && IsAsciiDigit(level[at])) at++, digits++;
  if (digits == 0) return false;
  if (at == level.size()) return true;
  if (level[at] != '.') return false;
  size_t extension = level.size() - at - 1;
  return extension <= 3 && level.find('.', at + 1) == std::string::npos;
}

}  // namespace

std::string NameProblem(const std::string& name, const std::string& ansiName) {
  for (const std::string& level : Levels(name)) {
    std::string device = DeviceOf(level);
    if (!device.empty()) {
      return "the level '" + level + "' is the device " + device +
             " on Windows, whatever its extension; no file of that name can exist";
    }
    if (IsShortAliasShape(level)) {
      return "the level '" + level +
             "' has the shape of a short 8.3 alias, which may name another file on the key disk";
    }
  }
  if (!IsInstallableName(ansiName.data(), static_cast<DWORD>(ansiName.size()))) {
    return "the updater refuses this name";
  }
  std::string folded = FoldCase(name);
  for (const char* obsolete : ObsoleteFiles) {
    if (folded == FoldCase(obsolete)) {
      return std::string("the name is on the updater's obsolete list (") + obsolete +
             "): it would be written and then deleted on every run";
    }
  }
  return "";
}

// What a FAT directory entry holds of a file's attributes: read-only, hidden, system, archive.
const uint32_t FatKeptAttributes = 0x27;

std::string AttributesProblem(uint32_t attributes) {
  char value[16];
  snprintf(value, sizeof value, "0x%X", attributes);
  if (attributes & 0x10) {
    return std::string("attributes ") + value + " have the directory bit 0x10; entries are files";
  }
  if (!IsInstallableAttributes(attributes)) {
    char extra[16];
    snprintf(extra, sizeof extra, "0x%X", (unsigned)(attributes & ~InstallableAttributes));
    return std::string("attributes ") + value + " have bits that are not file attributes (" +
           extra + "); a file can have only 0x31A7";
  }
  if (attributes == 0 || attributes == 0x80) {
    return std::string("attributes ") + value +
           " read back as 0x20 from a written file, so it would be written again on every run;"
           " use 0x20";
  }
  if (attributes & ~FatKeptAttributes) {
    char extra[16];
    snprintf(extra, sizeof extra, "0x%X", attributes & ~FatKeptAttributes);
    return std::string("attributes ") + value + " have bits a FAT key disk cannot keep (" + extra +
           "): they would be dropped and the file written again on every run; a key disk keeps"
           " only 0x01, 0x02, 0x04 and 0x20";
  }
  return "";
}

std::string TimeProblem(uint64_t lastWrite) {
  if (lastWrite >= FirstDosTime && lastWrite < EndOfDosTimes) return "";
  return "the last-write time is outside 1980-01-01 to 2107-12-31, which a key disk cannot keep,"
         " so the file would be written again on every run";
}

std::string FoldedName(const std::string& name) { return FoldCase(name); }

std::string AddName(NameSet* names, const std::string& name) {
  std::string folded = FoldCase(name);
  if (names->files.count(folded)) {
    return "the name repeats an earlier entry (Windows ignores case): " + name;
  }
  if (names->folders.count(folded)) return "an earlier entry has this name as a folder: " + name;
  std::vector<std::string> folders;
  for (size_t at = folded.find('\\'); at != std::string::npos; at = folded.find('\\', at + 1)) {
    folders.push_back(folded.substr(0, at));
  }
  for (const std::string& folder : folders) {
    if (names->files.count(folder)) {
      return "a folder of the name is an earlier entry's file: " + name;
    }
  }
  names->folders.insert(folders.begin(), folders.end());
  names->files.insert(folded);
  return "";
}
