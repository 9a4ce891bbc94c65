// Layer-internal: the handles of the file calls and the descriptors behind them (handles.cpp).
#pragma once

#include "platform/extra_calls.h"

// Handles are descriptors in disguise, so that nothing lives on the heap and a leaked handle is
// a leaked descriptor: (fd + 1) * 4, plus 1 for a find handle. Never NULL, never
// INVALID_HANDLE_VALUE. Decoding gives -1 for anything that is not a handle of that kind.
enum { PosixFileHandle = 0, PosixFindHandle = 1 };
HANDLE PosixHandleFromFd(int fd, int kind);
int PosixFdFromHandle(HANDLE handle, int kind);

// The handle of a descriptor CreateFileA opened with `flags`, entered in the handle table.
HANDLE PosixNewFileHandle(int fd, int flags);

// The descriptor behind a file handle that may be used for writing (`writing` 1) or reading
// (0), or -1 with the error set. `*openFlags` (may be NULL) gets the flags it was opened with.
int PosixUsableFd(HANDLE file, int writing, int* openFlags = nullptr);
