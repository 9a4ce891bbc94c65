// The DLL search of a program that users start from a Downloads folder, next to files nobody
// checked. Windows looks for a DLL loaded by name (one that is not a known system DLL) in the
// program's own folder first, so a planted uxtheme.dll or version.dll would run inside the
// program as soon as a message box or ShellExecuteA loads one.
#include "app/dll_search.h"

#include "platform/platform.h"

namespace {

typedef BOOL(WINAPI* SetDefaultDllDirectoriesCall)(DWORD directoryFlags);

// DLLs that no known-DLL list covers and that system DLLs load by name while the boxes show
// (seen under Wine: uxtheme for the boxes' themes, msimg32 for uxtheme's drawing). Loaded from
// the system folder by their full path first, a later load by name finds them loaded. That
// covers what the restricted search leaves open: Wine looks for a system DLL's delay-loaded
// imports in the program's folder all the same, and a system without SetDefaultDllDirectories
// always does.
const char* const SystemFolderDlls[] = {"uxtheme.dll", "msimg32.dll"};

void LoadFromSystemFolder() {
  char path[MAX_PATH];
  const UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  for (const char* name : SystemFolderDlls) {
    // The folder, a backslash, the name and its NUL must fit.
    size_t size = 0;
    while (name[size] != '\0') size++;
    if (length + 1 + size + 1 > sizeof path) continue;
    path[length] = '\\';
    for (size_t i = 0; i <= size; i++) path[length + 1 + i] = name[i];
    LoadLibraryA(path);  // kept for the whole run; one that fails is simply not there
  }
}

}  // namespace

int RestrictDllSearch() {
  // SetDefaultDllDirectories came with Windows 8 and, for Windows 7, with an update
  // (KB2533623) that not every machine has: looked up, not imported, so that the program still
  // starts without it. kernel32 is always loaded, so no library is loaded to find it.
  LoadFromSystemFolder();
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
