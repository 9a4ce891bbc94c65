// Drive letters on the POSIX side: the drive table, the mapping of Windows paths onto host
// paths, GetDriveTypeA and GetVolumeInformationA.
//
// The drive table is a folder, named by the environment variable ZARPO_DOSDEVICES (default
// $HOME/.zarpo/dosdevices), laid out like a Wine prefix's dosdevices:
//
//   e:            symlink to the host folder that is the root of drive E: (lower-case letter,
//                 colon); a plain folder of that name serves as well
//   drive-types   optional text file, one drive a line:   e: removable
//                 types: removable, fixed, remote, cdrom, ramdisk (any other word: unknown);
//                 blank lines and lines starting with '#' are ignored
//
// A letter with a link but no line is a fixed drive. A letter with a line but no link, or with
// a link that leads nowhere, is a drive without a medium: it keeps its type, and a removable or
// CD drive then answers ERROR_NOT_READY, as an empty card reader does on Windows. A letter with
// neither is no drive at all. The table is looked at anew on every call, so that plugging a
// "disk" in or out is just changing a link: the file calls keep the folder a root leads to open
// between calls (cache.cpp), and check with one stat on every call that the link still leads
// there.
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include "host/codepage.h"
#include "platform/extra_calls.h"
#include "platform/posix/errors.h"
#include "platform/posix/hostpath.h"

namespace {

// What the table says about one letter. Every path goes through here, and the table is looked
// at anew each time, so the look is kept to what the call needs: the kernel follows the table's
// link when the root is named through it, and the drive-types file is read only when a type is
// asked for or the drive has no medium.
struct Drive {
  UINT Type;  // only when TypeKnown
  int TypeKnown;
  int HasMedium;        // the root leads to a folder
  size_t TableLength;   // Link[0..TableLength) is the table folder
  char Link[PATH_MAX];  // the table's entry for the letter: "<table>/e:"
  char Root[PATH_MAX];  // when HasMedium: the host folder, in the form LookUpDrive was asked for
};

// What LookUpDrive finds out, in the combinations the calls need. The root is named through the
// link ("<table>/e:/", the final slash making every host call follow it, lstat and unlink
// included), which needs no call; or by the link's target, as people and other programs name
// the folder, which needs one. Whether the root leads to a folder (the medium) costs a call,
// and so does the type when the drive has a medium (the drive-types file).
enum DriveLookUp {
  LinkOnly,           // through the link; the medium is left to the caller's host calls
  LinkAndMedium,      // through the link, the medium looked at
  LinkMediumAndType,  // the same and the type, medium or not
  ResolvedAndMedium,  // by the link's target, the medium looked at
};

int TableFolder(char* out, size_t size, size_t* length) {
  const char* table = getenv("ZARPO_DOSDEVICES");
  const char* tail = "";
  if (!table || !*table) {
    table = getenv("HOME");
    if (!table || !*table) return 0;
    tail = "/.zarpo/dosdevices";
  }
  size_t a = strlen(table);
  size_t b = strlen(tail);
  if (a + b >= size) return 0;
  memcpy(out, table, a);
  memcpy(out + a, tail, b + 1);
  *length = a + b;
  return 1;
}

UINT TypeFromWord(const char* word) {
  static const struct {
    const char* Word;
    UINT Type;
  } types[] = {{"removable", DRIVE_REMOVABLE},
               {"fixed", DRIVE_FIXED},
               {"remote", DRIVE_REMOTE},
               {"cdrom", DRIVE_CDROM},
               {"ramdisk", DRIVE_RAMDISK}};
  for (const auto& t : types) {
    if (strcasecmp(word, t.Word) == 0) return t.Type;
  }
  return DRIVE_UNKNOWN;
}

// The type one line of the drive-types file gives `letter` (lower case), or -1.
long TypeFromLine(const char* line, char letter) {
  char name[8];
  char word[32];
  if (line[0] == '#') return -1;
  if (sscanf(line, " %7s %31s", name, word) != 2) return -1;
  if (strlen(name) != 2 || name[1] != ':' || tolower((unsigned char)name[0]) != letter) return -1;
  return (long)TypeFromWord(word);
}

// The type the drive-types file in `table` gives `letter` (lower case), or -1 when it names no
// type. Read in one go where it fits the buffer (open, read, close), line by line otherwise.
long TypeFromTable(const char* table, char letter) {
  char file[PATH_MAX];
  int n = snprintf(file, sizeof file, "%s/drive-types", table);
  if (n <= 0 || (size_t)n >= sizeof file) return -1;
  int fd = open(file, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  long found = -1;
  char text[4096];
  size_t kept = 0;  // the start of a line the last read cut off
  for (;;) {
    ssize_t got = read(fd, text + kept, sizeof text - 1 - kept);
    if (got < 0 && errno == EINTR) continue;
    size_t length = kept + (got > 0 ? (size_t)got : 0);
    int last = got <= 0 || (size_t)got < sizeof text - 1 - kept;  // a short read: the end
    text[length] = '\0';
    char* line = text;
    for (char* end; (end = strchr(line, '\n')) != nullptr; line = end + 1) {
      *end = '\0';
      long type = TypeFromLine(line, letter);
      if (type >= 0) found = type;  // the last line for a letter wins
    }
    kept = length - (size_t)(line - text);
    if (last) {
      long type = kept ? TypeFromLine(line, letter) : -1;
      if (type >= 0) found = type;
      break;
    }
    if (kept > 255) kept = 0;  // no line of the file is that long: what is left is no line
    memmove(text, line, kept);
  }
  close(fd);
  return found;
}

// Reads the drive's type into `drive`: the table's line, else fixed when there is a link (or
// a plain entry) for the letter, else no drive.
void LookUpType(Drive* drive) {
  if (drive->TypeKnown) return;
  drive->TypeKnown = 1;
  drive->Type = DRIVE_NO_ROOT_DIR;
  if (!drive->Link[0]) return;
  char letter = drive->Link[drive->TableLength + 1];
  char table[PATH_MAX];
  memcpy(table, drive->Link, drive->TableLength);
  table[drive->TableLength] = '\0';
  long type = TypeFromTable(table, letter);
  struct stat st;
  if (type >= 0) {
    drive->Type = (UINT)type;
  } else if (lstat(drive->Link, &st) == 0) {
    drive->Type = DRIVE_FIXED;
  }
}

// The folder the link's target names, relative targets taken from the table folder; a plain
// folder in the table is its own target. 0 when there is none or it does not fit.
int ResolvedRoot(const Drive* drive, char* out, size_t size) {
  char target[PATH_MAX];
  ssize_t n = readlink(drive->Link, target, sizeof target - 1);
  if (n < 0) {
    if (errno != EINVAL) return 0;
    size_t length = strlen(drive->Link);
    if (length >= size) return 0;
    memcpy(out, drive->Link, length + 1);
    return 1;
  }
  if (n == 0) return 0;
  target[n] = '\0';
  size_t prefix = target[0] == '/' ? 0 : drive->TableLength + 1;
  if (prefix + (size_t)n >= size) return 0;
  memcpy(out, drive->Link, prefix);  // "<table>/"
  memcpy(out + prefix, target, (size_t)n + 1);
  // "/media/x/" names the same folder as "/media/x"; joining adds the separators.
  size_t length = prefix + (size_t)n;
  while (length > 1 && out[length - 1] == '/') out[--length] = '\0';
  return 1;
}

// Fills the drive's Link and TableLength for `letter`; 0 when there is no table folder.
int FindLink(char letter, Drive* drive) {
  drive->Type = DRIVE_NO_ROOT_DIR;
  drive->TypeKnown = 0;
  drive->HasMedium = 0;
  drive->TableLength = 0;
  drive->Link[0] = '\0';
  drive->Root[0] = '\0';
  size_t length = 0;
  if (!TableFolder(drive->Link, sizeof drive->Link - 4, &length)) {
    drive->Link[0] = '\0';
    drive->TypeKnown = 1;
    return 0;
  }
  drive->TableLength = length;
  drive->Link[length] = '/';
  drive->Link[length + 1] = (char)tolower((unsigned char)letter);
  drive->Link[length + 2] = ':';
  drive->Link[length + 3] = '\0';
  return 1;
}

int IsFolder(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Without a medium the type is always read: it tells "no medium" from "no drive".
void LookUpDrive(char letter, DriveLookUp lookUp, Drive* drive) {
  if (!FindLink(letter, drive)) return;
  size_t length = drive->TableLength + 3;
  if (lookUp != ResolvedAndMedium) {
    memcpy(drive->Root, drive->Link, length);
    drive->Root[length] = '/';
    drive->Root[length + 1] = '\0';
    drive->HasMedium = lookUp == LinkOnly || IsFolder(drive->Root);
  } else {
    drive->HasMedium = ResolvedRoot(drive, drive->Root, sizeof drive->Root) &&
                       IsFolder(drive->Root);
  }
  if (!drive->HasMedium) drive->Root[0] = '\0';
  if (lookUp == LinkMediumAndType || !drive->HasMedium) LookUpType(drive);
}

// Why a drive cannot be used, as file calls report it.
DWORD DriveError(const Drive* drive) {
  if (drive->Type == DRIVE_NO_ROOT_DIR) return ERROR_PATH_NOT_FOUND;
  if (drive->Type == DRIVE_REMOVABLE || drive->Type == DRIVE_CDROM) return ERROR_NOT_READY;
  return ERROR_PATH_NOT_FOUND;
}

int IsSeparator(char c) { return c == '\\' || c == '/'; }

int IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "X:\", "X:/" or, when `bareAllowed`, "X:".
int IsDriveRoot(const char* path, int bareAllowed) {
  if (!path || !IsDriveLetter(path[0]) || path[1] != ':') return 0;
  if (path[2] == '\0') return bareAllowed;
  return IsSeparator(path[2]) && path[3] == '\0';
}

// X:\... -> host path, the drive's root as `lookUp` names it; see hostpath.h.
int MapOntoHost(const char* windowsPath, DriveLookUp lookUp, char* out, size_t size,
                size_t* rootLength) {
  if (size) out[0] = '\0';
  if (!windowsPath || !*windowsPath) return PosixFail(ERROR_PATH_NOT_FOUND);
  if (strlen(windowsPath) >= PATH_MAX) return PosixFail(ERROR_FILENAME_EXCED_RANGE);
  // Convert before splitting: a backslash byte may be the second half of a character.
  static_assert(PATH_MAX < 8192, "the converted path lives on the stack");
  char utf8[3 * PATH_MAX + 1];
  if (!HostAnsiToUtf8(windowsPath, utf8, sizeof utf8)) return PosixFail(ERROR_INVALID_NAME);
  if (IsSeparator(utf8[0]) && IsSeparator(utf8[1])) return PosixFail(ERROR_BAD_NETPATH);
  if (!IsDriveLetter(utf8[0]) || utf8[1] != ':') return PosixFail(ERROR_PATH_NOT_FOUND);

  Drive drive;
  LookUpDrive(utf8[0], lookUp, &drive);
  if (!drive.HasMedium) return PosixFail(DriveError(&drive));
  size_t length = strlen(drive.Root);
  if (length >= size) return PosixFail(ERROR_FILENAME_EXCED_RANGE);
  memcpy(out, drive.Root, length + 1);
  size_t root = length;

  // Each drive's current folder is its root here, so "E:a" is "E:\a".
  const char* p = utf8 + 2;
  while (*p) {
    while (IsSeparator(*p)) ++p;
    const char* end = p;
    while (*end && !IsSeparator(*end)) ++end;
    size_t n = (size_t)(end - p);
    if (n == 0 || (n == 1 && p[0] == '.')) {
      // nothing: empty levels collapse, "." stays where it is
    } else if (n == 2 && p[0] == '.' && p[1] == '.') {
      if (length > root) {
        char* slash = strrchr(out, '/');
        length = slash && (size_t)(slash - out) >= root ? (size_t)(slash - out) : root;
        out[length] = '\0';
      }
    } else {
      int needSlash = length == 0 || out[length - 1] != '/';
      if (length + (size_t)needSlash + n >= size) return PosixFail(ERROR_FILENAME_EXCED_RANGE);
      if (needSlash) out[length++] = '/';
      memcpy(out + length, p, n);
      length += n;
      out[length] = '\0';
    }
    p = end;
  }
  // Keep a final separator, so that the host refuses a file named as a folder, as Windows does.
  size_t last = strlen(utf8);
  if (length > root && last > 2 && IsSeparator(utf8[last - 1])) {
    if (length + 1 >= size) return PosixFail(ERROR_FILENAME_EXCED_RANGE);
    out[length++] = '/';
    out[length] = '\0';
  }
  // Nothing below the root is reached unless the root is a folder, but the root itself is.
  if (length == root && lookUp == LinkOnly && !IsFolder(drive.Root)) {
    drive.HasMedium = 0;
    LookUpType(&drive);
    out[0] = '\0';
    return PosixFail(DriveError(&drive));
  }
  if (rootLength) *rootLength = root;
  return 1;
}

}  // namespace

int PosixHostPathOfDrive(const char* windowsPath, char* out, size_t size, size_t* rootLength) {
  return MapOntoHost(windowsPath, LinkOnly, out, size, rootLength);
}

int PosixHostPath(const char* windowsPath, char* out, size_t size) {
  return MapOntoHost(windowsPath, ResolvedAndMedium, out, size, nullptr);
}

int PosixDriveErrorOfHostPath(const char* hostPath, DWORD* error) {
  if (!hostPath) return 0;
  Drive drive;
  char table[PATH_MAX];
  size_t length = 0;
  if (!TableFolder(table, sizeof table, &length)) return 0;
  // "<table>/x:/", as PosixHostPathOfDrive names a root
  if (strncmp(hostPath, table, length) != 0 || hostPath[length] != '/' ||
      !IsDriveLetter(hostPath[length + 1]) || hostPath[length + 2] != ':' ||
      hostPath[length + 3] != '/') {
    return 0;
  }
  LookUpDrive(hostPath[length + 1], LinkAndMedium, &drive);
  if (drive.HasMedium) return 0;
  *error = DriveError(&drive);
  return 1;
}

int PosixWritesThrough(const char* hostPath) {
  char table[PATH_MAX];
  size_t length = 0;
  if (!hostPath || !TableFolder(table, sizeof table, &length)) return 0;
  if (strncmp(hostPath, table, length) != 0 || hostPath[length] != '/' ||
      !IsDriveLetter(hostPath[length + 1]) || hostPath[length + 2] != ':') {
    return 0;
  }
  Drive drive;
  if (!FindLink(hostPath[length + 1], &drive)) return 0;
  LookUpType(&drive);
  return drive.Type == DRIVE_REMOVABLE;
}

extern "C" UINT WINAPI GetDriveTypeA(LPCSTR rootPath) {
  if (!IsDriveRoot(rootPath, 1)) return DRIVE_NO_ROOT_DIR;
  Drive drive;
  LookUpDrive(rootPath[0], LinkMediumAndType, &drive);
  return drive.Type;
}

namespace {

// Copies `text` into a caller's buffer of `size` bytes; a NULL buffer asks for nothing.
int FillText(LPSTR buffer, DWORD size, const char* text) {
  if (!buffer) return 1;
  size_t n = strlen(text);
  if (n >= size) return 0;
  memcpy(buffer, text, n + 1);
  return 1;
}

const char* FileSystemName(const struct statfs* fs) {
  switch ((unsigned long)fs->f_type) {
    case 0x4d44:  // vfat, msdos
      return "FAT32";
    case 0x2011BAB0:  // exfat
      return "exFAT";
    case 0x9660:  // iso9660
      return "CDFS";
    case 0x15013346:  // udf
      return "UDF";
    default:  // what Windows programs expect of a fixed disk
      return "NTFS";
  }
}

}  // namespace

extern "C" BOOL WINAPI GetVolumeInformationA(LPCSTR rootPath, LPSTR volumeName,
                                             DWORD volumeNameSize, LPDWORD serialNumber,
                                             LPDWORD maxComponentLength, LPDWORD fileSystemFlags,
                                             LPSTR fileSystemName, DWORD fileSystemNameSize) {
  if (!rootPath) return PosixFail(ERROR_PATH_NOT_FOUND);
  if (!IsDriveRoot(rootPath, 0)) return PosixFail(ERROR_INVALID_NAME);  // Windows wants "X:\"
  Drive drive;
  LookUpDrive(rootPath[0], LinkAndMedium, &drive);
  if (!drive.HasMedium) return PosixFail(DriveError(&drive));
  struct statfs fs;
  struct stat st;
  if (statfs(drive.Root, &fs) != 0 || stat(drive.Root, &st) != 0) {
    return PosixFail(PosixErrorFromErrno(errno));
  }
  // No label is kept for a host folder.
  if (!FillText(volumeName, volumeNameSize, "")) return PosixFail(ERROR_MORE_DATA);
  if (!FillText(fileSystemName, fileSystemNameSize, FileSystemName(&fs))) {
    return PosixFail(ERROR_MORE_DATA);
  }
  // A serial number that stays the same while the folder does.
  if (serialNumber) {
    uint64_t mix = ((uint64_t)st.st_dev * 0x9E3779B97F4A7C15ull) ^ (uint64_t)st.st_ino;
    *serialNumber = (DWORD)(mix ^ (mix >> 32));
  }
  if (maxComponentLength) *maxComponentLength = fs.f_namelen ? (DWORD)fs.f_namelen : 255;
  if (fileSystemFlags) *fileSystemFlags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
