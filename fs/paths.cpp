// Path and folder helpers: composing a target path, splitting off its folder part and creating
// a missing chain of folders one level at a time. Paths are code page 932 byte strings; a lead
// byte and the byte after it are one character, so a trail byte 0x5C (as in 表, 95 5C) is never
// taken for a backslash. A lead byte followed by the NUL is the last character of its string.
// Nothing here writes past a 260-byte path buffer: what would not fit is refused with 0.
#include "fs/paths.h"

#include <string.h>

namespace {

const size_t MaxPathLength = MAX_PATH - 1;
const size_t MaxFolderPart = 255;

bool IsLead(char c) { return IsDBCSLeadByte(static_cast<BYTE>(c)) != FALSE; }

// Bytes taken by the character at `p`: 2 for a lead byte with its trail byte, else 1.
size_t CharLength(const char* p) { return (IsLead(p[0]) && p[1] != '\0') ? 2 : 1; }

// The last character of a non-empty string, found by stepping back from its end.
char LastChar(const char* text, size_t length) { return *CharPrevA(text, text + length); }

// Index of the first backslash at or after `from` (which must start a character), or -1.
long FindBackslash(const char* text, size_t from) {
  for (size_t i = from; text[i] != '\0'; i += CharLength(text + i)) {
    if (text[i] == '\\') return static_cast<long>(i);
  }
  return -1;
}

// Appends `piece` to `out` (holding `*used` bytes); 0 when the result would not fit.
int Append(char* out, size_t* used, const char* piece, size_t length) {
  if (length > MaxPathLength - *used) return 0;
  memcpy(out + *used, piece, length);
  *used += length;
  out[*used] = '\0';
  return 1;
}

// Length of the folder part of `path` after its drive part (up to and including the last
// backslash or slash), before any cap.
size_t FolderPartLength(const char* rest) {
  size_t end = 0;
  for (size_t i = 0; rest[i] != '\0'; i += CharLength(rest + i)) {
    if (rest[i] == '\\' || rest[i] == '/') end = i + 1;
  }
  return end;
}

size_t DrivePartLength(const char* path) { return (path[0] != '\0' && path[1] == ':') ? 2 : 0; }

}  // namespace

int JoinPath(char* out, const char* drive, const char* folder, const char* name) {
  size_t used = 0;
  out[0] = '\0';
  int fits = 1;
  if (drive != nullptr && drive[0] != '\0') {
    const char piece[2] = {drive[0], ':'};
    fits = Append(out, &used, piece, 2);
  }
  if (fits && folder != nullptr && folder[0] != '\0') {
    size_t length = strlen(folder);
    fits = Append(out, &used, folder, length);
    char last = LastChar(folder, length);
    if (fits && last != '\\' && last != '/') fits = Append(out, &used, "\\", 1);
  }
  if (fits && name != nullptr && name[0] != '\0') fits = Append(out, &used, name, strlen(name));
  if (!fits) out[0] = '\0';
  return fits;
}

void SplitFolder(const char* path, char* drive, char* folder) {
  size_t driveLength = DrivePartLength(path);
  memcpy(drive, path, driveLength);
  drive[driveLength] = '\0';

  const char* rest = path + driveLength;
  size_t length = FolderPartLength(rest);
  // Keep whole characters only: a lead byte that would be the last byte kept goes too.
  size_t kept = 0;
  while (kept < length) {
    size_t step = CharLength(rest + kept);
    if (kept + step > MaxFolderPart) break;
    kept += step;
  }
  memcpy(folder, rest, kept);
  folder[kept] = '\0';
}

int EnsureParentFolder(const char* path) {
  // A folder part longer than SplitFolder keeps would be cut to a folder nobody asked for;
  // creating that one would leave a stray folder on the disk, so such a path is refused. One of
  // exactly one byte more loses only its final separator, which the join puts back.
  if (FolderPartLength(path + DrivePartLength(path)) > MaxFolderPart + 1) return 0;
  char drive[3];
  char folder[MaxFolderPart + 1];
  SplitFolder(path, drive, folder);
  char parent[MAX_PATH];
  if (!JoinPath(parent, drive, folder, nullptr)) return 0;
  return CreateFolderPath(parent);
}

int CreateFolderPath(const char* folder) {
  char work[MAX_PATH];
  size_t length = strlen(folder);
  if (length > MaxPathLength) return 0;
  memcpy(work, folder, length + 1);
  if (!AddTrailingBackslash(work)) return 0;

  size_t position = RootPrefixLength(work);
  for (;;) {
    long cut = FindBackslash(work, position);
    if (cut < 0) return 1;
    work[cut] = '\0';
    if (!IsFolder(work) && !CreateDirectoryA(work, nullptr)) return 0;
    work[cut] = '\\';
    position = static_cast<size_t>(cut) + 1;
  }
}

size_t RootPrefixLength(const char* path) {
  if (path[0] != '\0' && path[1] == ':') {
    // X:\ is three bytes whatever they are; a bare "X:" has only two to skip.
    return path[2] != '\0' ? 3 : 2;
  }
  if (path[0] != '\\' || path[1] != '\\') return 0;
  long serverEnd = FindBackslash(path, 2);
  if (serverEnd < 0) return 0;
  long shareEnd = FindBackslash(path, static_cast<size_t>(serverEnd) + 1);
  if (shareEnd < 0) return 0;
  return static_cast<size_t>(shareEnd) + 1;
}

int IsFolder(const char* path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);
  return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int AddTrailingBackslash(char* path) {
  size_t length = strlen(path);
  if (length > 0 && LastChar(path, length) == '\\') return 1;
  if (length >= MaxPathLength) return 0;
  path[length] = '\\';
  path[length + 1] = '\0';
  return 1;
}
