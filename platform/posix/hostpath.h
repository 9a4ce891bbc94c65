// Layer-internal: where a Windows path lands on the host. Drive letters map to host folders
// through the drive table (see drives.cpp for its format); the rest of the POSIX layer and the
// shell calls go through here so that every call resolves a path the same way.
#pragma once

#include <stddef.h>

#include "platform/extra_calls.h"

// X:\... -> host path (UTF-8, NUL-terminated, in `out` of `size` bytes), the drive's root named
// by its folder as the table's link gives it (a relative link taken from the table folder). 1,
// or 0 with SetLastError: ERROR_PATH_NOT_FOUND (no drive letter, unknown drive),
// ERROR_NOT_READY (a removable drive without a medium), ERROR_INVALID_NAME (not valid code page
// 932), ERROR_FILENAME_EXCED_RANGE (the host path does not fit).
int PosixHostPath(const char* windowsPath, char* out, size_t size);

// The same for the file calls, with less asked of the host: the root is named through the
// table's own entry, "<table>/e:/", which every host call follows (the final slash makes lstat
// and unlink follow it too), and whether it leads to a folder is only looked at when the path
// names the root itself. Below the root nothing can be reached without a medium, so a file
// call whose root cannot be opened asks PosixDriveErrorOfHostPath which error to report. Also
// gives the length of the root at the start of `out` (`out[*rootLength] == '\0'` when the path
// names the drive root itself), for calls that must treat the root specially.
int PosixHostPathOfDrive(const char* windowsPath, char* out, size_t size, size_t* rootLength);

// For a host call refused on a path PosixHostPathOfDrive gave: 1, with ERROR_NOT_READY or
// ERROR_PATH_NOT_FOUND as the drive's type calls for in `*error`, when that drive has no medium
// now; 0 when it has one or `hostPath` (may be NULL) is no such path.
int PosixDriveErrorOfHostPath(const char* hostPath, DWORD* error);

// 1 when `hostPath` (as PosixHostPathOfDrive gives it) lies on a drive the table calls
// removable. Such a drive is written through, as Windows writes a USB drive under its default
// "quick removal" policy: every call that changes a file or folder has it on the medium when it
// returns, so that a drive pulled at any moment never shows a file's final size and time over
// data that never reached it. Reads the drive-types file.
int PosixWritesThrough(const char* hostPath);
