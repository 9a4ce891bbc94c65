// Code page 932 text shown on a UTF-8 terminal, for the message boxes and the
// debug-monitor program.
#pragma once

#include <stddef.h>

// Converts `length` bytes of code page 932 text into UTF-8 for display in `out` (`size`
// bytes, NUL included; size > 0). Unlike HostAnsiToUtf8 it never gives up: a byte that does
// not start a valid character with a Unicode form, and every control byte (NUL included)
// except tab and, when keepLineFeeds, the line feed, is shown as the four characters \xNN.
// The result is cut before the first character or escape that does not fit. Returns the
// number of bytes written before the NUL.
size_t HostAnsiToDisplay(const char* ansi, size_t length, int keepLineFeeds, char* out,
                         size_t size);
