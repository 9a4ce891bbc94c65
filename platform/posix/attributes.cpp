// File attributes on the POSIX side: how the host stores them, and GetFileAttributesA and
// SetFileAttributesA. What Windows refuses is refused by looking at the attributes, not left to
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
#include "platform/posix/attributes.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/posix/errors.h"
#include "platform/posix/hostpath.h"

namespace {

const char AttributeName[] = "user.DOSATTRIB";

const DWORD SettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                 FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                 FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY |
                                 FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// NORMAL means "no other attribute": it never appears together with another bit.
DWORD WithNormal(DWORD value) {
  if (value & ~FILE_ATTRIBUTE_NORMAL) return value & ~FILE_ATTRIBUTE_NORMAL;
  return FILE_ATTRIBUTE_NORMAL;
}

#ifndef EXFAT_SUPER_MAGIC
#define EXFAT_SUPER_MAGIC 0x2011BAB0
#endif

// The bits a FAT directory entry keeps of what may be set.
const DWORD FatEntryBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_ARCHIVE;

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
  if (!(st->st_mode & PosixWriteBits)) value |= FILE_ATTRIBUTE_READONLY;
  return WithNormal(value);
}

// A file's READONLY in its mode where the driver allows no other change: of the write bits all
// the mount's mask lets through or none (the FAT drivers refuse anything else with EPERM).
int MirrorInMode(int fd, const struct stat* st, DWORD value) {
  mode_t mode = st->st_mode & 07777;
  if (value & FILE_ATTRIBUTE_READONLY) {
    return (mode & PosixWriteBits) == 0 || fchmod(fd, mode & ~PosixWriteBits) == 0;
  }
  if (mode & PosixWriteBits) return 1;
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

// Opens the plain file or folder at the path for changing its attributes, `st` holding what
// PosixLookAt found there: the descriptor (`st` then what it has opened), or -1 with the error
// set. Links and special files are refused without being opened.
int OpenPlain(const PosixBeneath* at, struct stat* st) {
  if (!PosixIsPlain(st)) {
    PosixFail(ERROR_ACCESS_DENIED);
    return -1;
  }
  int fd = openat(at->Folder, at->Name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    PosixFail(errno == ELOOP || errno == ENXIO ? ERROR_ACCESS_DENIED : PosixErrorFromErrno(errno));
    return -1;
  }
  if (fstat(fd, st) != 0 || !PosixIsPlain(st)) {  // replaced in between
    close(fd);
    PosixFail(ERROR_ACCESS_DENIED);
    return -1;
  }
  return fd;
}

// 1 when a file or folder already answers `value` (reduced to what may be set) as storing it
// would leave it: the same value stored (or, for a file, nothing stored and ARCHIVE asked for,
// which reads the same) and READONLY as the mode has it. Never on FAT or exFAT, whose entry
// byte keeps fewer bits than were asked for.
int AlreadyStored(const PosixBeneath* at, const struct stat* st, DWORD value) {
  DWORD stored = 0;
  int fat = 0;
  int hasStored = ReadStored(at->Host, &stored, &fat);
  if (fat) return 0;
  if (S_ISDIR(st->st_mode)) return hasStored && stored == value;
  int same = hasStored ? stored == value : value == FILE_ATTRIBUTE_ARCHIVE;
  int readOnly = (value & FILE_ATTRIBUTE_READONLY) != 0;
  return same && readOnly == !(st->st_mode & PosixWriteBits);
}

}  // namespace

DWORD PosixAttributesOfPath(const char* hostPath, const struct stat* st, int* fat) {
  DWORD stored = 0;
  int hasStored = ReadStored(hostPath, &stored, fat);
  return AttributesOf(st, hasStored, stored);
}

DWORD PosixAttributesOfObject(const PosixBeneath* at, const struct stat* st, int* fat) {
  if (fat) *fat = 0;
  if (S_ISLNK(st->st_mode)) return FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT;
  if (!PosixIsPlain(st)) return FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_DEVICE;
  // The levels up to here are no links, and the last one is none either: reading by path is
  // reading this object.
  return PosixAttributesOfPath(at->Host, st, fat);
}

int PosixStoreAttributes(int fd, const struct stat* st, DWORD value) {
  char text[16];
  int n = snprintf(text, sizeof text, "0x%x", (unsigned)value);
  int stored = fsetxattr(fd, AttributeName, text, (size_t)n, 0);
  if (stored != 0 && errno == ENOTSUP && IsFatMedium(fd)) return StoreInEntry(fd, st, value);
  int saved = errno;
  if (!S_ISDIR(st->st_mode)) {
    mode_t mode = st->st_mode & 07777;
    mode_t wanted = mode;
    if (value & FILE_ATTRIBUTE_READONLY) {
      wanted = mode & ~PosixWriteBits;
    } else if (!(mode & PosixWriteBits)) {
      wanted = (mode & 07111) | 0644;
    }
    if (wanted != mode && fchmod(fd, wanted) != 0) {
      return 0;
    }
  }
  errno = saved;
  return stored == 0;
}

DWORD PosixCreatedAttributes(DWORD flagsAndAttributes) {
  return (flagsAndAttributes & SettableAttributes & ~FILE_ATTRIBUTE_NORMAL) |
         FILE_ATTRIBUTE_ARCHIVE;
}

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
  PosixBeneath at;
  if (!PosixOpenBeneath(fileName, &at)) return INVALID_FILE_ATTRIBUTES;
  struct stat st;
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  if (!PosixLookAt(&at, &st)) PosixFailErrno();
  else if (at.NamedAsFolder && !S_ISDIR(st.st_mode)) PosixFail(ERROR_PATH_NOT_FOUND);
  else attributes = PosixAttributesOfObject(&at, &st);
  PosixCloseBeneath(&at);
  return attributes;
}

// On a file or folder only: a link or special file is refused, never its target changed. A
// value already stored is not written again (nor synced: nothing changed).
extern "C" BOOL WINAPI SetFileAttributesA(LPCSTR fileName, DWORD attributes) {
  PosixBeneath at;
  if (!PosixOpenBeneath(fileName, &at)) return FALSE;
  DWORD value = WithNormal(attributes & SettableAttributes);
  struct stat st;
  if (!PosixLookAt(&at, &st)) {
    PosixFailErrno();
    PosixCloseBeneath(&at);
    return FALSE;
  }
  if (PosixIsPlain(&st) && AlreadyStored(&at, &st, value)) {
    PosixCloseBeneath(&at);
    return TRUE;
  }
  int fd = OpenPlain(&at, &st);
  PosixCloseBeneath(&at);
  if (fd < 0) return FALSE;
  int stored = PosixStoreAttributes(fd, &st, value);
  if (stored && PosixWritesThrough(at.Host)) stored = fsync(fd) == 0;
  int saved = errno;
  close(fd);
  if (!stored) return PosixFail(PosixErrorFromErrno(saved));
  return TRUE;
}
