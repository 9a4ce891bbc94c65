// Writing one package entry over whatever stands at its path, and removing a named file,
// read-only, hidden and system files included.
#pragma once

#include "platform/platform.h"

// The bits a file can be given: read-only, hidden, system, archive, normal, temporary, offline
// and not-content-indexed. CreateFileA takes FILE_FLAG_* and security bits in the same argument
// as the attributes; WriteEntryFile never hands it any of those.
const DWORD FileAttributeBits = 0x31A7;

// Leaves `path` with exactly these contents, attributes and (when given) last-write time.
int WriteEntryFile(const char* path, const BYTE* data, DWORD length, DWORD attributes,
                   const FILETIME* lastWrite);

// Removes folder\name whatever its attributes; every failure is ignored.
void RemoveObsoleteFile(const char* folder, const char* name);
