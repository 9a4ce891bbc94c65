// stand-in-setup: plays the product's Setup.exe in end-to-end tests. It shows nothing and
// leaves a mark, "setup-ran.txt" holding its command line, in the folder it was started from,
// so a test can tell that the updater really started it. A GUI-subsystem program, as a real
// setup would be: no console is created when the shell starts it.
#include <windows.h>

#include <string.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return 1;
  char* name = strrchr(path, '\\');
  if (!name || (size_t)(name + 1 - path) + sizeof "setup-ran.txt" > sizeof path) return 1;
  strcpy(name + 1, "setup-ran.txt");
  HANDLE mark = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (mark == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(mark, commandLine, (DWORD)strlen(commandLine), &written, nullptr);
  CloseHandle(mark);
  return 0;
}
