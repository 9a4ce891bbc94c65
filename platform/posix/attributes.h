// Layer-internal: a file's or folder's attributes as the host stores them (attributes.cpp): the
// extended attribute user.DOSATTRIB and the mode, or the attribute byte of a FAT or exFAT entry.
#pragma once

#include <sys/stat.h>

#include "platform/extra_calls.h"
#include "platform/posix/beneath.h"

// The mode's write bits: a read-only file has none of them.
const mode_t PosixWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// The attributes of the plain file or folder at `hostPath` (no link), `st` being what stands
// there: the stored value, or what the mode gives where none is stored. `*fat` (may be NULL)
// tells whether the path lies on FAT or exFAT.
DWORD PosixAttributesOfPath(const char* hostPath, const struct stat* st, int* fat = nullptr);

// What FindFirstFileA and GetFileAttributesA report. A link or special file never matches an
// attribute a file can be given, so the installer never takes one for its file.
DWORD PosixAttributesOfObject(const PosixBeneath* at, const struct stat* st, int* fat = nullptr);

// Stores `value` (already reduced to what may be set) and mirrors READONLY in a file's mode,
// through the open descriptor. 0 with errno set when the host refuses.
int PosixStoreAttributes(int fd, const struct stat* st, DWORD value);

// What a file created or replaced with `flagsAndAttributes` gets: the requested attributes and
// ARCHIVE, NORMAL dropped.
DWORD PosixCreatedAttributes(DWORD flagsAndAttributes);
