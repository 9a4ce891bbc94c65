// Writing one package entry over whatever stands at its path (read-only, hidden and system
// files included) and removing a named file whatever its attributes.
#include "fs/write.h"

#include "fs/paths.h"

int WriteEntryFile(const char* path, const BYTE* data, DWORD length, DWORD attributes,
                   const FILETIME* lastWrite) {
  // NORMAL means "none of the other bits"; such an entry must not override a read-only file
  // that stands in its way, so the attributes are cleared only for the other entries.
  const bool normal = attributes == FILE_ATTRIBUTE_NORMAL;
  if (!normal) SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE);

  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            attributes & FileAttributeBits, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;

  // A zero-length entry goes through the same single WriteFile call (of 0 bytes), which the
  // system accepts; a NULL buffer is never handed over even then.
  static const BYTE nothing = 0;
  DWORD written = 0;
  int ok = WriteFile(file, data != nullptr ? data : &nothing, length, &written, nullptr) &&
           written == length;
  // The data, and what the file system needs to read it back (its clusters, its size), reach
  // the medium before the time that makes the file look up to date. A removable drive's file
  // system may write the entry that SetFileTime changes at once, with the size, while the data
  // and the cluster chain wait in the cache until the handle is closed: a stick pulled in
  // between would keep a torn file that every later run takes for the entry. Pulled before the
  // flush, the file keeps a time that is not the entry's and is written again next time. A
  // flush that fails is a write that failed.
  if (ok) ok = FlushFileBuffers(file) != FALSE;
  if (ok && lastWrite != nullptr) ok = SetFileTime(file, nullptr, nullptr, lastWrite) != FALSE;
  // A close that fails can mean data that never reached the disk (a network or FUSE file
  // system reports a lost write only here), so it fails the write as well.
  if (!CloseHandle(file)) ok = 0;

  if (ok && !normal) SetFileAttributesA(path, attributes);
  return ok;
}

void RemoveObsoleteFile(const char* folder, const char* name) {
  char path[MAX_PATH];
  if (!JoinPath(path, nullptr, folder, name)) return;
  SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE);
  DeleteFileA(path);
}
