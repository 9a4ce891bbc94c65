// hold-file: keeps a file open with no sharing at all, as another program using it would, so
// that end-to-end tests can show what the updater does with a file in use.
//
//   hold-file PATH READY RELEASE [SECONDS]
//
// Opens PATH for reading with share mode 0, then creates the file READY, and keeps PATH open
// until the file RELEASE appears (or SECONDS, default 60, have passed). Exit code 0 when PATH
// was held and released, 1 when it could not be opened, 2 on a time-out.
#include <windows.h>

#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc < 4) return 3;
  HANDLE held = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1;
  HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
  int seconds = argc > 4 ? atoi(argv[4]) : 60;
  int code = 2;
  for (int waited = 0; waited < seconds * 20; waited++) {
    if (GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES) {
      code = 0;
      break;
    }
    Sleep(50);
  }
  CloseHandle(held);
  return code;
}
