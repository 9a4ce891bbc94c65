// Layer-internal: a path below a drive's root as the file calls act on it. The folder holding
// its last level is opened beneath the drive's root without crossing a link, and the last level
// is then acted on through that folder (see beneath.cpp); on a drive written through, that
// folder is what gets made durable after a change.
#pragma once

#include <limits.h>
#include <sys/stat.h>

#include "platform/extra_calls.h"

// The folder that holds a path's last level, opened without crossing a link, and the name of
// that level in it.
struct PosixBeneath {
  int Folder;           // the caller closes it (PosixCloseBeneath)
  int Owned;            // 0: Folder is the drive's cached root, which stays open
  int Readable;         // Folder is open for reading (it can be synced), not O_PATH only
  const char* Name;     // the last level, in Host; "." for the root itself
  int IsRoot;           // the path names the drive's root
  int NamedAsFolder;    // the path ended in a separator
  char Host[PATH_MAX];  // the whole host path, without a final separator below the root
};

// Maps `windowsPath` and opens the folder of its last level: 1, or 0 with the error set (the
// drive's, ERROR_PATH_NOT_FOUND for a level on the way that is missing, not a folder or a link).
int PosixOpenBeneath(LPCSTR windowsPath, PosixBeneath* at);
void PosixCloseBeneath(PosixBeneath* at);

// What stands at the path, as lstat sees it: 1 with `st` filled, or 0 with errno set.
int PosixLookAt(const PosixBeneath* at, struct stat* st);

// A regular file or folder: what this layer reads and writes. Anything else is a link or a
// special file, which no call but DeleteFileA acts on.
int PosixIsPlain(const struct stat* st);

// The entries of the folder that holds the path's last level, and its file system, made
// durable (see beneath.cpp). 0 with errno set when the medium refuses.
int PosixSyncFolder(const PosixBeneath* at);

// A new folder and the folder holding it, made durable.
int PosixSyncNewFolder(const PosixBeneath* at);
