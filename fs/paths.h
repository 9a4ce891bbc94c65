// Path and folder helpers over ANSI paths of at most MAX_PATH - 1 bytes, lead-byte aware (a
// trail byte 0x5C of a double-byte character is never a separator). Every result is bounded
// by its 260-byte buffer: what would not fit is refused with 0 and nothing is written past it.
#pragma once

#include <stddef.h>

#include "platform/platform.h"

// out (MAX_PATH bytes) = [drive letter ":"] [folder, plus "\" unless it ends in "\" or "/"]
// [name]; each piece optional (NULL or empty). 0 when the result would exceed MAX_PATH - 1
// bytes (out is then the empty string).
int JoinPath(char* out, const char* drive, const char* folder, const char* name);

// drive (3 bytes): "X:" when the path's second byte is ':', else "". folder (256 bytes):
// everything after the drive up to and including the last separator, cut to 255 bytes without
// splitting a double-byte character.
void SplitFolder(const char* path, char* drive, char* folder);

// Creates the folder that will hold the file `path` names, with every missing level.
int EnsureParentFolder(const char* path);

// Makes sure every level of `folder` exists, creating missing ones from the outermost inwards.
int CreateFolderPath(const char* folder);

// Leading bytes that name a root and are never created: 3 for "X:\" (any path whose second
// byte is ':'), the length of "\\server\share\" for a UNC path, else 0.
size_t RootPrefixLength(const char* path);

int IsFolder(const char* path);

// Appends "\" unless the path already ends with one; 0 when it would not fit in MAX_PATH.
int AddTrailingBackslash(char* path);
