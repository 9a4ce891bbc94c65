// DOS time keys: the packing of date and time, the two-second step, and the years outside
// 1980-2107 that fall back. (The comparison itself, with its trace lines, is checked in the
// fault tests, which can capture those lines.)
#include <gtest/gtest.h>

#include "fs/compare.h"
#include "support/file_times.h"

namespace {

TEST(DosTimeKey, PacksDateHighAndTimeLow) {
  struct Case {
    const char* title;
    FILETIME time;
    uint32_t expected;  // as the bits of the key
  };
  const Case cases[] = {
      {"first DOS day", FileTimeOf(1980, 1, 1), 0x00210000u},
      {"date and time fields", FileTimeOf(2000, 6, 15, 12, 34, 56), 0x28CF645Cu},
      {"odd second joins the even one", FileTimeOf(2000, 6, 15, 12, 34, 57), 0x28CF645Cu},
      {"fraction dropped", FileTimeOf(2000, 6, 15, 12, 34, 57, 9999999), 0x28CF645Cu},
      {"last DOS second", FileTimeOf(2107, 12, 31, 23, 59, 59), 0xFF9FBF7Du},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(static_cast<uint32_t>(DosTimeKey(&c.time, 1)), c.expected) << c.title;
    EXPECT_EQ(static_cast<uint32_t>(DosTimeKey(&c.time, 0)), c.expected) << c.title;
  }
}

TEST(DosTimeKey, FallsBackOutsideTheDosYears) {
  const FILETIME times[] = {
      FileTimeOf(1979, 12, 31, 23, 59, 59),
      FileTimeOf(1601, 1, 1),
      FileTimeOf(2108, 1, 1),
  };
  for (const FILETIME& time : times) {
    EXPECT_EQ(DosTimeKey(&time, 1), 1);
    EXPECT_EQ(DosTimeKey(&time, 0), 0);
  }
}

}  // namespace
