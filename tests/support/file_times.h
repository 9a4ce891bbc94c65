// FILETIME values for tests, on both sides (the conformance tests are built for Windows too):
// from a 64-bit count, to one, and from a UTC calendar time.
#pragma once

#include <stdint.h>

#include "host/calendar.h"
#include "platform/platform.h"

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
  int64_t seconds = HostDaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 +
                    second;
  return MakeFileTime(static_cast<uint64_t>(seconds * 10000000 + FileTimeUnixEpoch + ticks));
}
