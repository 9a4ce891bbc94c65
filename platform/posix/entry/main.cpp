// The POSIX program's entry: what the C runtime's start-up does on Windows for a GUI program,
// which is to call WinMain and return its value as the exit code. The command line is not read
// by the updater; it is passed on only as Windows would.
#include <locale.h>
#include <string.h>

#include "platform/platform.h"

int main(int argc, char** argv) {
  setlocale(LC_ALL, "");
  char commandLine[1024] = "";
  size_t used = 0;
  for (int i = 1; i < argc; i++) {
    size_t length = strlen(argv[i]);
    if (used + length + 2 > sizeof commandLine) break;
    if (used) commandLine[used++] = ' ';
    memcpy(commandLine + used, argv[i], length);
    used += length;
    commandLine[used] = '\0';
  }
  return WinMain(nullptr, nullptr, commandLine, SW_SHOWNORMAL);
}
