// Layer-internal: FILETIME values and host times (times.cpp).
#pragma once

#include <stdint.h>
#include <time.h>

#include "platform/extra_calls.h"

// FILETIME (100 ns since 1601-01-01 UTC) <-> host time, exact to 100 ns. Times before 1601
// become 0.
uint64_t PosixFileTimeValue(const FILETIME* time);
FILETIME PosixFileTimeFromTimespec(struct timespec time);
struct timespec PosixTimespecFromFileTime(uint64_t value);
