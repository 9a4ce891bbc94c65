// Calls the updater never makes but the tests and the host programs do: error codes read back,
// folders removed, files read and attributes looked up, spelled as Win32 spells them. On
// Windows they come with the system headers; elsewhere the POSIX layer implements them beside
// the program's own calls (platform/platform.h).
#pragma once

#include "platform/platform.h"

#ifndef _WIN32

#ifdef __cplusplus
extern "C" {
#endif

DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD error);
BOOL WINAPI RemoveDirectoryA(LPCSTR pathName);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                     LPOVERLAPPED overlapped);
DWORD WINAPI GetFileAttributesA(LPCSTR fileName);

#ifdef __cplusplus
}
#endif

#endif  // !_WIN32
