// FILETIME values for tests: from a UTC calendar time, and put on a host file directly (so
// that setting up a file's time goes through no platform call a test may be counting).
#pragma once

#include <stdint.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "platform/platform.h"
#include "platform/posix/host.h"

// 100 ns intervals between 1601-01-01 and 1970-01-01.
const int64_t FileTimeUnixEpoch = 116444736000000000LL;

inline FILETIME MakeFileTime(uint64_t value) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(value);
  time.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return time;
}

inline uint64_t FileTimeValue(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// A UTC time; `ticks` adds 100 ns units (a fraction of the second).
inline FILETIME FileTimeOf(int year, int month, int day, int hour = 0, int minute = 0,
                           int second = 0, int64_t ticks = 0) {
  int64_t seconds = PosixDaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return MakeFileTime(static_cast<uint64_t>(seconds * 10000000 + FileTimeUnixEpoch + ticks));
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
