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
//
// A key disk is a FAT or exFAT stick, and neither keeps extended attributes. There the value is
// the directory entry's attribute byte, as on Windows: the kernel's FAT driver reads and sets it
// through FAT_IOCTL_GET_ATTRIBUTES and FAT_IOCTL_SET_ATTRIBUTES (and mirrors READONLY in the
// mode itself). The byte holds READONLY, HIDDEN, SYSTEM and ARCHIVE; every other bit is
// dropped and the call succeeds, as Windows' FAT driver does. exFAT has those ioctls only from
// Linux 6.7 on; before, READONLY follows the mode, a file always reads ARCHIVE, HIDDEN and
// SYSTEM can be neither read nor set (SetFileAttributesA asking for either applies READONLY
// and fails with ERROR_NOT_SUPPORTED). The medium is looked at only when the extended
// attribute is refused, so that other file systems pay nothing for it.
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
//
// Below a drive's root no symbolic link is followed, whatever the call: the folder holding the
// last level of a path is opened beneath the root without crossing a link (openat2, or one
// level at a time where the kernel lacks it), and the last level is then acted on through that
// folder, never through a link. A link at a path is an object of its own: found as it is
// (REPARSE_POINT), deleted itself, refused by every other call. So are FIFOs, sockets and
// devices (DEVICE): nothing is ever written to them or waited on. The root itself is reached
// through the drive table's link, like the rest of the host outside the drive; its folder is
// kept open between calls and checked on every call (kept.cpp), and the openat2 of each call
// starts from it.
#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <linux/openat2.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/extra_calls.h"
#include "host/codepage.h"
#include "platform/posix/filesys.h"
#include "platform/posix/hostpath.h"
#include "platform/posix/kept.h"

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

int FailErrno() { return Fail(PosixErrorFromErrno(errno)); }

// NORMAL means "no other attribute": it never appears together with another bit.
DWORD WithNormal(DWORD value) {
  if (value & ~FILE_ATTRIBUTE_NORMAL) return value & ~FILE_ATTRIBUTE_NORMAL;
  return FILE_ATTRIBUTE_NORMAL;
}

#ifndef EXFAT_SUPER_MAGIC
#define EXFAT_SUPER_MAGIC 0x2011BAB0
#endif

// The bits a FAT directory entry keeps of what may be set.
const DWORD FatEntryBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                           FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// Whether the open file lies on FAT (vfat, msdos) or exFAT, whose directory entries hold the
// attributes and whose lookups ignore case.
int IsFatMedium(int fd) {
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0) return 0;
  return fs.f_type == MSDOS_SUPER_MAGIC || (unsigned long)fs.f_type == EXFAT_SUPER_MAGIC;
}

// The attribute byte of the FAT or exFAT entry at `hostPath` (no link): 1 with `*value`, 0 when
// there is no such medium there (`*fat` 0) or the driver cannot read the byte (`*fat` 1).
int ReadEntryByte(const char* hostPath, DWORD* value, int* fat) {
  *fat = 0;
  int fd = open(hostPath, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return 0;
  uint32_t byte = 0;
  int read = 0;
  if (IsFatMedium(fd)) {
    *fat = 1;
    read = ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &byte) == 0;
  }
  close(fd);
  if (read) *value = byte & FatEntryBits;
  return read;
}

// The stored value. 0 when there is none (or it is in a form this layer does not write, such
// as Samba's binary one). `*fat` (may be NULL) tells whether the path lies on FAT or exFAT.
int ReadStored(const char* hostPath, DWORD* value, int* fat = nullptr) {
  int onFat = 0;
  if (fat) *fat = 0;
  char text[32];
  // Never through a link: the callers have made sure the path names no link.
  ssize_t n = lgetxattr(hostPath, AttributeName, text, sizeof text - 1);
  if (n < 0 && errno == ENOTSUP) {
    int read = ReadEntryByte(hostPath, value, &onFat);
    if (fat) *fat = onFat;
    return read;
  }
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

DWORD AttributesOfPath(const char* hostPath, const struct stat* st, int* fat = nullptr) {
  DWORD stored = 0;
  int hasStored = ReadStored(hostPath, &stored, fat);
  return AttributesOf(st, hasStored, stored);
}

// A file's READONLY in its mode where the driver allows no other change: of the write bits all
// the mount's mask lets through or none (the FAT drivers refuse anything else with EPERM).
int MirrorInMode(int fd, const struct stat* st, DWORD value) {
  mode_t mode = st->st_mode & 07777;
  if (value & FILE_ATTRIBUTE_READONLY) {
    return (mode & WriteBits) == 0 || fchmod(fd, mode & ~WriteBits) == 0;
  }
  if (mode & WriteBits) return 1;
  const mode_t choices[] = {S_IWUSR | S_IWGRP | S_IWOTH, S_IWUSR | S_IWGRP, S_IWUSR};
  for (mode_t bits : choices) {
    if (fchmod(fd, mode | bits) == 0) return 1;
  }
  return 0;
}

// Stores `value` in the FAT or exFAT entry of the open file: 1, or 0 with errno set. The bits
// the entry cannot hold are dropped, as Windows drops them; where the driver offers no way to
// set the byte (exFAT before Linux 6.7), READONLY goes to the mode and asking for HIDDEN or
// SYSTEM fails with EOPNOTSUPP.
int StoreInEntry(int fd, const struct stat* st, DWORD value) {
  uint32_t byte = value & FatEntryBits;
  if (ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &byte) == 0) return 1;
  if (errno != ENOTTY && errno != EINVAL) return 0;
  if (!S_ISDIR(st->st_mode) && !MirrorInMode(fd, st, value)) return 0;
  if (value & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) {
    errno = EOPNOTSUPP;
    return 0;
  }
  return 1;
}

// Stores `value` (already reduced to what may be set) and mirrors READONLY in a file's mode,
// through the open descriptor. 0 with errno set when the host refuses.
int StoreAttributes(int fd, const struct stat* st, DWORD value) {
  char text[16];
  int n = snprintf(text, sizeof text, "0x%x", (unsigned)value);
  int stored = fsetxattr(fd, AttributeName, text, (size_t)n, 0);
  if (stored != 0 && errno == ENOTSUP && IsFatMedium(fd)) return StoreInEntry(fd, st, value);
  int saved = errno;
  if (!S_ISDIR(st->st_mode)) {
    mode_t mode = st->st_mode & 07777;
    mode_t wanted = mode;
    if (value & FILE_ATTRIBUTE_READONLY) {
      wanted = mode & ~WriteBits;
    } else if (!(mode & WriteBits)) {
      wanted = (mode & 07111) | 0644;
    }
    if (wanted != mode && fchmod(fd, wanted) != 0) {
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


// A path below a drive's root as the file calls act on it: the folder that holds its last
// level, opened without crossing a link, and the name of that level in it.
struct Beneath {
  int Folder;           // the caller closes it (CloseBeneath)
  int Owned;            // 0: Folder is the drive's kept root, which stays open
  int Readable;         // Folder is open for reading (it can be synced), not O_PATH only
  const char* Name;     // the last level, in Host; "." for the root itself
  int IsRoot;           // the path names the drive's root
  int NamedAsFolder;    // the path ended in a separator
  char Host[PATH_MAX];  // the whole host path, without a final separator below the root
};

void CloseBeneath(Beneath* at) {
  if (at->Folder >= 0 && at->Owned) close(at->Folder);
  at->Folder = -1;
}

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
  return Fail(error);
}

// Maps `windowsPath` and opens the folder of its last level: 1, or 0 with the error set (the
// drive's, ERROR_PATH_NOT_FOUND for a level on the way that is missing, not a folder or a link).
int OpenBeneath(LPCSTR windowsPath, Beneath* at) {
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
  int rootFd = PosixKeptRoot(rootPath, root);
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
  if (saved == ENOENT || saved == ENOTDIR || saved == ELOOP || saved == EXDEV ||
      saved == EAGAIN) {
    return Fail(ERROR_PATH_NOT_FOUND);
  }
  return Fail(PosixErrorFromErrno(saved));
}

// What stands at the path, as lstat sees it: 1 with `st` filled, or 0 with errno set.
int LookAt(const Beneath* at, struct stat* st) {
  return fstatat(at->Folder, at->Name, st, AT_SYMLINK_NOFOLLOW) == 0;
}

// A regular file or folder: what this layer reads and writes. Anything else is a link or a
// special file, which no call but DeleteFileA acts on.
int IsPlain(const struct stat* st) { return S_ISREG(st->st_mode) || S_ISDIR(st->st_mode); }

// What FindFirstFileA and GetFileAttributesA report. A link or special file never matches an
// attribute a file can be given, so the installer never takes one for its file.
DWORD AttributesOfObject(const Beneath* at, const struct stat* st, int* fat = nullptr) {
  if (fat) *fat = 0;
  if (S_ISLNK(st->st_mode)) return FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT;
  if (!IsPlain(st)) return FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_DEVICE;
  // The levels up to here are no links, and the last one is none either: reading by path is
  // reading this object.
  return AttributesOfPath(at->Host, st, fat);
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

// The entries of the folder that holds the path's last level, and its file system, as
// SyncFolderAt makes them durable: through the folder's descriptor when that is open for
// reading, else opened again for it (O_PATH cannot be synced).
int SyncFolder(const Beneath* at) {
  if (at->Readable) return fsync(at->Folder) == 0 && syncfs(at->Folder) == 0;
  return SyncFolderAt(at->Folder, ".");
}

// A new folder and the folder holding it, made durable.
int SyncNewFolder(const Beneath* at) {
  return SyncFolderAt(at->Folder, at->Name) && SyncFolder(at);
}

// Opens the plain file or folder at the path for changing its attributes, `st` holding what
// LookAt found there: the descriptor (`st` then what it has opened), or -1 with the error set.
// Links and special files are refused without being opened.
int OpenPlain(const Beneath* at, struct stat* st) {
  if (!IsPlain(st)) {
    Fail(ERROR_ACCESS_DENIED);
    return -1;
  }
  int fd = openat(at->Folder, at->Name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    Fail(errno == ELOOP || errno == ENXIO ? ERROR_ACCESS_DENIED : PosixErrorFromErrno(errno));
    return -1;
  }
  if (fstat(fd, st) != 0 || !IsPlain(st)) {  // replaced in between
    close(fd);
    Fail(ERROR_ACCESS_DENIED);
    return -1;
  }
  return fd;
}

}  // namespace

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

// Creates the path's file, which must not exist, with `created` as its attributes: the
// descriptor, with ERROR_SUCCESS set, or -1 with errno set (EEXIST whatever stands there, a
// link included).
int CreateNew(const Beneath* at, int flags, DWORD created) {
  // A new read-only file still gives a handle that writes: the mode only binds later opens.
  mode_t mode = (created & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  int fd = openat(at->Folder, at->Name, flags | O_CREAT | O_EXCL | O_NOFOLLOW, mode);
  if (fd < 0) return -1;
  struct stat st;
  // A new file with write bits and nothing stored reads ARCHIVE already: nothing to store then.
  if (fstat(fd, &st) == 0 && (created != FILE_ATTRIBUTE_ARCHIVE || !(st.st_mode & WriteBits))) {
    StoreAttributes(fd, &st, created);
  }
  SetLastError(ERROR_SUCCESS);
  return fd;
}

// Opens the existing regular file at the path (`st` is what stood there), truncated when
// `overwrite`: the descriptor, or -1 with the error set. It never opens anything that is not a
// regular file, and never waits on one (a FIFO put there in between).
int OpenExisting(const Beneath* at, int flags, int overwrite) {
  int fd = openat(at->Folder, at->Name,
                  flags | O_NOFOLLOW | O_NONBLOCK | (overwrite ? O_TRUNC : 0));
  if (fd < 0) {
    Fail(errno == ELOOP || errno == ENXIO ? ERROR_ACCESS_DENIED
                                          : PosixErrorFromErrno(errno));
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    Fail(ERROR_ACCESS_DENIED);
    return -1;
  }
  // Back to blocking transfers, as every handle of this layer has them.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// A file just created on a drive written through: its entry in the folder made durable. The
// descriptor, or -1 (closed) with errno set when the medium refuses.
int Created(const Beneath* at, int fd, int writeThrough) {
  if (fd < 0 || !writeThrough || SyncFolder(at)) return fd;
  int saved = errno;
  close(fd);
  errno = saved;
  return -1;
}

// The handle of a descriptor CreateFileA opened with `flags`, entered in the handle table.
HANDLE Handed(int fd, int flags) {
  PosixKeepHandle(fd, flags);
  return PosixHandleFromFd(fd, PosixFileHandle);
}

HANDLE CreateFileBeneath(const Beneath* at, DWORD access, DWORD creationDisposition,
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
  int overwrite =
      creationDisposition == CREATE_ALWAYS || creationDisposition == TRUNCATE_EXISTING;
  DWORD created = CreatedAttributes(flagsAndAttributes);
  int mayCreate = creationDisposition == CREATE_NEW || creationDisposition == CREATE_ALWAYS ||
                  creationDisposition == OPEN_ALWAYS;
  // A path ending in a separator names a folder, which is no file to open or create.
  if (at->NamedAsFolder) {
    struct stat st;
    if (LookAt(at, &st)) Fail(S_ISDIR(st.st_mode) ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
    else Fail(mayCreate ? ERROR_ACCESS_DENIED : PosixErrorFromErrno(errno));
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
        FailErrno();
        return INVALID_HANDLE_VALUE;
      }
      return Handed(fd, handleFlags);
    }
  }

  for (int attempt = 0; attempt < 2; ++attempt) {  // again if the file appears in between
    struct stat st;
    if (LookAt(at, &st)) {
      // A folder, a link or a special file is nothing this call opens.
      if (!S_ISREG(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      }
      if (creationDisposition == CREATE_NEW) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
      }
      DWORD current = AttributesOfPath(at->Host, &st);
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
      int fd = OpenExisting(at, flags, overwrite);
      if (fd < 0) return INVALID_HANDLE_VALUE;
      if (overwrite && fstat(fd, &st) == 0) {
        StoreAttributes(fd, &st, created);  // as on Windows, a lost bit fails nothing
      }
      SetLastError(creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS
                       ? ERROR_ALREADY_EXISTS
                       : ERROR_SUCCESS);
      return Handed(fd, handleFlags);
    }
    // The folder is there, so a missing entry is a missing file.
    if (errno != ENOENT || creationDisposition == OPEN_EXISTING ||
        creationDisposition == TRUNCATE_EXISTING) {
      FailErrno();
      return INVALID_HANDLE_VALUE;
    }
    int fd = CreateNew(at, flags, created);
    if (fd < 0 && errno == EEXIST) continue;
    fd = Created(at, fd, writeThrough);
    if (fd < 0) {
      FailErrno();
      return INVALID_HANDLE_VALUE;
    }
    return Handed(fd, handleFlags);
  }
  SetLastError(creationDisposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_SHARING_VIOLATION);
  return INVALID_HANDLE_VALUE;
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
  Beneath at;
  if (!OpenBeneath(fileName, &at)) return INVALID_HANDLE_VALUE;
  HANDLE handle = CreateFileBeneath(&at, access, creationDisposition, flagsAndAttributes);
  DWORD error = GetLastError();
  CloseBeneath(&at);
  SetLastError(error);
  return handle;
}

namespace {

// The open flags of a file handle's descriptor: from the handle table, else asked of the host;
// -1 for no descriptor, and for a kept root's, which is no handle.
int HandleFlags(int fd) {
  if (fd < 0 || PosixIsKeptFd(fd)) return -1;
  int flags = PosixKeptHandleFlags(fd);
  return flags >= 0 ? flags : fcntl(fd, F_GETFL);
}

// The descriptor behind a file handle that may be used for `wanted` (O_RDONLY or O_WRONLY
// meaning reading or writing), or -1 with the error set. `*openFlags` (may be NULL) gets the
// flags it was opened with.
int UsableFd(HANDLE file, int writing, int* openFlags = nullptr) {
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
      DWORD error = n == 0 ? ERROR_DISK_FULL : PosixErrorFromErrno(errno);
      if (bytesWritten) *bytesWritten = done;
      return Fail(error);
    }
    done += (DWORD)n;
    PosixHandleChanged(fd);
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
      return FailErrno();
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
  int fd = UsableFd(file, 1);
  if (fd < 0) return FALSE;
  if (fsync(fd) != 0) return FailErrno();
  PosixHandleSynced(fd);
  return TRUE;
}

// The host keeps no creation time that can be set; a creation time is checked and dropped.
extern "C" BOOL WINAPI SetFileTime(HANDLE file, const FILETIME* creationTime,
                                   const FILETIME* lastAccessTime, const FILETIME* lastWriteTime) {
  int flags = 0;
  int fd = UsableFd(file, 1, &flags);
  if (fd < 0) return FALSE;
  struct timespec creation;
  struct timespec times[2];
  if (!TimeForHost(creationTime, &creation) || !TimeForHost(lastAccessTime, &times[0]) ||
      !TimeForHost(lastWriteTime, &times[1])) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (futimens(fd, times) != 0) return FailErrno();
  PosixHandleChanged(fd);
  // On a drive written through (O_DSYNC marks its handles) the time is on the medium too.
  if ((flags & O_DSYNC) && fsync(fd) != 0) return FailErrno();
  if (flags & O_DSYNC) PosixHandleSynced(fd);
  return TRUE;
}

// A handle of a drive written through is synced before it goes, unless nothing was done through
// it since SetFileTime synced it; a sync the medium refuses still closes the handle, and fails.
extern "C" BOOL WINAPI CloseHandle(HANDLE object) {
  int fd = PosixFdFromHandle(object, PosixFileHandle);
  int flags = HandleFlags(fd);
  if (flags < 0) return Fail(ERROR_INVALID_HANDLE);
  DWORD error = ERROR_SUCCESS;
  if ((flags & O_DSYNC) && PosixHandleNeedsSync(fd) && fsync(fd) != 0) {
    error = PosixErrorFromErrno(errno);
  }
  PosixForgetHandle(fd);
  if (close(fd) != 0) return Fail(ERROR_INVALID_HANDLE);
  if (error != ERROR_SUCCESS) return Fail(error);
  return TRUE;
}

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
  Beneath at;
  if (!OpenBeneath(fileName, &at)) return INVALID_FILE_ATTRIBUTES;
  struct stat st;
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  if (!LookAt(&at, &st)) FailErrno();
  else if (at.NamedAsFolder && !S_ISDIR(st.st_mode)) Fail(ERROR_PATH_NOT_FOUND);
  else attributes = AttributesOfObject(&at, &st);
  CloseBeneath(&at);
  return attributes;
}

namespace {

// 1 when a file or folder already answers `value` (reduced to what may be set) as storing it
// would leave it: the same value stored (or, for a file, nothing stored and ARCHIVE asked for,
// which reads the same) and READONLY as the mode has it. Never on FAT or exFAT, whose entry
// byte keeps fewer bits than were asked for.
int AlreadyStored(const Beneath* at, const struct stat* st, DWORD value) {
  DWORD stored = 0;
  int fat = 0;
  int hasStored = ReadStored(at->Host, &stored, &fat);
  if (fat) return 0;
  if (S_ISDIR(st->st_mode)) return hasStored && stored == value;
  int same = hasStored ? stored == value : value == FILE_ATTRIBUTE_ARCHIVE;
  int readOnly = (value & FILE_ATTRIBUTE_READONLY) != 0;
  return same && readOnly == !(st->st_mode & WriteBits);
}

}  // namespace

// On a file or folder only: a link or special file is refused, never its target changed. A
// value already stored is not written again (nor synced: nothing changed).
extern "C" BOOL WINAPI SetFileAttributesA(LPCSTR fileName, DWORD attributes) {
  Beneath at;
  if (!OpenBeneath(fileName, &at)) return FALSE;
  DWORD value = WithNormal(attributes & SettableAttributes);
  struct stat st;
  if (!LookAt(&at, &st)) {
    FailErrno();
    CloseBeneath(&at);
    return FALSE;
  }
  if (IsPlain(&st) && AlreadyStored(&at, &st, value)) {
    CloseBeneath(&at);
    return TRUE;
  }
  int fd = OpenPlain(&at, &st);
  CloseBeneath(&at);
  if (fd < 0) return FALSE;
  int stored = StoreAttributes(fd, &st, value);
  if (stored && PosixWritesThrough(at.Host)) stored = fsync(fd) == 0;
  int saved = errno;
  close(fd);
  if (!stored) return Fail(PosixErrorFromErrno(saved));
  return TRUE;
}

// A read-only file is refused even where the host would let its owner (or root) remove it. A
// link is removed itself, never what it leads to.
extern "C" BOOL WINAPI DeleteFileA(LPCSTR fileName) {
  Beneath at;
  if (!OpenBeneath(fileName, &at)) return FALSE;
  struct stat st;
  BOOL done = FALSE;
  if (!LookAt(&at, &st)) FailErrno();
  else if (S_ISDIR(st.st_mode)) Fail(ERROR_ACCESS_DENIED);
  else if (at.NamedAsFolder) Fail(ERROR_PATH_NOT_FOUND);
  else if (S_ISREG(st.st_mode) && (AttributesOfPath(at.Host, &st) & FILE_ATTRIBUTE_READONLY)) {
    Fail(ERROR_ACCESS_DENIED);
  } else if (unlinkat(at.Folder, at.Name, 0) != 0) FailErrno();
  else if (PosixWritesThrough(at.Host) && !SyncFolder(&at)) FailErrno();
  else done = TRUE;
  CloseBeneath(&at);
  return done;
}

extern "C" BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES) {
  Beneath at;
  if (!OpenBeneath(pathName, &at)) return FALSE;
  BOOL done = FALSE;
  if (at.IsRoot) Fail(ERROR_ACCESS_DENIED);
  else if (mkdirat(at.Folder, at.Name, 0777) != 0) FailErrno();
  else if (PosixWritesThrough(at.Host) && !SyncNewFolder(&at)) FailErrno();
  else done = TRUE;
  CloseBeneath(&at);
  return done;
}

extern "C" BOOL WINAPI RemoveDirectoryA(LPCSTR pathName) {
  Beneath at;
  if (!OpenBeneath(pathName, &at)) return FALSE;
  struct stat st;
  BOOL done = FALSE;
  if (at.IsRoot) Fail(ERROR_ACCESS_DENIED);  // never the drive's own folder
  else if (!LookAt(&at, &st)) FailErrno();
  else if (!S_ISDIR(st.st_mode)) Fail(ERROR_DIRECTORY);
  else if (AttributesOfPath(at.Host, &st) & FILE_ATTRIBUTE_READONLY) Fail(ERROR_ACCESS_DENIED);
  else if (unlinkat(at.Folder, at.Name, AT_REMOVEDIR) != 0) {
    Fail(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : PosixErrorFromErrno(errno));
  } else if (PosixWritesThrough(at.Host) && !SyncFolder(&at)) {
    FailErrno();
  } else {
    done = TRUE;
  }
  CloseBeneath(&at);
  return done;
}

namespace {

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
int StoredName(const Beneath* at, char* out, size_t size) {
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
// than matched. What stands at the path is reported as it is, a link or special file included
// (see AttributesOfObject). The handle holds the descriptor of the entry's folder, so that an
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
  Beneath at;
  if (!OpenBeneath(fileName, &at)) return INVALID_HANDLE_VALUE;
  struct stat st;
  if (at.IsRoot || !LookAt(&at, &st)) {
    if (at.IsRoot) Fail(ERROR_FILE_NOT_FOUND);
    else FailErrno();
    CloseBeneath(&at);
    return INVALID_HANDLE_VALUE;
  }
  memset(findData, 0, sizeof *findData);
  int fat = 0;
  findData->dwFileAttributes = AttributesOfObject(&at, &st, &fat);
  // On FAT and exFAT the entry found may hold another name than the one asked for.
  char stored[NAME_MAX + 1];
  int named = fat && StoredName(&at, stored, sizeof stored)
                  ? PosixUtf8ToAnsi(stored, findData->cFileName, sizeof findData->cFileName)
                  : NameOfEntry(fileName, at.Name, findData->cFileName,
                                sizeof findData->cFileName);
  if (!named) {
    CloseBeneath(&at);
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
  // The search holds a descriptor of its own: the kept root stays with the drive.
  int held = at.Owned ? at.Folder : fcntl(at.Folder, F_DUPFD_CLOEXEC, 0);
  if (held < 0) {
    FailErrno();
    return INVALID_HANDLE_VALUE;
  }
  return PosixHandleFromFd(held, PosixFindHandle);
}

extern "C" BOOL WINAPI FindClose(HANDLE findHandle) {
  int fd = PosixFdFromHandle(findHandle, PosixFindHandle);
  if (fd < 0 || PosixIsKeptFd(fd)) return Fail(ERROR_INVALID_HANDLE);
  PosixForgetHandle(fd);
  if (close(fd) != 0) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}
