// The metadata of one file the updater installs, as a package entry carries it: what the
// comparison holds against the file on disk and what the writer applies. The package format
// (package/format.h) stores it; the file-system helpers need nothing else of the package.
#pragma once

#include "platform/platform.h"

struct EntryHeader {
  DWORD DataLength;
  DWORD Attributes;  // FILE_ATTRIBUTE_* bits, applied unchanged
  FILETIME LastWrite;
  DWORD NameLength;
};
