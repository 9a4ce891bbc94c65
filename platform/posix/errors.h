// Layer-internal: the Win32 error a call reports for what the host answered (errors.cpp).
#pragma once

#include "platform/extra_calls.h"

// The Win32 code for a host errno, by the errno alone (ENOENT: ERROR_FILE_NOT_FOUND). Callers
// that know more about the path (a folder on the way missing, no medium) report that instead.
DWORD PosixErrorFromErrno(int error);

// A failure: `error` becomes the thread's last error, and the result is 0.
int PosixFail(DWORD error);

// The same with the Win32 code for errno.
int PosixFailErrno();
