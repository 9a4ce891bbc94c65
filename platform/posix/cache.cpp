// The POSIX layer's cache of what it keeps between calls, and only here: two small tables, in
// the manner of a kernel's own. Nothing in them changes an answer; they save the calls that
// would find the same thing out again. The program never sees them except through what the
// calls answer.
//
// Cached drive roots (one slot per drive letter).
//   What:       an O_PATH descriptor of the folder a drive's root leads to, with that folder's
//               device and inode number and the root's path ("<table>/e:/") it was kept under.
//   Filled:     by the first file call on the drive (PosixCacheRoot, from PosixOpenBeneath).
//   Checked:    on every file call that goes below the root, with one stat of the root's path
//               through the table's link, as the system resolves it now. The descriptor is used
//               only when that stat leads to the very folder it holds (same path, device and
//               inode; the inode number cannot go to another folder while the descriptor holds
//               it). The per-call openat2 from that descriptor (RESOLVE_BENEATH |
//               RESOLVE_NO_SYMLINKS) then checks every level below the root, so the kernel
//               still refuses any link below a drive's root on every call.
//   Invalidated: at the next file call after the drive table changes what the root leads to (a
//               link removed, changed or leading to another folder, a folder mounted over the
//               root, ZARPO_DOSDEVICES naming another table): the old descriptor is closed, and
//               the new folder kept, or, when the root leads to no folder, the call answers as a
//               drive without a medium does. So a change of the table takes effect at the next
//               call, as when nothing was kept, and a removed drive answers as it always did.
//   Held:       the folder stays open while the process runs, once a file call reached it: a
//               stick mounted there cannot be unmounted without force (EBUSY) until the program
//               ends. A key disk is not to be pulled during an update anyway.
//   Drive types are not kept: the drive-types file is read whenever a type is needed.
//
// The handle table (one slot per descriptor below HandleSlots).
//   What:       for each descriptor CreateFileA handed out, its open flags (so that an access
//               check or the write-through test needs no fcntl) and whether anything was done
//               through it since the file was last synced (so that closing a handle of a drive
//               written through syncs only what is not on the medium yet).
//   Filled:     by CreateFileA; marked by WriteFile (changed) and SetFileTime (synced).
//   Invalidated: by CloseHandle and FindClose, which forget the descriptor. A descriptor the
//               table does not know is asked of the host, as before.
//
// The cached roots' descriptors are no handles: CloseHandle and FindClose refuse them.
#include "platform/posix/cache.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct CachedRoot {
  int Fd;  // -1: none
  dev_t Device;
  ino_t Inode;
  char Path[PATH_MAX];
};

const int Letters = 26;
CachedRoot roots[Letters];
int rootsReady = 0;

void PrepareRoots() {
  if (rootsReady) return;
  for (CachedRoot& root : roots) root.Fd = -1;
  rootsReady = 1;
}

void Drop(CachedRoot* root) {
  if (root->Fd >= 0) close(root->Fd);
  root->Fd = -1;
  root->Path[0] = '\0';
}

enum { HandleKnown = 1, HandleUnsynced = 2 };
const int HandleSlots = 4096;
struct HandleSlot {
  unsigned char State;
  int Flags;
};
HandleSlot handles[HandleSlots];

}  // namespace

int PosixCacheRoot(const char* rootPath, size_t length) {
  PrepareRoots();
  // "<table>/e:/": the letter is the third byte from the end.
  if (length < 3 || length >= PATH_MAX) {
    errno = ENAMETOOLONG;
    return -1;
  }
  int letter = (rootPath[length - 3] | 0x20) - 'a';
  if (letter < 0 || letter >= Letters) {
    errno = EINVAL;
    return -1;
  }
  CachedRoot* root = &roots[letter];
  struct stat now;
  int found = stat(rootPath, &now) == 0;
  if (!found || !S_ISDIR(now.st_mode)) {
    int saved = found ? ENOTDIR : errno;
    Drop(root);
    errno = saved;
    return -1;
  }
  if (root->Fd >= 0 && root->Device == now.st_dev && root->Inode == now.st_ino &&
      strcmp(root->Path, rootPath) == 0) {
    return root->Fd;
  }
  Drop(root);
  int fd = open(rootPath, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat held;
  if (fstat(fd, &held) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  root->Fd = fd;
  root->Device = held.st_dev;
  root->Inode = held.st_ino;
  memcpy(root->Path, rootPath, length + 1);
  return fd;
}

int PosixCacheIsRootFd(int fd) {
  if (fd < 0 || !rootsReady) return 0;
  for (const CachedRoot& root : roots) {
    if (root.Fd == fd) return 1;
  }
  return 0;
}

void PosixCacheAddHandle(int fd, int openFlags) {
  if (fd < 0 || fd >= HandleSlots) return;
  handles[fd].State = HandleKnown | HandleUnsynced;
  handles[fd].Flags = openFlags;
}

int PosixCacheHandleFlags(int fd) {
  if (fd < 0 || fd >= HandleSlots || !(handles[fd].State & HandleKnown)) return -1;
  return handles[fd].Flags;
}

void PosixCacheHandleChanged(int fd) {
  if (fd >= 0 && fd < HandleSlots) handles[fd].State |= HandleUnsynced;
}

void PosixCacheHandleSynced(int fd) {
  if (fd >= 0 && fd < HandleSlots && (handles[fd].State & HandleKnown)) {
    handles[fd].State = HandleKnown;
  }
}

int PosixCacheHandleNeedsSync(int fd) {
  if (fd < 0 || fd >= HandleSlots || !(handles[fd].State & HandleKnown)) return 1;
  return (handles[fd].State & HandleUnsynced) != 0;
}

void PosixCacheForgetHandle(int fd) {
  if (fd >= 0 && fd < HandleSlots) handles[fd].State = 0;
}
