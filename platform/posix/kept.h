// Layer-internal: what the POSIX layer keeps between calls, as a kernel keeps its own tables.
// All of it lives in kept.cpp, which documents each table, what fills it and what invalidates
// it; the program sees none of it except through what the calls answer.
#pragma once

#include <stddef.h>

// The drive root `rootPath` names ("<table>/e:/", as PosixHostPathOfDrive gives it, `length`
// bytes) as an O_PATH descriptor that stays open between calls, checked with one stat of
// `rootPath` on every call: the descriptor, owned by kept.cpp (the caller never closes it), or
// -1 with errno set when the path leads to no folder now.
int PosixKeptRoot(const char* rootPath, size_t length);

// 1 when `fd` is a descriptor kept here, which no handle call may close.
int PosixIsKeptFd(int fd);

// The handle table of CreateFileA's descriptors: the open flags and whether anything was done
// through the handle since the file was last synced.
void PosixKeepHandle(int fd, int openFlags);
int PosixKeptHandleFlags(int fd);  // -1 when the table does not know `fd`
void PosixHandleChanged(int fd);
void PosixHandleSynced(int fd);
int PosixHandleNeedsSync(int fd);  // 1 too when the table does not know `fd`
void PosixForgetHandle(int fd);
