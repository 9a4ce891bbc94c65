// Reading and writing through a file handle: WriteFile, ReadFile, FlushFileBuffers and
// SetFileTime. A handle of a removable drive (O_DSYNC in the handle table's flags) has its file
// synced when its time is set, so that what the call answered is on the medium when the user
// pulls the stick (see folder_entries.cpp).
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/extra_calls.h"
#include "platform/posix/cache.h"
#include "platform/posix/errors.h"
#include "platform/posix/handles.h"
#include "platform/posix/times.h"

namespace {

// The descriptor for ReadFile and WriteFile, or -1 with the error set. A transfer asks the host
// anyway, and its refusal (EBADF) tells a closed handle or one opened the other way; only when
// no transfer follows (nothing to move, or a bad parameter, which a bad handle goes before) is
// the handle looked at first.
int TransferFd(HANDLE file, int writing, int badParameter, DWORD count) {
  int fd = PosixFdFromHandle(file, PosixFileHandle);
  if (fd < 0 || badParameter || count == 0) {
    fd = PosixUsableFd(file, writing);
    if (fd >= 0 && badParameter) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return -1;
    }
  }
  return fd;
}

}  // namespace

// One call writes everything, looping over short writes as the system would. On a full disk
// the count says how much did get written.
extern "C" BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite,
                                 LPDWORD bytesWritten, LPOVERLAPPED overlapped) {
  if (bytesWritten) *bytesWritten = 0;
  int fd = TransferFd(file, 1, overlapped || (!buffer && bytesToWrite), bytesToWrite);
  if (fd < 0) return FALSE;
  const char* p = static_cast<const char*>(buffer);
  DWORD done = 0;
  while (done < bytesToWrite) {
    ssize_t n = write(fd, p + done, bytesToWrite - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0 && errno == EBADF && PosixUsableFd(file, 1) < 0) return FALSE;
      DWORD error = n == 0 ? ERROR_DISK_FULL : PosixErrorFromErrno(errno);
      if (bytesWritten) *bytesWritten = done;
      return PosixFail(error);
    }
    done += (DWORD)n;
    PosixCacheHandleChanged(fd);
  }
  if (bytesWritten) *bytesWritten = done;
  return TRUE;
}

extern "C" BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                                LPOVERLAPPED overlapped) {
  if (bytesRead) *bytesRead = 0;
  int fd = TransferFd(file, 0, overlapped || (!buffer && bytesToRead), bytesToRead);
  if (fd < 0) return FALSE;
  char* p = static_cast<char*>(buffer);
  DWORD done = 0;
  while (done < bytesToRead) {
    ssize_t n = read(fd, p + done, bytesToRead - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (errno == EBADF && PosixUsableFd(file, 0) < 0) return FALSE;
      if (bytesRead) *bytesRead = done;
      return PosixFailErrno();
    }
    if (n == 0) break;  // end of file: success with what there was
    done += (DWORD)n;
  }
  if (bytesRead) *bytesRead = done;
  return TRUE;
}

namespace {

// A FILETIME for futimens: NULL, 0 and all ones leave the time as it is (the last two as
// Windows reads them); other values past 2^63 are refused.
int TimeForHost(const FILETIME* time, struct timespec* out) {
  uint64_t value = time ? PosixFileTimeValue(time) : 0;
  if (value == 0 || value == ~(uint64_t)0) {
    out->tv_sec = 0;
    out->tv_nsec = UTIME_OMIT;
    return 1;
  }
  if (value >> 63) return 0;
  *out = PosixTimespecFromFileTime(value);
  return 1;
}

}  // namespace

// The file's data and what is needed to read it back (its size, where its clusters are) on the
// medium, on every drive: fsync, which on vfat also writes the directory entry and the FAT and
// flushes the device's cache. As on Windows, a handle that cannot write is refused.
extern "C" BOOL WINAPI FlushFileBuffers(HANDLE file) {
  int fd = PosixUsableFd(file, 1);
  if (fd < 0) return FALSE;
  if (fsync(fd) != 0) return PosixFailErrno();
  PosixCacheHandleSynced(fd);
  return TRUE;
}

// The host keeps no creation time that can be set; a creation time is checked and dropped.
extern "C" BOOL WINAPI SetFileTime(HANDLE file, const FILETIME* creationTime,
                                   const FILETIME* lastAccessTime, const FILETIME* lastWriteTime) {
  int flags = 0;
  int fd = PosixUsableFd(file, 1, &flags);
  if (fd < 0) return FALSE;
  struct timespec creation;
  struct timespec times[2];
  if (!TimeForHost(creationTime, &creation) || !TimeForHost(lastAccessTime, &times[0]) ||
      !TimeForHost(lastWriteTime, &times[1])) {
    return PosixFail(ERROR_INVALID_PARAMETER);
  }
  if (futimens(fd, times) != 0) return PosixFailErrno();
  PosixCacheHandleChanged(fd);
  // On a drive written through (O_DSYNC marks its handles) the time is on the medium too.
  if ((flags & O_DSYNC) && fsync(fd) != 0) return PosixFailErrno();
  if (flags & O_DSYNC) PosixCacheHandleSynced(fd);
  return TRUE;
}
