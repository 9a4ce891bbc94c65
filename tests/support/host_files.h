// Host-side helpers shared by tests: an environment variable set for a while, reading a whole
// file, setting a file's time without a platform call a test may be counting, waiting, bounded,
// for something another process does, and counting open descriptors for leak checks.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "host/host.h"
#include "platform/posix/cache.h"
#include "support/file_times.h"

// An environment variable set for as long as this is in scope; what it was is put back after.
struct ScopedEnv {
  ScopedEnv(const char* name, const std::string& value) : Name(name) {
    const char* old = getenv(name);
    Had = old != nullptr;
    if (old) Old = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (Had) setenv(Name, Old.c_str(), 1);
    else unsetenv(Name);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  const char* Name;
  std::string Old;
  bool Had = false;
};

// The file's bytes; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Sets the host file's modification time to `time` exactly; true on success.
inline bool SetHostWriteTime(const std::string& hostPath, const FILETIME& time) {
  int64_t sinceEpoch = static_cast<int64_t>(FileTimeValue(time)) - FileTimeUnixEpoch;
  int64_t seconds = sinceEpoch / 10000000;
  int64_t ticks = sinceEpoch % 10000000;
  if (ticks < 0) {
    ticks += 10000000;
    seconds -= 1;
  }
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = static_cast<long>(ticks * 100);
  return utimensat(AT_FDCWD, hostPath.c_str(), times, 0) == 0;
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

// Open file descriptors of this process (entries of /proc/self/fd), for leak checks; not the
// drive roots the POSIX layer keeps open between calls, which come and go with the drive table.
inline int OpenDescriptorCount() {
  DIR* folder = opendir("/proc/self/fd");
  if (folder == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(folder)) {
    if (!PosixCacheIsRootFd(atoi(entry->d_name)) || entry->d_name[0] == '.') ++count;
  }
  closedir(folder);
  return count;
}
