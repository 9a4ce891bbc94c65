// install-package-file: the updater's installation, over the POSIX layer, of a package read from
// a file instead of the one the program carries, so that the key-disk scenarios can give the
// Linux build entries crafted for one file system (a name that differs only in case, a short
// alias, a trailing dot) as swap-package does for the Windows program. Test-only.
//
//   install-package-file PACKAGE TARGET_FOLDER     e.g. package.bin "E:\Zarpo\"
//
// Prints "installed" or "failed" (the result the program would show as its last box) and exits
// 0 or 1; 2 when the package file cannot be read. Trace lines go to the monitor as the
// program's do.
#include <stdio.h>

#include <string>

#include "package/install.h"
#include "platform/posix/module.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: install-package-file PACKAGE TARGET_FOLDER\n");
    return 2;
  }
  std::string bytes;
  FILE* file = fopen(argv[1], "rb");
  if (file == nullptr) {
    perror(argv[1]);
    return 2;
  }
  char buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
  fclose(file);

  const BYTE* data = reinterpret_cast<const BYTE*>(bytes.data());
  PosixResource resource = {"ZIPFILE", "UPDATE", 1041, data, data + bytes.size()};
  HINSTANCE__ module = {&resource, 1};
  int installed = InstallPackageFrom(&module, argv[2]);
  printf("%s\n", installed ? "installed" : "failed");
  return installed ? 0 : 1;
}
