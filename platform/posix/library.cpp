// The DLL search calls, answered as a Windows 7 without the update that brought
// SetDefaultDllDirectories: kernel32 is loaded, that call is not found, and SetDllDirectoryA
// succeeds; there is no system folder of DLLs, so none is loaded from it. There is nothing to
// restrict on Linux: the dynamic loader never looks in the program's folder (no RPATH of
// $ORIGIN here), so the program's fallback runs and changes nothing, which is what it must do
// on such a Windows too.
#include <strings.h>

#include "platform/extra_calls.h"
#include "platform/posix/module.h"

namespace {

// kernel32 as a module: it carries no resources of the program.
const HINSTANCE__ Kernel32Module = {nullptr, 0};

}  // namespace

extern "C" HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
  if (moduleName == nullptr) return nullptr;  // the running program, as PosixProgramModule
  if (strcasecmp(moduleName, "kernel32.dll") == 0 || strcasecmp(moduleName, "kernel32") == 0) {
    return const_cast<HMODULE>(&Kernel32Module);
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE, LPCSTR) {
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

extern "C" BOOL WINAPI SetDllDirectoryA(LPCSTR) { return TRUE; }

extern "C" UINT WINAPI GetSystemDirectoryA(LPSTR, UINT) {
  SetLastError(ERROR_PATH_NOT_FOUND);
  return 0;
}

extern "C" HMODULE WINAPI LoadLibraryA(LPCSTR) {
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}
