// Conversion between the ANSI code page the program speaks (932, Shift-JIS) and the UTF-8 the
// host file system and terminal use. Shared by the POSIX layer and the host tools.
#pragma once

#include <stddef.h>

// 1 for a lead byte of code page 932; the trail byte after one may be any of 0x40-0x7E,
// 0x80-0xFC, the backslash 0x5C included.
inline int HostIsLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Converts the NUL-terminated text into `out` (`size` bytes, NUL included). 0 when the text is
// not valid in its encoding (or has no form in the other) or the result does not fit; `out`
// then holds the empty string.
int HostAnsiToUtf8(const char* ansi, char* out, size_t size);
int HostUtf8ToAnsi(const char* utf8, char* out, size_t size);

// 1 when the `length` bytes of code page 932 text come back byte for byte from a round trip
// through UTF-8: every character in it is ASCII, a half-width katakana, or a double-byte
// character of the JIS rows (lead bytes 0x81-0x86, 0x88-0x9F, 0xE0-0xEA), none of which has a
// second code. The NEC and IBM extension rows (0x87, 0xED-0xEE, 0xFA-0xFC) repeat characters
// found elsewhere, and the user-defined rows (0xF0-0xF9) are left to the converter: text with
// any of those gives 0. Only says something of text HostAnsiToUtf8 accepts.
int HostAnsiRoundTrips(const char* ansi, size_t length);

// Converts `length` bytes of code page 932 text to UTF-16 in `out` (room for `size` units; NULL
// with 0 to learn the count). The number of units, or -1 when a byte sequence is no character
// and `strict` (without it such a sequence becomes U+30FB, as Windows' table for 932 gives),
// or -2 when the result does not fit.
long HostAnsiToUtf16(const char* ansi, size_t length, unsigned short* out, size_t size, int strict);
