// The handles of the file calls: a descriptor in disguise for each, what a handle may be used
// for, and closing one (CloseHandle, FindClose). The open flags of each descriptor CreateFileA
// handed out, and whether anything was done through it since it was last synced, are kept in
// the handle table (cache.cpp). The cached drive roots' descriptors are no handles: CloseHandle
// and FindClose refuse them.
#include "platform/posix/handles.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <unistd.h>

#include "platform/posix/cache.h"
#include "platform/posix/errors.h"

namespace {

// The open flags of a file handle's descriptor: from the handle table, else asked of the host;
// -1 for no descriptor, and for a cached root's, which is no handle.
int HandleFlags(int fd) {
  if (fd < 0 || PosixCacheIsRootFd(fd)) return -1;
  int flags = PosixCacheHandleFlags(fd);
  return flags >= 0 ? flags : fcntl(fd, F_GETFL);
}

}  // namespace

HANDLE PosixHandleFromFd(int fd, int kind) { return (HANDLE)(((intptr_t)fd + 1) * 4 + kind); }

int PosixFdFromHandle(HANDLE handle, int kind) {
  intptr_t value = (intptr_t)handle;
  if (value < 4 || (value & 3) != kind) return -1;
  intptr_t fd = value / 4 - 1;
  return fd <= INT_MAX ? (int)fd : -1;
}

HANDLE PosixNewFileHandle(int fd, int flags) {
  PosixCacheAddHandle(fd, flags);
  return PosixHandleFromFd(fd, PosixFileHandle);
}

int PosixUsableFd(HANDLE file, int writing, int* openFlags) {
  int fd = PosixFdFromHandle(file, PosixFileHandle);
  int flags = HandleFlags(fd);
  if (openFlags) *openFlags = flags;
  if (flags < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  int mode = flags & O_ACCMODE;
  if (writing ? mode == O_RDONLY : mode == O_WRONLY) {
    SetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  return fd;
}

// A handle of a drive written through is synced before it goes, unless nothing was done through
// it since SetFileTime synced it; a sync the medium refuses still closes the handle, and fails.
extern "C" BOOL WINAPI CloseHandle(HANDLE object) {
  int fd = PosixFdFromHandle(object, PosixFileHandle);
  int flags = HandleFlags(fd);
  if (flags < 0) return PosixFail(ERROR_INVALID_HANDLE);
  DWORD error = ERROR_SUCCESS;
  if ((flags & O_DSYNC) && PosixCacheHandleNeedsSync(fd) && fsync(fd) != 0) {
    error = PosixErrorFromErrno(errno);
  }
  PosixCacheForgetHandle(fd);
  if (close(fd) != 0) return PosixFail(ERROR_INVALID_HANDLE);
  if (error != ERROR_SUCCESS) return PosixFail(error);
  return TRUE;
}

extern "C" BOOL WINAPI FindClose(HANDLE findHandle) {
  int fd = PosixFdFromHandle(findHandle, PosixFindHandle);
  if (fd < 0 || PosixCacheIsRootFd(fd)) return PosixFail(ERROR_INVALID_HANDLE);
  PosixCacheForgetHandle(fd);
  if (close(fd) != 0) return PosixFail(ERROR_INVALID_HANDLE);
  return TRUE;
}
