// Code page 932 <-> UTF-8 through iconv. Like Windows' own table for 932 (and Wine's), the
// byte 0x5C is the backslash and 0x7E the tilde, not the yen sign and overline of plain
// Shift-JIS, so paths keep their separators. Every byte below 0x80 is then the same character
// in both encodings, and text made of nothing else is copied without opening a converter:
// every path the layer maps comes through here, and iconv_open costs more than the rest.
#include "platform/posix/codepage.h"

#include <errno.h>
#include <iconv.h>
#include <string.h>

// 1 when `text` was all below 0x80 and so copied into `out` (or found not to fit: `*fits`).
static int CopiedAscii(const char* text, char* out, size_t size, int* fits) {
  size_t n = 0;
  while (text[n]) {
    if ((unsigned char)text[n] >= 0x80) return 0;
    ++n;
  }
  *fits = n < size;
  if (*fits) memcpy(out, text, n + 1);
  return 1;
}

static int Convert(const char* to, const char* from, const char* text, char* out, size_t size) {
  if (size == 0) return 0;
  out[0] = '\0';
  int fits = 0;
  if (CopiedAscii(text, out, size, &fits)) return fits;
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return 0;
  char* in = const_cast<char*>(text);
  size_t inLeft = strlen(text);
  char* o = out;
  size_t outLeft = size - 1;  // room for the NUL
  size_t done = iconv(cd, &in, &inLeft, &o, &outLeft);
  int ok = done != (size_t)-1 && inLeft == 0;
  if (ok) {
    // Flush any shift state (none for these encodings, but iconv asks for it).
    ok = iconv(cd, nullptr, nullptr, &o, &outLeft) != (size_t)-1;
  }
  iconv_close(cd);
  if (!ok) {
    out[0] = '\0';
    return 0;
  }
  *o = '\0';
  return 1;
}

int PosixAnsiToUtf8(const char* ansi, char* out, size_t size) {
  return Convert("UTF-8", "CP932", ansi, out, size);
}

int PosixUtf8ToAnsi(const char* utf8, char* out, size_t size) {
  return Convert("CP932", "UTF-8", utf8, out, size);
}

int PosixAnsiRoundTrips(const char* ansi, size_t length) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(ansi);
  const unsigned char* end = p + length;
  while (p < end) {
    unsigned char lead = *p++;
    if (lead < 0x80 || (lead >= 0xA1 && lead <= 0xDF)) continue;
    int oneCode = (lead >= 0x81 && lead <= 0x86) || (lead >= 0x88 && lead <= 0x9F) ||
                 (lead >= 0xE0 && lead <= 0xEA);
    if (!oneCode || p == end) return 0;
    unsigned char trail = *p++;
    if (trail < 0x40 || trail == 0x7F || trail > 0xFC) return 0;
  }
  return 1;
}
