// Paths below a drive's root, resolved for the file calls. No symbolic link is followed below
// a drive's root, whatever the call: the folder holding the last level of a path is opened
// beneath the root without crossing a link (openat2, or one level at a time where the kernel
// lacks it), and the last level is then acted on through that folder, never through a link. A
// link at a path is an object of its own: found as it is (REPARSE_POINT), deleted itself,
// refused by every other call. So are FIFOs, sockets and devices (DEVICE): nothing is ever
// written to them or waited on. The root itself is reached through the drive table's link, like
// the rest of the host outside the drive; its folder is kept open between calls and checked on
// every call (cache.cpp), and the openat2 of each call starts from it.
//
// Also here: making a folder's entries durable on a drive written through.
#include "platform/posix/beneath.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/posix/cache.h"
#include "platform/posix/errors.h"
#include "platform/posix/hostpath.h"

namespace {

int MapPath(LPCSTR windowsPath, char* out, size_t* rootLength = nullptr) {
  size_t root = 0;
  if (!PosixHostPathOfDrive(windowsPath, out, PATH_MAX, &root)) return 0;
  if (rootLength) *rootLength = root;
  return 1;
}

int IsRoot(const char* hostPath, size_t rootLength) { return hostPath[rootLength] == '\0'; }

// Where the kernel has no openat2 (older kernels, emulators): one level at a time, each opened
// without following a link and checked to be a folder.
int OpenLevelByLevel(int rootFd, char* relative) {
  int fd = fcntl(rootFd, F_DUPFD_CLOEXEC, 0);
  for (char* level = relative; fd >= 0 && *level;) {
    char* slash = strchr(level, '/');
    if (slash) *slash = '\0';
    int next = openat(fd, level, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (next >= 0 && (fstat(next, &st) != 0 || !S_ISDIR(st.st_mode))) {
      close(next);
      next = -1;
      errno = ENOTDIR;
    }
    int saved = errno;
    close(fd);
    errno = saved;
    fd = next;
    if (!slash) break;
    *slash = '/';
    level = slash + 1;
  }
  return fd;
}

// The folder `relative` (no leading or final slash, never empty) below `rootFd`, or -1 with
// errno set: ELOOP when a link is on the way. Opened for reading where that is allowed
// (`*readable`), so that a drive written through can sync it without opening it again.
int OpenFolderBeneath(int rootFd, char* relative, int* readable) {
  struct open_how how;
  memset(&how, 0, sizeof how);
  how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  *readable = 1;
  for (int attempt = 0; attempt < 4; ++attempt) {
    long fd = syscall(SYS_openat2, rootFd, relative, &how, sizeof how);
    if (fd >= 0) return (int)fd;
    if (errno == EACCES && *readable) {  // a folder that may be passed, not listed
      how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
      *readable = 0;
      continue;
    }
    if (errno != EAGAIN) break;  // EAGAIN: a rename elsewhere raced the lookup
  }
  if (errno != ENOSYS) return -1;
  *readable = 0;
  return OpenLevelByLevel(rootFd, relative);
}

// The drive's root could not be opened: a drive without a medium, or no folder there.
int FailRoot(const char* rootPath) {
  DWORD error = ERROR_PATH_NOT_FOUND;
  PosixDriveErrorOfHostPath(rootPath, &error);
  return PosixFail(error);
}

// Makes the folder `name` below `folder` ("." for that folder itself) durable: opened for
// reading, never through a link, and synced, and then the whole file system it is on. The
// folder's fsync alone is not enough on Linux's vfat: a folder's first cluster stays on the
// books of the folder it was made in, so entries written there later are left in the cache by
// the folder's own fsync (a stick pulled then showed an end-of-folder mark before entries that
// had reached it, and Windows stops reading the folder at that mark).
// 0 with errno set when the medium refuses.
int SyncFolderAt(int folder, const char* name) {
  int fd = openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return 0;
  int synced = fsync(fd) == 0 && syncfs(fd) == 0;
  int saved = errno;
  close(fd);
  errno = saved;
  return synced;
}

}  // namespace

int PosixOpenBeneath(LPCSTR windowsPath, PosixBeneath* at) {
  at->Folder = -1;
  at->Owned = 0;
  at->Readable = 0;
  size_t root = 0;
  if (!MapPath(windowsPath, at->Host, &root)) return 0;
  char* host = at->Host;
  size_t length = strlen(host);
  at->IsRoot = IsRoot(host, root);
  at->NamedAsFolder = !at->IsRoot && host[length - 1] == '/';
  if (at->NamedAsFolder) host[--length] = '\0';

  char rootPath[PATH_MAX];
  memcpy(rootPath, host, root);
  rootPath[root] = '\0';
  int rootFd = PosixCacheRoot(rootPath, root);
  if (rootFd < 0) return FailRoot(rootPath);
  if (at->IsRoot) {
    at->Folder = rootFd;
    at->Name = ".";
    return 1;
  }
  char* last = strrchr(host + root, '/');
  at->Name = last ? last + 1 : host + root;
  if (!last) {
    at->Folder = rootFd;
    return 1;
  }
  char relative[PATH_MAX];
  size_t n = (size_t)(last - (host + root));
  memcpy(relative, host + root, n);
  relative[n] = '\0';
  at->Folder = OpenFolderBeneath(rootFd, relative, &at->Readable);
  int saved = errno;
  at->Owned = 1;
  if (at->Folder >= 0) return 1;
  if (saved == ENOENT || saved == ENOTDIR || saved == ELOOP || saved == EXDEV || saved == EAGAIN) {
    return PosixFail(ERROR_PATH_NOT_FOUND);
  }
  return PosixFail(PosixErrorFromErrno(saved));
}

void PosixCloseBeneath(PosixBeneath* at) {
  if (at->Folder >= 0 && at->Owned) close(at->Folder);
  at->Folder = -1;
}

int PosixLookAt(const PosixBeneath* at, struct stat* st) {
  return fstatat(at->Folder, at->Name, st, AT_SYMLINK_NOFOLLOW) == 0;
}

int PosixIsPlain(const struct stat* st) { return S_ISREG(st->st_mode) || S_ISDIR(st->st_mode); }

// As SyncFolderAt makes them durable: through the folder's descriptor when that is open for
// reading, else opened again for it (O_PATH cannot be synced).
int PosixSyncFolder(const PosixBeneath* at) {
  if (at->Readable) return fsync(at->Folder) == 0 && syncfs(at->Folder) == 0;
  return SyncFolderAt(at->Folder, ".");
}

int PosixSyncNewFolder(const PosixBeneath* at) {
  return SyncFolderAt(at->Folder, at->Name) && PosixSyncFolder(at);
}
