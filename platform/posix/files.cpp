// Files and folders on the POSIX side: CreateFileA and the handle calls, attributes, deletion,
// folders and FindFirstFileA on one path. Paths reach the host through the drive table
// (drives.cpp); what Windows refuses is refused here by looking at the attributes, not left to
// the host's permissions, so that the answers are the same when running as root.
//
// Attributes: the whole 32-bit value lives in the extended attribute user.DOSATTRIB as text
// ("0x27"), the form Samba and Wine read. READONLY is mirrored in the mode: a read-only file
// has no write bits, so other programs on the host see it as Windows programs do. A folder's
// READONLY stays in the extended attribute only: on Windows it does not stop anything from
// being created inside the folder, and clearing the mode's write bits would.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/codepage.h"
#include "platform/posix/filesys.h"
#include "platform/posix/hostpath.h"

namespace {

const char AttributeName[] = "user.DOSATTRIB";

const DWORD SettableAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY |
    FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

const mode_t WriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

int FailErrno(const char* hostPath) { return Fail(PosixErrorFromErrno(errno, hostPath)); }

// NORMAL means "no other attribute": it never appears together with another bit.
DWORD WithNormal(DWORD value) {
  if (value & ~FILE_ATTRIBUTE_NORMAL) return value & ~FILE_ATTRIBUTE_NORMAL;
  return FILE_ATTRIBUTE_NORMAL;
}

// The stored value. 0 when there is none (or it is in a form this layer does not write, such
// as Samba's binary one).
int ReadStored(const char* hostPath, int followLink, DWORD* value) {
  char text[32];
  ssize_t n = followLink ? getxattr(hostPath, AttributeName, text, sizeof text - 1)
                         : lgetxattr(hostPath, AttributeName, text, sizeof text - 1);
  if (n <= 0) return 0;
  text[n] = '\0';
  if (text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return 0;
  char* end = nullptr;
  unsigned long parsed = strtoul(text + 2, &end, 16);
  if (end == text + 2 || (*end != '\0' && *end != '\n') || parsed > 0xFFFFFFFFul) return 0;
  *value = (DWORD)parsed;
  return 1;
}

DWORD AttributesOf(const struct stat* st, int hasStored, DWORD stored) {
  if (S_ISDIR(st->st_mode)) {
    DWORD value = hasStored ? stored & ~FILE_ATTRIBUTE_NORMAL : 0;
    return value | FILE_ATTRIBUTE_DIRECTORY;
  }
  DWORD value = hasStored ? stored & ~FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (!(st->st_mode & WriteBits)) value |= FILE_ATTRIBUTE_READONLY;
  return WithNormal(value);
}

DWORD AttributesOfPath(const char* hostPath, const struct stat* st, int followLink) {
  DWORD stored = 0;
  int hasStored = ReadStored(hostPath, followLink, &stored);
  return AttributesOf(st, hasStored, stored);
}

// Stores `value` (already reduced to what may be set) and mirrors READONLY in a file's mode,
// through the descriptor when `fd` >= 0. 0 with errno set when the host refuses.
int StoreAttributes(int fd, const char* hostPath, const struct stat* st, DWORD value) {
  char text[16];
  int n = snprintf(text, sizeof text, "0x%x", (unsigned)value);
  int stored = fd >= 0 ? fsetxattr(fd, AttributeName, text, (size_t)n, 0)
                       : setxattr(hostPath, AttributeName, text, (size_t)n, 0);
  int saved = errno;
  if (!S_ISDIR(st->st_mode)) {
    mode_t mode = st->st_mode & 07777;
    mode_t wanted = mode;
    if (value & FILE_ATTRIBUTE_READONLY) {
      wanted = mode & ~WriteBits;
    } else if (!(mode & WriteBits)) {
      wanted = (mode & 07111) | 0644;
    }
    if (wanted != mode && (fd >= 0 ? fchmod(fd, wanted) : chmod(hostPath, wanted)) != 0) {
      return 0;
    }
  }
  errno = saved;
  return stored == 0;
}

// What a file created or replaced with `flagsAndAttributes` gets: the requested attributes and
// ARCHIVE, NORMAL dropped.
DWORD CreatedAttributes(DWORD flagsAndAttributes) {
  return (flagsAndAttributes & SettableAttributes & ~FILE_ATTRIBUTE_NORMAL) |
         FILE_ATTRIBUTE_ARCHIVE;
}

int MapPath(LPCSTR windowsPath, char* out, size_t* rootLength = nullptr) {
  size_t root = 0;
  if (!PosixHostPathOfDrive(windowsPath, out, PATH_MAX, &root)) return 0;
  if (rootLength) *rootLength = root;
  return 1;
}

int IsRoot(const char* hostPath, size_t rootLength) { return hostPath[rootLength] == '\0'; }

int EndsWithSeparator(LPCSTR path) {
  size_t n = strlen(path);
  if (n == 0) return 0;
  LPCSTR last = CharPrevA(path, path + n);
  return *last == '\\' || *last == '/';
}

// ENOENT for `hostPath` (may be NULL): a missing file in an existing folder
// (ERROR_FILE_NOT_FOUND), or a missing folder on the way (ERROR_PATH_NOT_FOUND).
DWORD MissingFileOrFolder(const char* hostPath) {
  if (!hostPath) return ERROR_FILE_NOT_FOUND;
  char parent[PATH_MAX];
  size_t n = strlen(hostPath);
  if (n >= sizeof parent) return ERROR_PATH_NOT_FOUND;
  memcpy(parent, hostPath, n + 1);
  while (n > 1 && parent[n - 1] == '/') parent[--n] = '\0';
  char* slash = strrchr(parent, '/');
  if (!slash) return ERROR_FILE_NOT_FOUND;
  if (slash == parent) slash[1] = '\0';
  else *slash = '\0';
  struct stat st;
  return stat(parent, &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND
                                                       : ERROR_PATH_NOT_FOUND;
}

}  // namespace

DWORD PosixErrorFromErrno(int error, const char* hostPath) {
  if (error == 0) return ERROR_SUCCESS;
  DWORD driveError = ERROR_SUCCESS;
  // The file calls do not look at the drive before going to the host (see hostpath.h): a path
  // refused for no reason of its own may be a drive without a medium. A missing file in a
  // folder that is there needs no such look.
  if (error == ENOENT) {
    DWORD missing = MissingFileOrFolder(hostPath);
    if (missing == ERROR_FILE_NOT_FOUND) return missing;
    return PosixDriveErrorOfHostPath(hostPath, &driveError) ? driveError : missing;
  }
  if (PosixDriveErrorOfHostPath(hostPath, &driveError)) return driveError;
  switch (error) {
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EBUSY:
    case ETXTBSY:
      return ERROR_SHARING_VIOLATION;
    case EINVAL:
    case EFAULT:
      return ERROR_INVALID_PARAMETER;
    case EFBIG:
      return ERROR_FILE_TOO_LARGE;
    case ENOTSUP:
      return ERROR_NOT_SUPPORTED;
    case ELOOP:
      return ERROR_INVALID_NAME;
    default:  // EIO and whatever else the host may have
      return ERROR_GEN_FAILURE;
  }
}

HANDLE PosixHandleFromFd(int fd, int kind) {
  return (HANDLE)(((intptr_t)fd + 1) * 4 + kind);
}

int PosixFdFromHandle(HANDLE handle, int kind) {
  intptr_t value = (intptr_t)handle;
  if (value < 4 || (value & 3) != kind) return -1;
  intptr_t fd = value / 4 - 1;
  return fd <= INT_MAX ? (int)fd : -1;
}

namespace {

// Creates `host`, which must not exist, with `created` as its attributes: the descriptor, with
// ERROR_SUCCESS set, or -1 with errno set.
int CreateNew(const char* host, int flags, DWORD created) {
  // A new read-only file still gives a handle that writes: the mode only binds later opens.
  mode_t mode = (created & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  int fd = open(host, flags | O_CREAT | O_EXCL, mode);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) == 0) StoreAttributes(fd, host, &st, created);
  SetLastError(ERROR_SUCCESS);
  return fd;
}

}  // namespace

// The share mode is accepted and not enforced: the host has no mandatory sharing, and the
// program only ever shares for reading. Security attributes and the template are ignored;
// FILE_FLAG_* bits in `flagsAndAttributes` are ignored too.
extern "C" HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD, LPSECURITY_ATTRIBUTES,
                                     DWORD creationDisposition, DWORD flagsAndAttributes,
                                     HANDLE) {
  if (creationDisposition < CREATE_NEW || creationDisposition > TRUNCATE_EXISTING ||
      (creationDisposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  char host[PATH_MAX];
  if (!MapPath(fileName, host)) return INVALID_HANDLE_VALUE;
  int flags = O_CLOEXEC | O_NOCTTY;
  if ((access & GENERIC_READ) && (access & GENERIC_WRITE)) flags |= O_RDWR;
  else if (access & GENERIC_WRITE) flags |= O_WRONLY;
  else flags |= O_RDONLY;
  int overwrite =
      creationDisposition == CREATE_ALWAYS || creationDisposition == TRUNCATE_EXISTING;
  DWORD created = CreatedAttributes(flagsAndAttributes);
  // A new file first: an installation creates most of its files, and finding out that there
  // is none would cost a call. Whatever stops the creation, the path is then looked at as
  // before, so that what exists decides the answer.
  int mayCreate = creationDisposition == CREATE_NEW || creationDisposition == CREATE_ALWAYS ||
                  creationDisposition == OPEN_ALWAYS;
  if (mayCreate) {
    int fd = CreateNew(host, flags, created);
    if (fd >= 0) return PosixHandleFromFd(fd, PosixFileHandle);
  }

  for (int attempt = 0; attempt < 2; ++attempt) {  // again if the file appears in between
    struct stat st;
    if (stat(host, &st) == 0) {
      if (S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      }
      if (creationDisposition == CREATE_NEW) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
      }
      DWORD current = AttributesOfPath(host, &st, 1);
      int denied = (current & FILE_ATTRIBUTE_READONLY) && (overwrite || (access & GENERIC_WRITE));
      // Replacing a hidden or system file must ask for those attributes again.
      if (overwrite && (((current & FILE_ATTRIBUTE_HIDDEN) && !(created & FILE_ATTRIBUTE_HIDDEN)) ||
                        ((current & FILE_ATTRIBUTE_SYSTEM) && !(created & FILE_ATTRIBUTE_SYSTEM)))) {
        denied = 1;
      }
      if (denied) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      }
      int fd = open(host, flags | (overwrite ? O_TRUNC : 0));
      if (fd < 0) {
        FailErrno(host);
        return INVALID_HANDLE_VALUE;
      }
      if (overwrite && fstat(fd, &st) == 0) {
        StoreAttributes(fd, host, &st, created);  // as on Windows, a lost bit fails nothing
      }
      SetLastError(creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS
                       ? ERROR_ALREADY_EXISTS
                       : ERROR_SUCCESS);
      return PosixHandleFromFd(fd, PosixFileHandle);
    }
    if (errno != ENOENT || creationDisposition == OPEN_EXISTING ||
        creationDisposition == TRUNCATE_EXISTING) {
      FailErrno(host);
      return INVALID_HANDLE_VALUE;
    }
    int fd = CreateNew(host, flags, created);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      FailErrno(host);
      return INVALID_HANDLE_VALUE;
    }
    return PosixHandleFromFd(fd, PosixFileHandle);
  }
  SetLastError(creationDisposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_SHARING_VIOLATION);
  return INVALID_HANDLE_VALUE;
}

namespace {

// The descriptor behind a file handle that may be used for `wanted` (O_RDONLY or O_WRONLY
// meaning reading or writing), or -1 with the error set.
int UsableFd(HANDLE file, int writing) {
  int fd = PosixFdFromHandle(file, PosixFileHandle);
  int flags = fd >= 0 ? fcntl(fd, F_GETFL) : -1;
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

// The descriptor for ReadFile and WriteFile, or -1 with the error set. A transfer asks the host
// anyway, and its refusal (EBADF) tells a closed handle or one opened the other way; only when
// no transfer follows (nothing to move, or a bad parameter, which a bad handle goes before) is
// the handle looked at first.
int TransferFd(HANDLE file, int writing, int badParameter, DWORD count) {
  int fd = PosixFdFromHandle(file, PosixFileHandle);
  if (fd < 0 || badParameter || count == 0) {
    fd = UsableFd(file, writing);
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
      if (n < 0 && errno == EBADF && UsableFd(file, 1) < 0) return FALSE;
      DWORD error = n == 0 ? ERROR_DISK_FULL : PosixErrorFromErrno(errno, nullptr);
      if (bytesWritten) *bytesWritten = done;
      return Fail(error);
    }
    done += (DWORD)n;
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
      if (errno == EBADF && UsableFd(file, 0) < 0) return FALSE;
      if (bytesRead) *bytesRead = done;
      return FailErrno(nullptr);
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

// The host keeps no creation time that can be set; a creation time is checked and dropped.
extern "C" BOOL WINAPI SetFileTime(HANDLE file, const FILETIME* creationTime,
                                   const FILETIME* lastAccessTime, const FILETIME* lastWriteTime) {
  int fd = UsableFd(file, 1);
  if (fd < 0) return FALSE;
  struct timespec creation;
  struct timespec times[2];
  if (!TimeForHost(creationTime, &creation) || !TimeForHost(lastAccessTime, &times[0]) ||
      !TimeForHost(lastWriteTime, &times[1])) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (futimens(fd, times) != 0) return FailErrno(nullptr);
  return TRUE;
}

extern "C" BOOL WINAPI CloseHandle(HANDLE object) {
  int fd = PosixFdFromHandle(object, PosixFileHandle);
  if (fd < 0 || close(fd) != 0) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
  char host[PATH_MAX];
  if (!MapPath(fileName, host)) return INVALID_FILE_ATTRIBUTES;
  struct stat st;
  if (stat(host, &st) != 0) {
    FailErrno(host);
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOfPath(host, &st, 1);
}

extern "C" BOOL WINAPI SetFileAttributesA(LPCSTR fileName, DWORD attributes) {
  char host[PATH_MAX];
  if (!MapPath(fileName, host)) return FALSE;
  struct stat st;
  if (stat(host, &st) != 0) return FailErrno(host);
  DWORD value = WithNormal(attributes & SettableAttributes);
  if (!StoreAttributes(-1, host, &st, value)) return FailErrno(host);
  return TRUE;
}

// A read-only file is refused even where the host would let its owner (or root) remove it.
extern "C" BOOL WINAPI DeleteFileA(LPCSTR fileName) {
  char host[PATH_MAX];
  if (!MapPath(fileName, host)) return FALSE;
  struct stat st;
  if (lstat(host, &st) != 0) return FailErrno(host);
  if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (!S_ISLNK(st.st_mode) && (AttributesOfPath(host, &st, 0) & FILE_ATTRIBUTE_READONLY)) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  if (unlink(host) != 0) return FailErrno(host);
  return TRUE;
}

extern "C" BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES) {
  char host[PATH_MAX];
  size_t root = 0;
  if (!MapPath(pathName, host, &root)) return FALSE;
  if (IsRoot(host, root)) return Fail(ERROR_ACCESS_DENIED);
  if (mkdir(host, 0777) != 0) {
    // Windows says "path not found" for any missing level on the way, never "file not found".
    DWORD error = PosixErrorFromErrno(errno, host);
    return Fail(error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error);
  }
  return TRUE;
}

extern "C" BOOL WINAPI RemoveDirectoryA(LPCSTR pathName) {
  char host[PATH_MAX];
  size_t root = 0;
  if (!MapPath(pathName, host, &root)) return FALSE;
  if (IsRoot(host, root)) return Fail(ERROR_ACCESS_DENIED);  // never the drive's own folder
  struct stat st;
  if (lstat(host, &st) != 0) return FailErrno(host);
  if (!S_ISDIR(st.st_mode)) return Fail(ERROR_DIRECTORY);
  if (AttributesOfPath(host, &st, 0) & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
  if (rmdir(host) != 0) {
    return Fail(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : PosixErrorFromErrno(errno, host));
  }
  return TRUE;
}

namespace {

// The found entry's name in code page 932, as converting the host's name (`hostName`, UTF-8)
// back gives it. That is the last level of `windowsPath` byte for byte when the level is a name
// (not "." or "..") whose characters each have one code only, which saves a converter for
// nearly every name; otherwise the host's name is converted. 0 when it does not fit.
int NameOfEntry(LPCSTR windowsPath, const char* hostName, char* out, size_t size) {
  const char* start = windowsPath + 2;  // after "X:", which mapping the path has checked
  const char* p = start;
  while (*p) {
    if (IsDBCSLeadByte((BYTE)*p) && p[1]) {
      p += 2;
      continue;
    }
    if (*p == '\\' || *p == '/') start = p + 1;
    ++p;
  }
  size_t length = (size_t)(p - start);
  int dots = (length == 1 && start[0] == '.') ||
             (length == 2 && start[0] == '.' && start[1] == '.');
  if (length > 0 && !dots && PosixAnsiRoundTrips(start, length)) {
    if (length >= size) return 0;
    memcpy(out, start, length);
    out[length] = '\0';
    return 1;
  }
  return PosixUtf8ToAnsi(hostName, out, size);
}

}  // namespace

// One path, no wildcards: a name with '*' or '?' is refused with ERROR_INVALID_NAME rather
// than matched. The handle holds an O_PATH descriptor of the entry, so that an unclosed search
// shows as a leaked descriptor; FindNextFileA is not offered.
extern "C" HANDLE WINAPI FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
  if (!fileName || !findData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (strpbrk(fileName, "*?")) {  // neither byte can be the second half of a character
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  // "E:\Zarpo\" names no entry of its own on Windows, nor does the root.
  char host[PATH_MAX];
  size_t root = 0;
  int endsWithSeparator = EndsWithSeparator(fileName);
  if (!endsWithSeparator && !MapPath(fileName, host, &root)) {
    return INVALID_HANDLE_VALUE;
  }
  if (endsWithSeparator || IsRoot(host, root)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  int fd = open(host, O_PATH | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    FailErrno(host);
    if (fd >= 0) close(fd);
    return INVALID_HANDLE_VALUE;
  }
  memset(findData, 0, sizeof *findData);
  if (!NameOfEntry(fileName, strrchr(host, '/') + 1, findData->cFileName,
                   sizeof findData->cFileName)) {
    close(fd);
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  findData->dwFileAttributes = AttributesOfPath(host, &st, 1);
  findData->ftLastWriteTime = PosixFileTimeFromTimespec(st.st_mtim);
  findData->ftLastAccessTime = PosixFileTimeFromTimespec(st.st_atim);
  // The host has no creation time to hand here; the earlier of change and write comes closest.
  findData->ftCreationTime = PosixFileTimeFromTimespec(
      st.st_ctim.tv_sec < st.st_mtim.tv_sec ||
              (st.st_ctim.tv_sec == st.st_mtim.tv_sec && st.st_ctim.tv_nsec < st.st_mtim.tv_nsec)
          ? st.st_ctim
          : st.st_mtim);
  uint64_t size = S_ISDIR(st.st_mode) ? 0 : (uint64_t)st.st_size;
  findData->nFileSizeHigh = (DWORD)(size >> 32);
  findData->nFileSizeLow = (DWORD)size;
  return PosixHandleFromFd(fd, PosixFindHandle);
}

extern "C" BOOL WINAPI FindClose(HANDLE findHandle) {
  int fd = PosixFdFromHandle(findHandle, PosixFindHandle);
  if (fd < 0 || close(fd) != 0) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}
