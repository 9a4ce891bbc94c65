// The name and attribute rules of an installable entry; see entry_check.h. The name is looked at
// as the stored bytes, not as a C string, so that a NUL inside it is seen.
#include "package/entry_check.h"

#include <string.h>

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsTrailByte(BYTE b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsIgnoringCase(const char* text, size_t length, const char* word) {
  if (strlen(word) != length) return false;
  for (size_t i = 0; i < length; i++) {
    if (Upper(text[i]) != word[i]) return false;
  }
  return true;
}

// Whether Windows opens a device for a level whatever folder it stands in: the part before the
// first dot, trailing spaces dropped, is a device name ("nul.txt", "COM1 .log", "aux").
bool IsDeviceName(const char* level, size_t length) {
  size_t stem = 0;
  while (stem < length && level[stem] != '.') stem++;
  while (stem > 0 && level[stem - 1] == ' ') stem--;
  static const char* const fixed[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* word : fixed) {
    if (EqualsIgnoringCase(level, stem, word)) return true;
  }
  if (stem == 4 && level[3] >= '0' && level[3] <= '9') {
    return EqualsIgnoringCase(level, 3, "COM") || EqualsIgnoringCase(level, 3, "LPT");
  }
  return false;
}

// One level (never empty, separators excluded, double-byte characters already checked).
bool IsInstallableLevel(const char* level, size_t length, char last) {
  if (last == '.' || last == ' ') return false;
  return !IsDeviceName(level, length);
}

}  // namespace

int IsInstallableName(const char* name, DWORD length) {
  if (length == 0) return 0;
  size_t start = 0;  // of the current level
  char last = 0;     // the level's last single-byte character, 0 after a double-byte one
  for (size_t i = 0; i <= length; i++) {
    if (i == length || IsSeparator(name[i])) {
      if (i == start) return 0;  // empty level, or a leading or doubled separator
      if (!IsInstallableLevel(name + start, i - start, last)) return 0;
      start = i + 1;
      continue;
    }
    BYTE b = static_cast<BYTE>(name[i]);
    if (IsDBCSLeadByte(b)) {
      if (i + 1 >= length || !IsTrailByte(static_cast<BYTE>(name[i + 1]))) return 0;
      i++;
      last = 0;
      continue;
    }
    if (b < 0x20 || strchr("<>\"|?*:", static_cast<char>(b)) != nullptr) return 0;
    last = static_cast<char>(b);
  }
  return 1;
}

int IsInstallableAttributes(DWORD attributes) { return (attributes & ~InstallableAttributes) == 0; }
