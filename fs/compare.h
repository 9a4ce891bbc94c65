// Whether a file on disk already equals a package entry: low 32 bits of the size, every
// attribute bit, and the last-write time at DOS (two-second) resolution. Contents are never read.
#pragma once

#include "fs/entry.h"

// DOS date in the high half, DOS time in the low half; `fallback` when the time cannot be
// expressed as a DOS date (outside 1980-2107).
LONG DosTimeKey(const FILETIME* time, LONG fallback);

// Traces exactly one line: "NotFound [%s]", "Existing [%s]" or "Different [%s] %d, %X, %d".
// Also tells whether the path led to a file of another name: the lookup reported a name for the
// last level that is not the one asked for (a FAT disk resolves a short alias or a name with
// trailing dots to the file that owns it). `*otherFile` is then 1, the answer is 0 and the trace
// line is "Different"; writing to that path would replace the other file.
int IsSameFile(const char* path, const EntryHeader* entry, int* otherFile);
