// Conversion between the ANSI code page the program speaks (932, Shift-JIS) and the UTF-8 the
// host file system and terminal use. Shared by the POSIX layer and the host tools.
#pragma once

#include <stddef.h>

// Converts the NUL-terminated text into `out` (`size` bytes, NUL included). 0 when the text is
// not valid in its encoding (or has no form in the other) or the result does not fit; `out`
// then holds the empty string.
int PosixAnsiToUtf8(const char* ansi, char* out, size_t size);
int PosixUtf8ToAnsi(const char* utf8, char* out, size_t size);
