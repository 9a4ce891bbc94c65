// ANSI text in code page 932, the code page the program speaks everywhere on the POSIX side:
// lead-byte recognition, stepping back over double-byte characters, conversion to UTF-16 and
// user32's formatting.
#include <stdio.h>
#include <string.h>

#include "host/codepage.h"
#include "platform/extra_calls.h"

extern "C" BOOL WINAPI IsDBCSLeadByte(BYTE testChar) { return HostIsLeadByte(testChar); }

// The character before `current`, found by walking forward from `start` so that a trail byte
// is never taken for a character of its own. At (or before) the start, the start. As on
// Windows, the walk stops at a NUL, and a lead byte followed by the NUL counts as one byte.
extern "C" LPSTR WINAPI CharPrevA(LPCSTR start, LPCSTR current) {
  while (*start && start < current) {
    LPCSTR next = start + ((IsDBCSLeadByte((BYTE)start[0]) && start[1]) ? 2 : 1);
    if (next >= current) break;
    start = next;
  }
  return const_cast<LPSTR>(start);
}

// user32's formatting: at most 1024 bytes, the NUL included, whatever the caller's buffer. The
// host's vsnprintf stands in; the program only passes formats the two agree on.
extern "C" int WINAPI wvsprintfA(LPSTR out, LPCSTR format, va_list arguments) {
  int n = vsnprintf(out, 1024, format, arguments);
  if (n < 0) {
    out[0] = '\0';
    return 0;
  }
  return n < 1024 ? n : 1023;
}

extern "C" int wsprintfA(LPSTR out, LPCSTR format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int n = wvsprintfA(out, format, arguments);
  va_end(arguments);
  return n;
}

// The ANSI code page is 932 whatever the host's locale: no other code page is known here.
extern "C" int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length,
                                          LPWSTR out, int outLength) {
  if ((codePage != CP_ACP && codePage != 932) || !text || length < -1 || length == 0 ||
      outLength < 0 || (outLength > 0 && !out) || (flags & ~MB_ERR_INVALID_CHARS)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t bytes = length < 0 ? strlen(text) + 1 : (size_t)length;
  long n = HostAnsiToUtf16(text, bytes, outLength ? out : nullptr, (size_t)outLength,
                           (flags & MB_ERR_INVALID_CHARS) != 0);
  if (n == -1) SetLastError(ERROR_NO_UNICODE_TRANSLATION);
  if (n == -2) SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return n < 0 ? 0 : (int)n;
}
