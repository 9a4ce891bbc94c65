// The calling thread's last error, as GetLastError/SetLastError keep it on Windows, and the
// error mode, which means nothing here (no system dialogs to suppress).
#include "platform/platform.h"

static thread_local DWORD LastError = ERROR_SUCCESS;

extern "C" DWORD WINAPI GetLastError(void) { return LastError; }

extern "C" void WINAPI SetLastError(DWORD error) { LastError = error; }

extern "C" UINT WINAPI SetErrorMode(UINT) { return 0; }
