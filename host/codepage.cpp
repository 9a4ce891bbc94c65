// Code page 932 <-> UTF-8, through tables the build makes by asking the C library's iconv about
// every code (host/make_cp932_table.cpp), so that a conversion here gives what iconv
// gives, byte for byte, without opening a converter for every path the layer maps. Like
// Windows' own table for 932 (and Wine's), the byte 0x5C is the backslash and 0x7E the tilde,
// not the yen sign and overline of plain Shift-JIS, so paths keep their separators.
#include "host/codepage.h"

#include <stdint.h>
#include <string.h>

namespace {

struct Cp932Pair {
  uint16_t CodePoint;
  uint16_t Code;
};

const uint16_t Cp932Invalid = 0xFFFF;
const uint16_t Cp932Lead = 0xFFFE;

#include "cp932_table.inc"

const size_t PairCount = sizeof Cp932FromUnicode / sizeof Cp932FromUnicode[0];

// The code point of the character at `*p`, which is moved past it; Cp932Invalid when the bytes
// are no character (a lead byte at the end, or with a trail byte that makes none).
uint32_t NextOfAnsi(const unsigned char** p) {
  unsigned char lead = *(*p)++;
  uint16_t single = Cp932Single[lead];
  if (single != Cp932Lead) return single;
  unsigned char trail = **p;
  if (trail < 0x40 || trail > 0xFC) return Cp932Invalid;  // the NUL at the end included
  ++*p;
  return Cp932Double[(lead - 0x81) * 189 + (trail - 0x40)];
}

// The code point of the UTF-8 character at `*p`, which is moved past it; Cp932Invalid for what
// iconv refuses too: a stray or missing continuation byte, an overlong form, a surrogate, or a
// code beyond U+10FFFF. Code points above U+FFFF come back as Cp932Invalid as well: code page
// 932 has none of them.
uint32_t NextOfUtf8(const unsigned char** p) {
  const unsigned char* s = *p;
  unsigned char first = *s++;
  uint32_t code;
  int more;
  uint32_t least;
  if (first < 0x80) {
    *p = s;
    return first;
  } else if (first >= 0xC2 && first <= 0xDF) {
    code = first & 0x1F, more = 1, least = 0x80;
  } else if (first >= 0xE0 && first <= 0xEF) {
    code = first & 0x0F, more = 2, least = 0x800;
  } else if (first >= 0xF0 && first <= 0xF4) {
    code = first & 0x07, more = 3, least = 0x10000;
  } else {
    return Cp932Invalid;
  }
  for (; more > 0; --more, ++s) {
    if ((*s & 0xC0) != 0x80) return Cp932Invalid;
    code = code << 6 | (*s & 0x3F);
  }
  *p = s;
  if (code < least || (code >= 0xD800 && code <= 0xDFFF) || code > 0xFFFF) return Cp932Invalid;
  return code;
}

// The code page 932 code of `codePoint`, or 0 when it has none.
uint32_t Cp932Of(uint32_t codePoint) {
  size_t low = 0, high = PairCount;
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    if (Cp932FromUnicode[middle].CodePoint < codePoint) low = middle + 1;
    else high = middle;
  }
  if (low < PairCount && Cp932FromUnicode[low].CodePoint == codePoint)
    return Cp932FromUnicode[low].Code;
  return 0;
}

int Fail(char* out) {
  out[0] = '\0';
  return 0;
}

}  // namespace

int HostAnsiToUtf8(const char* ansi, char* out, size_t size) {
  if (size == 0) return 0;
  const unsigned char* p = (const unsigned char*)ansi;
  size_t n = 0;
  while (*p) {
    uint32_t code = NextOfAnsi(&p);
    if (code == Cp932Invalid) return Fail(out);
    char bytes[3];
    size_t length;
    if (code < 0x80) {
      bytes[0] = (char)code, length = 1;
    } else if (code < 0x800) {
      bytes[0] = (char)(0xC0 | code >> 6), bytes[1] = (char)(0x80 | (code & 0x3F)), length = 2;
    } else {
      bytes[0] = (char)(0xE0 | code >> 12), bytes[1] = (char)(0x80 | ((code >> 6) & 0x3F));
      bytes[2] = (char)(0x80 | (code & 0x3F)), length = 3;
    }
    if (n + length >= size) return Fail(out);
    memcpy(out + n, bytes, length);
    n += length;
  }
  out[n] = '\0';
  return 1;
}

int HostUtf8ToAnsi(const char* utf8, char* out, size_t size) {
  if (size == 0) return 0;
  const unsigned char* p = (const unsigned char*)utf8;
  size_t n = 0;
  while (*p) {
    uint32_t codePoint = NextOfUtf8(&p);
    uint32_t code = codePoint == Cp932Invalid ? 0
                    : codePoint < 0x80        ? codePoint
                                              : Cp932Of(codePoint);
    if (code == 0) return Fail(out);
    size_t length = code > 0xFF ? 2 : 1;
    if (n + length >= size) return Fail(out);
    if (length == 2) out[n++] = (char)(code >> 8);
    out[n++] = (char)code;
  }
  out[n] = '\0';
  return 1;
}

int HostAnsiRoundTrips(const char* ansi, size_t length) {
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

long HostAnsiToUtf16(const char* ansi, size_t length, unsigned short* out, size_t size,
                     int strict) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(ansi);
  const unsigned char* end = p + length;
  size_t n = 0;
  while (p < end) {
    unsigned char lead = *p++;
    uint16_t code = Cp932Single[lead];
    if (code == Cp932Lead) {
      unsigned char trail = p < end ? *p : 0;
      if (trail >= 0x40 && trail <= 0xFC) {
        ++p;
        code = Cp932Double[(lead - 0x81) * 189 + (trail - 0x40)];
      } else {
        code = Cp932Invalid;
      }
    }
    if (code == Cp932Invalid) {
      if (strict) return -1;
      code = 0x30FB;
    }
    if (out) {
      if (n >= size) return -2;
      out[n] = code;
    }
    ++n;
  }
  return (long)n;
}
