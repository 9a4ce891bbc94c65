// Deciding from directory metadata alone whether the file at a target path already equals a
// package entry, so that an up-to-date key disk is left untouched, and whether the path led to
// a file of another name. Every call traces one line.
#include "fs/compare.h"

#include <stdint.h>

#include "fs/names.h"
#include "trace/trace.h"

LONG DosTimeKey(const FILETIME* time, LONG fallback) {
  WORD date = 0;
  WORD clock = 0;
  if (!FileTimeToDosDateTime(time, &date, &clock)) return fallback;
  // A date from 2044 on sets the top bit: the key is then negative, which is fine for an
  // equality test and for the difference that gets traced.
  return static_cast<LONG>((static_cast<DWORD>(date) << 16) | clock);
}

int IsSameFile(const char* path, const EntryHeader* entry, int* otherFile) {
  *otherFile = 0;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) {
    Trace("NotFound [%s]", path);
    return 0;
  }
  FindClose(search);
  // The lookup already reports the name it found, so telling another file costs no call.
  *otherFile = !IsSameName(LastLevel(path), found.cFileName);

  // The fallbacks differ (1 on disk, 0 for the entry) so that two times that have no DOS form
  // never count as equal; a converted key is never 0 or 1.
  LONG diskKey = DosTimeKey(&found.ftLastWriteTime, 1);
  LONG entryKey = DosTimeKey(&entry->LastWrite, 0);
  if (!*otherFile && found.nFileSizeLow == entry->DataLength &&
      found.dwFileAttributes == entry->Attributes && diskKey == entryKey) {
    Trace("Existing [%s]", path);
    return 1;
  }

  // Differences are taken modulo 2^32 and then read as signed where the line wants a sign.
  DWORD sizeDifference = found.nFileSizeLow - entry->DataLength;
  DWORD attributeDifference = found.dwFileAttributes - entry->Attributes;
  DWORD keyDifference = static_cast<DWORD>(diskKey) - static_cast<DWORD>(entryKey);
  Trace("Different [%s] %d, %X, %d", path, static_cast<int>(static_cast<int32_t>(sizeDifference)),
        static_cast<unsigned>(attributeDifference),
        static_cast<int>(static_cast<int32_t>(keyDifference)));
  return 0;
}
