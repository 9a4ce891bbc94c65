// FILETIME arithmetic for the POSIX layer: conversion to and from host times, and
// FileTimeToDosDateTime. Everything here is UTC; nothing looks at the time zone.
#include <errno.h>
#include <sys/types.h>
#include <time.h>

#include "host/calendar.h"
#include "platform/extra_calls.h"
#include "platform/posix/times.h"

// Host times are 64-bit on every build, a 32-bit one included (the build defines _TIME_BITS=64
// and _FILE_OFFSET_BITS=64): with 32-bit time_t a time after 2038 wraps to one before 1970.
static_assert(sizeof(time_t) == 8, "time_t must be 64 bits: build with -D_TIME_BITS=64");
static_assert(sizeof(off_t) == 8, "off_t must be 64 bits: build with -D_FILE_OFFSET_BITS=64");

namespace {

const uint64_t TicksPerSecond = 10000000;  // FILETIME counts 100 ns
const int64_t SecondsFrom1601To1970 = 11644473600;

}  // namespace

uint64_t PosixFileTimeValue(const FILETIME* time) {
  return ((uint64_t)time->dwHighDateTime << 32) | time->dwLowDateTime;
}

FILETIME PosixFileTimeFromTimespec(struct timespec time) {
  int64_t seconds = (int64_t)time.tv_sec + SecondsFrom1601To1970;
  uint64_t value = 0;
  if (seconds >= 0) value = (uint64_t)seconds * TicksPerSecond + (uint64_t)time.tv_nsec / 100;
  FILETIME result;
  result.dwLowDateTime = (DWORD)value;
  result.dwHighDateTime = (DWORD)(value >> 32);
  return result;
}

struct timespec PosixTimespecFromFileTime(uint64_t value) {
  struct timespec result;
  result.tv_sec = (time_t)((int64_t)(value / TicksPerSecond) - SecondsFrom1601To1970);
  result.tv_nsec = (long)(value % TicksPerSecond) * 100;
  return result;
}

// A DOS date and time hold the years 1980 to 2107 in two-second steps. Like Windows, the odd
// second and any fraction are dropped, not rounded.
extern "C" BOOL WINAPI FileTimeToDosDateTime(const FILETIME* fileTime, WORD* fatDate,
                                             WORD* fatTime) {
  if (!fileTime || !fatDate || !fatTime) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t seconds = (int64_t)(PosixFileTimeValue(fileTime) / TicksPerSecond) -
                    SecondsFrom1601To1970;
  int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  int64_t secondOfDay = seconds - days * 86400;
  int64_t year;
  int month;
  int day;
  HostCivilFromDays(days, &year, &month, &day);
  if (year < 1980 || year > 2107) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  unsigned hour = (unsigned)(secondOfDay / 3600);
  unsigned minute = (unsigned)(secondOfDay / 60 % 60);
  unsigned second = (unsigned)(secondOfDay % 60);
  *fatDate = (WORD)(((unsigned)(year - 1980) << 9) | (month << 5) | day);
  *fatTime = (WORD)((hour << 11) | (minute << 5) | (second / 2));
  return TRUE;
}
