// Telling the name of a file on the key disk from the name the updater asked for. The common
// case, the same bytes, costs a string compare; only names that differ are converted.
#include "fs/names.h"

#include <string.h>

const char* LastLevel(const char* path) {
  const char* level = path;
  for (const char* p = path; *p; p++) {
    if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) {
      p++;
      continue;
    }
    if (*p == '\\' || *p == '/') level = p + 1;
  }
  return level;
}

namespace {

// The upper case of the letters the ANSI code page 932 can spell, as Windows' case table gives
// it for file names: Latin, fullwidth Latin, Greek, Cyrillic and the small Roman numerals. The
// code page has no other letter that has a case.
WCHAR UpperCase(WCHAR c) {
  if (c >= 'a' && c <= 'z') return static_cast<WCHAR>(c - 0x20);
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<WCHAR>(c - 0x20);                 // ａ-ｚ
  if (c >= 0x03B1 && c <= 0x03C9 && c != 0x03C2) return static_cast<WCHAR>(c - 0x20);  // α-ω
  if (c >= 0x0430 && c <= 0x044F) return static_cast<WCHAR>(c - 0x20);                 // а-я
  if (c >= 0x0450 && c <= 0x045F) return static_cast<WCHAR>(c - 0x50);  // ё and the rest
  if (c >= 0x2170 && c <= 0x217F) return static_cast<WCHAR>(c - 0x10);  // ⅰ-ⅿ
  return c;
}

// The name as UTF-16 in `out` (MAX_PATH units): its length, or -1 when it is no text.
int Utf16Of(const char* name, WCHAR* out) {
  int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, out, MAX_PATH);
  return n > 0 ? n - 1 : -1;
}

}  // namespace

int IsSameName(const char* asked, const char* found) {
  if (strcmp(asked, found) == 0) return 1;
  WCHAR askedText[MAX_PATH];
  WCHAR foundText[MAX_PATH];
  int askedLength = Utf16Of(asked, askedText);
  int foundLength = Utf16Of(found, foundText);
  if (askedLength < 0 || askedLength != foundLength) return 0;
  for (int i = 0; i < askedLength; i++) {
    if (UpperCase(askedText[i]) != UpperCase(foundText[i])) return 0;
  }
  return 1;
}
