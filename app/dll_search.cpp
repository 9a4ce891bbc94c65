// The DLL search of a program that users start from a Downloads folder, next to files nobody
// checked. Windows looks for a DLL loaded by name (one that is not a known system DLL) in the
// program's own folder first, so a planted uxtheme.dll or version.dll would run inside the
// program as soon as a message box or ShellExecuteA loads one.
#include "app/dll_search.h"

#include "platform/platform.h"

namespace {

typedef BOOL(WINAPI* SetDefaultDllDirectoriesCall)(DWORD directoryFlags);

}  // namespace

int RestrictDllSearch() {
  // SetDefaultDllDirectories came with Windows 8 and, for Windows 7, with an update
  // (KB2533623) that not every machine has: looked up, not imported, so that the program still
  // starts without it. kernel32 is always loaded, so no library is loaded to find it.
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  FARPROC found = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
  if (found) {
    // Through void (*)(void), the one function type a cast may go through without a warning.
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesCall>(
        reinterpret_cast<void (*)(void)>(found));
    if (setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return 1;
  }
  // Without it, an empty DLL directory takes the current folder out of the search; the
  // program's own folder stays first, and that this cannot change is the gap left open there.
  SetDllDirectoryA("");
  return 0;
}
