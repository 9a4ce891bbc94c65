// Layer-internal: what the POSIX layer caches between calls, as a kernel keeps its own tables.
// All of it lives in cache.cpp, which documents each table, what fills it and what invalidates
// it; the program sees none of it except through what the calls answer.
#pragma once

#include <stddef.h>

// The drive root `rootPath` names ("<table>/e:/", as PosixHostPathOfDrive gives it, `length`
// bytes) as an O_PATH descriptor that stays open between calls, checked with one stat of
// `rootPath` on every call: the descriptor, owned by cache.cpp (the caller never closes it), or
// -1 with errno set when the path leads to no folder now.
int PosixCacheRoot(const char* rootPath, size_t length);

// 1 when `fd` is a cached root's descriptor, which no handle call may close.
int PosixCacheIsRootFd(int fd);

// The handle table of CreateFileA's descriptors: the open flags and whether anything was done
// through the handle since the file was last synced.
void PosixCacheAddHandle(int fd, int openFlags);
int PosixCacheHandleFlags(int fd);  // -1 when the table does not know `fd`
void PosixCacheHandleChanged(int fd);
void PosixCacheHandleSynced(int fd);
int PosixCacheHandleNeedsSync(int fd);  // 1 too when the table does not know `fd`
void PosixCacheForgetHandle(int fd);
