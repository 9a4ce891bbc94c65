// planted-dll: the DLL an attacker would leave beside a downloaded program, for the planted-DLL
// scenarios. Copied there under the name of a DLL the system loads by name at run time; when a
// process loads it, its DllMain leaves a mark beside it: it appends the path of the program
// that loaded it, as a line, to NAME.dll.loaded. It exports nothing, so a program that does load it
// may well fail afterwards: the mark, made first, is what the test looks at.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char mark[MAX_PATH + 8];
  DWORD length = GetModuleFileNameA(instance, mark, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcatA(mark, ".loaded");
  char program[MAX_PATH + 1];
  DWORD programLength = GetModuleFileNameA(nullptr, program, MAX_PATH);
  if (programLength >= MAX_PATH) programLength = 0;
  // Appended, one line per process, since several programs of the folder may load it.
  lstrcpyA(program + programLength, "\n");
  HANDLE file = CreateFileA(mark, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, program, programLength + 1, &written, nullptr);
    CloseHandle(file);
  }
  return TRUE;
}
