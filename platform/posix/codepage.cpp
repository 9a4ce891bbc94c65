// Code page 932 <-> UTF-8 through iconv. Like Windows' own table for 932 (and Wine's), the
// byte 0x5C is the backslash and 0x7E the tilde, not the yen sign and overline of plain
// Shift-JIS, so paths keep their separators.
#include "platform/posix/codepage.h"

#include <errno.h>
#include <iconv.h>
#include <string.h>

static int Convert(const char* to, const char* from, const char* text, char* out, size_t size) {
  if (size == 0) return 0;
  out[0] = '\0';
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
