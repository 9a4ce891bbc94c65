// Layer-internal helpers shared by the POSIX layer's file, drive and time calls: how host errors
// become Win32 error codes, how FILETIME values meet host times, and how file handles carry
// their descriptors.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include "platform/extra_calls.h"

// The Win32 code for a host errno, by the errno alone (ENOENT: ERROR_FILE_NOT_FOUND). Callers
// that know more about the path (a folder on the way missing, no medium) report that instead.
DWORD PosixErrorFromErrno(int error);

// FILETIME (100 ns since 1601-01-01 UTC) <-> host time, exact to 100 ns. Times before 1601
// become 0.
uint64_t PosixFileTimeValue(const FILETIME* time);
FILETIME PosixFileTimeFromTimespec(struct timespec time);
struct timespec PosixTimespecFromFileTime(uint64_t value);

// Handles are descriptors in disguise, so that nothing lives on the heap and a leaked handle is
// a leaked descriptor: (fd + 1) * 4, plus 1 for a find handle. Never NULL, never
// INVALID_HANDLE_VALUE. Decoding gives -1 for anything that is not a handle of that kind.
enum { PosixFileHandle = 0, PosixFindHandle = 1 };
HANDLE PosixHandleFromFd(int fd, int kind);
int PosixFdFromHandle(HANDLE handle, int kind);
