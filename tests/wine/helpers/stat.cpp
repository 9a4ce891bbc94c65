// stat: what Win32 reports about files, for tests that check a program's results from the
// Windows side. One line per argument:
//
//   ATTRIBUTES SIZE LASTWRITE     8 hex digits, decimal, the FILETIME as 16 hex digits
//   missing ERROR                 GetFileAttributesExA failed with ERROR (decimal)
//
// With --drive-type, the arguments are drive roots ("E:\") and each line is GetDriveTypeA's
// answer in decimal.
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
  int first = 1;
  const int driveTypes = argc > 1 && strcmp(argv[1], "--drive-type") == 0;
  if (driveTypes) first = 2;
  for (int i = first; i < argc; i++) {
    if (driveTypes) {
      printf("%u\n", GetDriveTypeA(argv[i]));
      continue;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(argv[i], GetFileExInfoStandard, &data)) {
      printf("missing %lu\n", GetLastError());
      continue;
    }
    unsigned long long size = ((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    printf("%08lX %llu %08lX%08lX\n", data.dwFileAttributes, size,
           data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
  }
  return 0;
}
