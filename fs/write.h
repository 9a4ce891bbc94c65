// Writing one package entry over whatever stands at its path, and removing a named file,
// read-only, hidden and system files included.
#pragma once

#include "platform/platform.h"

// Leaves `path` with exactly these contents, attributes and (when given) last-write time.
int WriteEntryFile(const char* path, const BYTE* data, DWORD length, DWORD attributes,
                   const FILETIME* lastWrite);

// Removes folder\name whatever its attributes; every failure is ignored.
void RemoveObsoleteFile(const char* folder, const char* name);
