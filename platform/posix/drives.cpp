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
// neither is no drive at all. The table is read anew on every call, so that plugging a "disk"
// in or out is just changing a link.
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

#include "platform/platform.h"
#include "platform/posix/codepage.h"
#include "platform/posix/filesys.h"
#include "platform/posix/hostpath.h"

namespace {

struct Drive {
  UINT Type;
  int HasMedium;        // the root resolves to a folder
  char Root[PATH_MAX];  // canonical host folder when HasMedium
};

int TableFolder(char* out, size_t size) {
  const char* table = getenv("ZARPO_DOSDEVICES");
  int n;
  if (table && *table) {
    n = snprintf(out, size, "%s", table);
  } else {
    const char* home = getenv("HOME");
    if (!home || !*home) return 0;
    n = snprintf(out, size, "%s/.zarpo/dosdevices", home);
  }
  return n > 0 && (size_t)n < size;
}

UINT TypeFromWord(const char* word) {
  static const struct {
    const char* Word;
    UINT Type;
  } types[] = {{"removable", DRIVE_REMOVABLE}, {"fixed", DRIVE_FIXED},
               {"remote", DRIVE_REMOTE},       {"cdrom", DRIVE_CDROM},
               {"ramdisk", DRIVE_RAMDISK}};
  for (const auto& t : types) {
    if (strcasecmp(word, t.Word) == 0) return t.Type;
  }
  return DRIVE_UNKNOWN;
}

// The type the drive-types file gives `letter` (lower case), or -1 when it names no type.
long TypeFromTable(const char* table, char letter) {
  char file[PATH_MAX];
  int n = snprintf(file, sizeof file, "%s/drive-types", table);
  if (n <= 0 || (size_t)n >= sizeof file) return -1;
  FILE* f = fopen(file, "re");
  if (!f) return -1;
  long found = -1;
  char line[256];
  while (fgets(line, sizeof line, f)) {
    char name[8];
    char word[32];
    if (line[0] == '#') continue;
    if (sscanf(line, " %7s %31s", name, word) != 2) continue;
    if (strlen(name) == 2 && name[1] == ':' && tolower((unsigned char)name[0]) == letter) {
      found = (long)TypeFromWord(word);  // the last line for a letter wins
    }
  }
  fclose(f);
  return found;
}

// The canonical path of the folder `path` leads to, as realpath gives it; 0 when it leads to
// no folder. Every path goes through here, so it asks the kernel for the name of the opened
// folder (three calls) rather than letting realpath look at each level (one call per level of
// the link and of its target, a dozen or more).
int CanonicalFolder(const char* path, char* out, size_t size) {
  int fd = open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  char self[64];
  snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(self, out, size - 1);
  close(fd);
  // Without /proc, or for a folder outside this process's root, the kernel's name is no path.
  if (n > 0 && (size_t)n < size - 1 && out[0] == '/') {
    out[n] = '\0';
    return 1;
  }
  struct stat st;
  return realpath(path, out) && stat(out, &st) == 0 && S_ISDIR(st.st_mode);
}

void LookUpDrive(char letter, Drive* drive) {
  drive->Type = DRIVE_NO_ROOT_DIR;
  drive->HasMedium = 0;
  drive->Root[0] = '\0';
  letter = (char)tolower((unsigned char)letter);
  char table[PATH_MAX];
  if (!TableFolder(table, sizeof table)) return;
  char link[PATH_MAX];
  int n = snprintf(link, sizeof link, "%s/%c:", table, letter);
  if (n <= 0 || (size_t)n >= sizeof link) return;
  struct stat st;
  int hasLink = lstat(link, &st) == 0;
  long type = TypeFromTable(table, letter);
  if (type >= 0) {
    drive->Type = (UINT)type;
  } else if (hasLink) {
    drive->Type = DRIVE_FIXED;
  } else {
    return;
  }
  if (hasLink && CanonicalFolder(link, drive->Root, sizeof drive->Root)) {
    drive->HasMedium = 1;
  } else {
    drive->Root[0] = '\0';
  }
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

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

}  // namespace

int PosixHostPathOfDrive(const char* windowsPath, char* out, size_t size, size_t* rootLength) {
  if (size) out[0] = '\0';
  if (!windowsPath || !*windowsPath) return Fail(ERROR_PATH_NOT_FOUND);
  if (strlen(windowsPath) >= PATH_MAX) return Fail(ERROR_FILENAME_EXCED_RANGE);
  // Convert before splitting: a backslash byte may be the second half of a character.
  static_assert(PATH_MAX < 8192, "the converted path lives on the stack");
  char utf8[3 * PATH_MAX + 1];
  if (!PosixAnsiToUtf8(windowsPath, utf8, sizeof utf8)) return Fail(ERROR_INVALID_NAME);
  if (IsSeparator(utf8[0]) && IsSeparator(utf8[1])) return Fail(ERROR_BAD_NETPATH);
  if (!IsDriveLetter(utf8[0]) || utf8[1] != ':') return Fail(ERROR_PATH_NOT_FOUND);

  Drive drive;
  LookUpDrive(utf8[0], &drive);
  if (!drive.HasMedium) return Fail(DriveError(&drive));
  size_t length = strlen(drive.Root);
  if (length >= size) return Fail(ERROR_FILENAME_EXCED_RANGE);
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
      if (length + (size_t)needSlash + n >= size) return Fail(ERROR_FILENAME_EXCED_RANGE);
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
    if (length + 1 >= size) return Fail(ERROR_FILENAME_EXCED_RANGE);
    out[length++] = '/';
    out[length] = '\0';
  }
  if (rootLength) *rootLength = root;
  return 1;
}

int PosixHostPath(const char* windowsPath, char* out, size_t size) {
  return PosixHostPathOfDrive(windowsPath, out, size, nullptr);
}

extern "C" UINT WINAPI GetDriveTypeA(LPCSTR rootPath) {
  if (!IsDriveRoot(rootPath, 1)) return DRIVE_NO_ROOT_DIR;
  Drive drive;
  LookUpDrive(rootPath[0], &drive);
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
  if (!rootPath) return Fail(ERROR_PATH_NOT_FOUND);
  if (!IsDriveRoot(rootPath, 0)) return Fail(ERROR_INVALID_NAME);  // Windows wants "X:\"
  Drive drive;
  LookUpDrive(rootPath[0], &drive);
  if (!drive.HasMedium) return Fail(DriveError(&drive));
  struct statfs fs;
  struct stat st;
  if (statfs(drive.Root, &fs) != 0 || stat(drive.Root, &st) != 0) {
    return Fail(PosixErrorFromErrno(errno, nullptr));
  }
  // No label is kept for a host folder.
  if (!FillText(volumeName, volumeNameSize, "")) return Fail(ERROR_MORE_DATA);
  if (!FillText(fileSystemName, fileSystemNameSize, FileSystemName(&fs))) {
    return Fail(ERROR_MORE_DATA);
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
