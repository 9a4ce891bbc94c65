// Entries of folders on the POSIX side: CreateFileA (a file opened, created or replaced),
// DeleteFileA, CreateDirectoryA, RemoveDirectoryA and FindFirstFileA on one path. Paths reach
// the host through the drive table (drives.cpp) and are resolved beneath the drive's root
// (beneath.cpp); what Windows refuses is refused here by looking at the attributes
// (attributes.cpp), not left to the host's permissions, so that the answers are the same when
// running as root.
//
// Removable drives are written through, as Windows writes a USB drive under its default policy
// ("quick removal"): SetFileTime, SetFileAttributesA and closing a handle opened for writing
// sync the file, and creating a file, creating or removing a folder and deleting a file sync
// the folder that holds it, so that what a call has answered is on the medium when the user
// pulls the stick. The data itself is not written synchronously, as Windows does not write it
// so either: the program flushes a file (FlushFileBuffers) before it sets the time that makes
// the file look up to date, and that flush is what keeps a pulled stick from showing an entry
// with its final size and time over data that never reached it. Fixed and remote drives are
// left to the host's cache; FlushFileBuffers syncs on every drive, as on Windows.
//
// Names: FAT and exFAT look names up ignoring case, and FAT also by the short 8.3 alias of a
// long name and with trailing dots stripped, so the name asked for may lead to an entry of
// another name. FindFirstFileA reports the entry's own name there, as Windows does, found
// among the folder's entries by its inode.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "host/codepage.h"
#include "platform/extra_calls.h"
#include "platform/posix/attributes.h"
#include "platform/posix/beneath.h"
#include "platform/posix/errors.h"
#include "platform/posix/handles.h"
#include "platform/posix/hostpath.h"
#include "platform/posix/times.h"

namespace {

// Creates the path's file, which must not exist, with `created` as its attributes: the
// descriptor, with ERROR_SUCCESS set, or -1 with errno set (EEXIST whatever stands there, a
// link included).
int CreateNew(const PosixBeneath* at, int flags, DWORD created) {
  // A new read-only file still gives a handle that writes: the mode only binds later opens.
  mode_t mode = (created & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  int fd = openat(at->Folder, at->Name, flags | O_CREAT | O_EXCL | O_NOFOLLOW, mode);
  if (fd < 0) return -1;
  struct stat st;
  // A new file with write bits and nothing stored reads ARCHIVE already: nothing to store then.
  if (fstat(fd, &st) == 0 &&
      (created != FILE_ATTRIBUTE_ARCHIVE || !(st.st_mode & PosixWriteBits))) {
    PosixStoreAttributes(fd, &st, created);
  }
  SetLastError(ERROR_SUCCESS);
  return fd;
}

// Opens the existing regular file at the path (`st` is what stood there), truncated when
// `overwrite`: the descriptor, or -1 with the error set. It never opens anything that is not a
// regular file, and never waits on one (a FIFO put there in between).
int OpenExisting(const PosixBeneath* at, int flags, int overwrite) {
  int fd = openat(at->Folder, at->Name,
                  flags | O_NOFOLLOW | O_NONBLOCK | (overwrite ? O_TRUNC : 0));
  if (fd < 0) {
    PosixFail(errno == ELOOP || errno == ENXIO ? ERROR_ACCESS_DENIED : PosixErrorFromErrno(errno));
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    PosixFail(ERROR_ACCESS_DENIED);
    return -1;
  }
  // Back to blocking transfers, as every handle of this layer has them.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// A file just created on a drive written through: its entry in the folder made durable. The
// descriptor, or -1 (closed) with errno set when the medium refuses.
int Created(const PosixBeneath* at, int fd, int writeThrough) {
  if (fd < 0 || !writeThrough || PosixSyncFolder(at)) return fd;
  int saved = errno;
  close(fd);
  errno = saved;
  return -1;
}

HANDLE CreateFileBeneath(const PosixBeneath* at, DWORD access, DWORD creationDisposition,
                         DWORD flagsAndAttributes) {
  int flags = O_CLOEXEC | O_NOCTTY;
  if ((access & GENERIC_READ) && (access & GENERIC_WRITE)) flags |= O_RDWR;
  else if (access & GENERIC_WRITE) flags |= O_WRONLY;
  else flags |= O_RDONLY;
  // A handle that writes a removable drive syncs its file when its time is set and when it is
  // closed (see the top of this file); O_DSYNC in the handle table's flags marks it, while the
  // descriptor itself writes through the cache.
  int writeThrough = (access & GENERIC_WRITE) && PosixWritesThrough(at->Host);
  int handleFlags = writeThrough ? flags | O_DSYNC : flags;
  int overwrite = creationDisposition == CREATE_ALWAYS || creationDisposition == TRUNCATE_EXISTING;
  DWORD created = PosixCreatedAttributes(flagsAndAttributes);
  int mayCreate = creationDisposition == CREATE_NEW || creationDisposition == CREATE_ALWAYS ||
                  creationDisposition == OPEN_ALWAYS;
  // A path ending in a separator names a folder, which is no file to open or create.
  if (at->NamedAsFolder) {
    struct stat st;
    if (PosixLookAt(at, &st)) {
      PosixFail(S_ISDIR(st.st_mode) ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
    } else {
      PosixFail(mayCreate ? ERROR_ACCESS_DENIED : PosixErrorFromErrno(errno));
    }
    return INVALID_HANDLE_VALUE;
  }
  // A new file first: an installation creates most of its files, and finding out that there
  // is none would cost a call. Whatever stops the creation, the path is then looked at as
  // before, so that what exists decides the answer.
  if (mayCreate) {
    int fd = CreateNew(at, flags, created);
    if (fd >= 0) {
      fd = Created(at, fd, writeThrough);
      if (fd < 0) {
        PosixFailErrno();
        return INVALID_HANDLE_VALUE;
      }
      return PosixNewFileHandle(fd, handleFlags);
    }
  }

  for (int attempt = 0; attempt < 2; ++attempt) {  // again if the file appears in between
    struct stat st;
    if (PosixLookAt(at, &st)) {
      // A folder, a link or a special file is nothing this call opens.
      if (!S_ISREG(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      }
      if (creationDisposition == CREATE_NEW) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
      }
      DWORD current = PosixAttributesOfPath(at->Host, &st);
      int denied = (current & FILE_ATTRIBUTE_READONLY) && (overwrite || (access & GENERIC_WRITE));
      // Replacing a hidden or system file must ask for those attributes again.
      if (overwrite &&
          (((current & FILE_ATTRIBUTE_HIDDEN) && !(created & FILE_ATTRIBUTE_HIDDEN)) ||
           ((current & FILE_ATTRIBUTE_SYSTEM) && !(created & FILE_ATTRIBUTE_SYSTEM)))) {
        denied = 1;
      }
      if (denied) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      }
      int fd = OpenExisting(at, flags, overwrite);
      if (fd < 0) return INVALID_HANDLE_VALUE;
      if (overwrite && fstat(fd, &st) == 0) {
        PosixStoreAttributes(fd, &st, created);  // as on Windows, a lost bit fails nothing
      }
      SetLastError(creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS
                       ? ERROR_ALREADY_EXISTS
                       : ERROR_SUCCESS);
      return PosixNewFileHandle(fd, handleFlags);
    }
    // The folder is there, so a missing entry is a missing file.
    if (errno != ENOENT || creationDisposition == OPEN_EXISTING ||
        creationDisposition == TRUNCATE_EXISTING) {
      PosixFailErrno();
      return INVALID_HANDLE_VALUE;
    }
    int fd = CreateNew(at, flags, created);
    if (fd < 0 && errno == EEXIST) continue;
    fd = Created(at, fd, writeThrough);
    if (fd < 0) {
      PosixFailErrno();
      return INVALID_HANDLE_VALUE;
    }
    return PosixNewFileHandle(fd, handleFlags);
  }
  SetLastError(creationDisposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_SHARING_VIOLATION);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

// The share mode is accepted and not enforced: the host has no mandatory sharing, and the
// program only ever shares for reading. Security attributes and the template are ignored;
// FILE_FLAG_* bits in `flagsAndAttributes` are ignored too.
extern "C" HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD, LPSECURITY_ATTRIBUTES,
                                     DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE) {
  if (creationDisposition < CREATE_NEW || creationDisposition > TRUNCATE_EXISTING ||
      (creationDisposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  PosixBeneath at;
  if (!PosixOpenBeneath(fileName, &at)) return INVALID_HANDLE_VALUE;
  HANDLE handle = CreateFileBeneath(&at, access, creationDisposition, flagsAndAttributes);
  DWORD error = GetLastError();
  PosixCloseBeneath(&at);
  SetLastError(error);
  return handle;
}

// A read-only file is refused even where the host would let its owner (or root) remove it. A
// link is removed itself, never what it leads to.
extern "C" BOOL WINAPI DeleteFileA(LPCSTR fileName) {
  PosixBeneath at;
  if (!PosixOpenBeneath(fileName, &at)) return FALSE;
  struct stat st;
  BOOL done = FALSE;
  if (!PosixLookAt(&at, &st)) PosixFailErrno();
  else if (S_ISDIR(st.st_mode)) PosixFail(ERROR_ACCESS_DENIED);
  else if (at.NamedAsFolder) PosixFail(ERROR_PATH_NOT_FOUND);
  else if (S_ISREG(st.st_mode) && (PosixAttributesOfPath(at.Host, &st) & FILE_ATTRIBUTE_READONLY)) {
    PosixFail(ERROR_ACCESS_DENIED);
  } else if (unlinkat(at.Folder, at.Name, 0) != 0) PosixFailErrno();
  else if (PosixWritesThrough(at.Host) && !PosixSyncFolder(&at)) PosixFailErrno();
  else done = TRUE;
  PosixCloseBeneath(&at);
  return done;
}

extern "C" BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES) {
  PosixBeneath at;
  if (!PosixOpenBeneath(pathName, &at)) return FALSE;
  BOOL done = FALSE;
  if (at.IsRoot) PosixFail(ERROR_ACCESS_DENIED);
  else if (mkdirat(at.Folder, at.Name, 0777) != 0) PosixFailErrno();
  else if (PosixWritesThrough(at.Host) && !PosixSyncNewFolder(&at)) PosixFailErrno();
  else done = TRUE;
  PosixCloseBeneath(&at);
  return done;
}

extern "C" BOOL WINAPI RemoveDirectoryA(LPCSTR pathName) {
  PosixBeneath at;
  if (!PosixOpenBeneath(pathName, &at)) return FALSE;
  struct stat st;
  BOOL done = FALSE;
  if (at.IsRoot) PosixFail(ERROR_ACCESS_DENIED);  // never the drive's own folder
  else if (!PosixLookAt(&at, &st)) PosixFailErrno();
  else if (!S_ISDIR(st.st_mode)) PosixFail(ERROR_DIRECTORY);
  else if (PosixAttributesOfPath(at.Host, &st) & FILE_ATTRIBUTE_READONLY) {
    PosixFail(ERROR_ACCESS_DENIED);
  } else if (unlinkat(at.Folder, at.Name, AT_REMOVEDIR) != 0) {
    PosixFail(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : PosixErrorFromErrno(errno));
  } else if (PosixWritesThrough(at.Host) && !PosixSyncFolder(&at)) {
    PosixFailErrno();
  } else {
    done = TRUE;
  }
  PosixCloseBeneath(&at);
  return done;
}

namespace {

int EndsWithSeparator(LPCSTR path) {
  size_t n = strlen(path);
  if (n == 0) return 0;
  LPCSTR last = CharPrevA(path, path + n);
  return *last == '\\' || *last == '/';
}

// One record of getdents64's listing.
struct ListedEntry {
  uint64_t Inode;
  int64_t Next;
  unsigned short Length;
  unsigned char Type;
  char Name[1];  // NUL-terminated, as long as the record allows
};

// The name under which the folder of `at` holds the entry at its last level (UTF-8, in `out`):
// 1, or 0 when it cannot be told. The entry is held open meanwhile, because the FAT and exFAT
// drivers report an entry's own inode number in the listing only while its inode is in memory.
int StoredName(const PosixBeneath* at, char* out, size_t size) {
  int held = openat(at->Folder, at->Name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (held < 0) return 0;
  struct stat st;
  int folder = -1;
  int found = 0;
  if (fstat(held, &st) == 0) folder = openat(at->Folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  alignas(8) char listing[8192];
  long n = 0;
  while (!found && folder >= 0 &&
         (n = syscall(SYS_getdents64, folder, listing, sizeof listing)) > 0) {
    for (long offset = 0; offset < n;) {
      const ListedEntry* entry = reinterpret_cast<const ListedEntry*>(listing + offset);
      offset += entry->Length;
      if (entry->Inode != (uint64_t)st.st_ino || strcmp(entry->Name, ".") == 0 ||
          strcmp(entry->Name, "..") == 0) {
        continue;
      }
      size_t length = strlen(entry->Name);
      if (length < size) {
        memcpy(out, entry->Name, length + 1);
        found = 1;
      }
      break;
    }
  }
  if (folder >= 0) close(folder);
  close(held);
  return found;
}

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
  if (length > 0 && !dots && HostAnsiRoundTrips(start, length)) {
    if (length >= size) return 0;
    memcpy(out, start, length);
    out[length] = '\0';
    return 1;
  }
  return HostUtf8ToAnsi(hostName, out, size);
}

}  // namespace

// One path, no wildcards: a name with '*' or '?' is refused with ERROR_INVALID_NAME rather
// than matched. What stands at the path is reported as it is, a link or special file included
// (see PosixAttributesOfObject). The handle holds the descriptor of the entry's folder, so that an
// unclosed search shows as a leaked descriptor; FindNextFileA is not offered.
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
  if (EndsWithSeparator(fileName)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  PosixBeneath at;
  if (!PosixOpenBeneath(fileName, &at)) return INVALID_HANDLE_VALUE;
  struct stat st;
  if (at.IsRoot || !PosixLookAt(&at, &st)) {
    if (at.IsRoot) PosixFail(ERROR_FILE_NOT_FOUND);
    else PosixFailErrno();
    PosixCloseBeneath(&at);
    return INVALID_HANDLE_VALUE;
  }
  memset(findData, 0, sizeof *findData);
  int fat = 0;
  findData->dwFileAttributes = PosixAttributesOfObject(&at, &st, &fat);
  // On FAT and exFAT the entry found may hold another name than the one asked for.
  char stored[NAME_MAX + 1];
  int named = fat && StoredName(&at, stored, sizeof stored)
                  ? HostUtf8ToAnsi(stored, findData->cFileName, sizeof findData->cFileName)
                  : NameOfEntry(fileName, at.Name, findData->cFileName, sizeof findData->cFileName);
  if (!named) {
    PosixCloseBeneath(&at);
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  findData->ftLastWriteTime = PosixFileTimeFromTimespec(st.st_mtim);
  findData->ftLastAccessTime = PosixFileTimeFromTimespec(st.st_atim);
  // The host has no creation time to hand here; the earlier of change and write comes closest.
  findData->ftCreationTime = PosixFileTimeFromTimespec(
      st.st_ctim.tv_sec < st.st_mtim.tv_sec ||
              (st.st_ctim.tv_sec == st.st_mtim.tv_sec && st.st_ctim.tv_nsec < st.st_mtim.tv_nsec)
          ? st.st_ctim
          : st.st_mtim);
  // Only a file has a size of its own to report; a link's is that of the name it holds.
  uint64_t size = S_ISREG(st.st_mode) ? (uint64_t)st.st_size : 0;
  findData->nFileSizeHigh = (DWORD)(size >> 32);
  findData->nFileSizeLow = (DWORD)size;
  // The search holds a descriptor of its own: the cached root stays with the drive.
  int held = at.Owned ? at.Folder : fcntl(at.Folder, F_DUPFD_CLOEXEC, 0);
  if (held < 0) {
    PosixFailErrno();
    return INVALID_HANDLE_VALUE;
  }
  return PosixHandleFromFd(held, PosixFindHandle);
}
