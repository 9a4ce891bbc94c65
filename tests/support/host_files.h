// Host-side helpers shared by tests: reading a whole file, waiting, bounded, for something
// another process does, and counting open descriptors for leak checks.
#pragma once

#include <dirent.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

// The file's bytes; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Polls `condition` until it holds (true) or `limit` has passed (false).
template <typename Condition>
bool WaitFor(Condition condition,
             std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Open file descriptors of this process (entries of /proc/self/fd), for leak checks.
inline int OpenDescriptorCount() {
  DIR* folder = opendir("/proc/self/fd");
  if (folder == nullptr) return -1;
  int count = 0;
  while (readdir(folder) != nullptr) ++count;
  closedir(folder);
  return count;
}
