// Layer-internal: where a Windows path lands on the host. Drive letters map to host folders
// through the drive table (see drives.cpp for its format); the rest of the POSIX layer and the
// shell calls go through here so that every call resolves a path the same way.
#pragma once

#include <stddef.h>

// X:\... -> host path (UTF-8, NUL-terminated, in `out` of `size` bytes). 1, or 0 with
// SetLastError: ERROR_PATH_NOT_FOUND (no drive letter, unknown drive), ERROR_NOT_READY (a
// removable drive without a medium), ERROR_INVALID_NAME (not valid code page 932),
// ERROR_FILENAME_EXCED_RANGE (the host path does not fit).
int PosixHostPath(const char* windowsPath, char* out, size_t size);

// The same, also giving the length of the drive's own host folder at the start of `out`
// (`out[*rootLength] == '\0'` when the path names the drive root itself), and the drive's
// type, for calls that must treat the root specially.
int PosixHostPathOfDrive(const char* windowsPath, char* out, size_t size, size_t* rootLength);
