// What bench-floor and bench-limit share: reading the package file into memory, and its
// little-endian words. Plain POSIX, so that neither tool pays for more than the bytes.
#pragma once

#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

inline uint32_t ReadLe32(const unsigned char* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

// The whole file in a malloc'ed buffer of its own size; null when it cannot be read.
inline unsigned char* ReadFile(const char* path, size_t* size) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    if (fd >= 0) close(fd);
    return nullptr;
  }
  unsigned char* data = (unsigned char*)malloc(st.st_size ? (size_t)st.st_size : 1);
  size_t done = 0;
  while (data && done < (size_t)st.st_size) {
    ssize_t n = read(fd, data + done, (size_t)st.st_size - done);
    if (n <= 0) {
      free(data);
      data = nullptr;
    } else {
      done += (size_t)n;
    }
  }
  close(fd);
  *size = done;
  return data;
}
