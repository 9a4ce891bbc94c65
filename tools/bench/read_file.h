// What bench-floor and bench-limit share: the package file and the buffer it is inflated into,
// both obtained as the program obtains them, and the package's little-endian words.
#pragma once

#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

inline uint32_t ReadLe32(const unsigned char* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

// The whole file mapped read-only, as the program finds its package in its own image: the
// inflate reads it in place. Null when it cannot be mapped; the mapping lasts until exit.
inline const unsigned char* MapFile(const char* path, size_t* size) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_size == 0) {
    if (fd >= 0) close(fd);
    return nullptr;
  }
  void* data = mmap(nullptr, (size_t)st.st_size, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (data == MAP_FAILED) return nullptr;
  *size = (size_t)st.st_size;
  return (const unsigned char*)data;
}

// The buffer for the unpacked data, taken as the program takes it: from the platform layer's
// VirtualAlloc (fresh pages, with the huge-page hint when large). Give it back with
// VirtualFree(buffer, 0, MEM_RELEASE).
inline unsigned char* UnpackedBuffer(uint32_t unpacked) {
  return (unsigned char*)VirtualAlloc(nullptr, unpacked ? unpacked : 1, MEM_COMMIT | MEM_RESERVE,
                                      PAGE_READWRITE);
}
