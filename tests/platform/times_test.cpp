// Last-write times: kept to 100 ns through SetFileTime and FindFirstFileA (in the steps of FAT
// and exFAT on those), and converted to DOS dates without any time-zone shift, dropping the odd
// second and the fraction.
#include "support.h"

namespace {

// 100 ns ticks since 1601-01-01 UTC.
const uint64_t At1980 = 0x01a8e79fe1d58000ull;      // 1980-01-01 00:00:00
const uint64_t Before1980 = 0x01a8e79fe1d57fffull;  // 1979-12-31 23:59:59.9999999
const uint64_t End2107 = 0x023868b86803bfffull;     // 2107-12-31 23:59:59.9999999
const uint64_t At2108 = 0x023868b86803c000ull;      // 2108-01-01 00:00:00
const uint64_t OddSecond = 0x01d64311613e82c0ull;   // 2020-06-15 12:34:57.9
const uint64_t Fraction = 0x01d64311602f6e87ull;    // 2020-06-15 12:34:56.1234567
const uint64_t LeapDay = 0x01bf8247ecb161c0ull;     // 2000-02-29 00:00:01.5
const uint64_t YearEnd = 0x01db5be018891300ull;     // 2024-12-31 23:59:58
const uint64_t Before1970 = 0x019d30e09a895540ull;  // 1969-07-20 20:17:40.5
const uint64_t In1975 = 0x01a37b5f301f5687ull;      // 1975-03-01 08:00:00.1234567
const uint64_t In2050 = 0x01f7630be39d8005ull;      // 2050-01-01 00:00:00.0000005 (past 2038)

WORD DosDate(unsigned year, unsigned month, unsigned day) {
  return (WORD)(((year - 1980) << 9) | (month << 5) | day);
}

WORD DosTime(unsigned hour, unsigned minute, unsigned second) {
  return (WORD)((hour << 11) | (minute << 5) | (second / 2));
}

struct DosCase {
  uint64_t time;
  BOOL converts;
  WORD date;
  WORD time16;
  bool wineDiffers;
};

const DosCase DosCases[] = {
    {At1980, TRUE, DosDate(1980, 1, 1), DosTime(0, 0, 0), false},
    {End2107, TRUE, DosDate(2107, 12, 31), DosTime(23, 59, 58), false},
    {OddSecond, TRUE, DosDate(2020, 6, 15), DosTime(12, 34, 56), false},
    {Fraction, TRUE, DosDate(2020, 6, 15), DosTime(12, 34, 56), false},
    {LeapDay, TRUE, DosDate(2000, 2, 29), DosTime(0, 0, 0), false},
    {YearEnd, TRUE, DosDate(2024, 12, 31), DosTime(23, 59, 58), false},
    {Before1980, FALSE, 0, 0, false},
    {In1975, FALSE, 0, 0, false},
    {At2108, FALSE, 0, 0, true},  // Wine answers TRUE with a wrong date
};

void CheckDosConversion(const DosCase& c) {
  FILETIME time = MakeFileTime(c.time);
  WORD date = 0xFFFF;
  WORD clock = 0xFFFF;
  SetLastError(0);
  EXPECT_EQ(FileTimeToDosDateTime(&time, &date, &clock), c.converts);
  if (c.converts) {
    EXPECT_EQ(date, c.date);
    EXPECT_EQ(clock, c.time16);
  } else {
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  }
}

class DosDateTime : public testing::TestWithParam<DosCase> {
 protected:
  void SetUp() override {
    if (GetParam().wineDiffers) {
      SKIP_UNDER_WINE("it answers TRUE with a wrong date past 2107");
    }
  }
};

TEST_P(DosDateTime, Table) {
  SCOPED_TRACE(testing::Message() << "time 0x" << std::hex << GetParam().time);
  CheckDosConversion(GetParam());
}

// The conversion is pure arithmetic on UTC: a user's time zone changes nothing.
TEST_P(DosDateTime, IgnoresTheTimeZone) {
  SCOPED_TRACE(testing::Message() << "time 0x" << std::hex << GetParam().time);
  SetProcessTimeZone("Asia/Tokyo");
  CheckDosConversion(GetParam());
  SetProcessTimeZone("America/New_York");
  CheckDosConversion(GetParam());
  SetProcessTimeZone("UTC");
}

INSTANTIATE_TEST_SUITE_P(FileTimeToDosDateTime, DosDateTime, testing::ValuesIn(DosCases));

const uint64_t LastWriteTimes[] = {Fraction,   OddSecond,  YearEnd, In1975,
                                   Before1970, At1980 + 1, In2050};

class LastWrite : public testing::TestWithParam<uint64_t> {};

TEST_P(LastWrite, RoundTripsTo100ns) {
  uint64_t value = GetParam();
  SCOPED_TRACE(testing::Message() << "time 0x" << std::hex << value);
  if (KeptTime(value) == 0) GTEST_SKIP() << "outside what FAT and exFAT can hold";
  std::string path = Scratch("timed.bin");
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_ARCHIVE, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, "12345", 5, &written, nullptr));
  FILETIME lastWrite = MakeFileTime(value);
  ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &lastWrite)) << GetLastError();
  ASSERT_TRUE(CloseHandle(file));  // closing must not touch the time

  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(path.c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(FindClose(find));
  EXPECT_EQ(FileTimeValue(found.ftLastWriteTime), KeptTime(value));
  EXPECT_EQ(found.nFileSizeLow, 5u);
  EXPECT_EQ(found.nFileSizeHigh, 0u);
  EXPECT_STREQ(found.cFileName, "timed.bin");
}

INSTANTIATE_TEST_SUITE_P(SetFileTime, LastWrite, testing::ValuesIn(LastWriteTimes));

TEST(SetFileTime, NullAndZeroLeaveTimesAlone) {
  std::string path = Scratch("timed.bin");
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME lastWrite = MakeFileTime(Fraction);
  ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &lastWrite));
  FILETIME zero = MakeFileTime(0);
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, nullptr));
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &zero));
  ASSERT_TRUE(CloseHandle(file));
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(path.c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  FindClose(find);
  EXPECT_EQ(FileTimeValue(found.ftLastWriteTime), KeptTime(Fraction));
}

TEST(SetFileTime, NeedsAWritableHandle) {
  SKIP_UNDER_WINE("Wine sets the time through a handle opened for reading");
  std::string path = Scratch("timed.bin");
  MakeFile(path);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME lastWrite = MakeFileTime(Fraction);
  EXPECT_FALSE(SetFileTime(file, nullptr, nullptr, &lastWrite));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_TRUE(CloseHandle(file));
}

// A flush takes only a handle that may write, and leaves the file as written; the updater
// flushes every file before it sets its time.
TEST(FlushFileBuffers, OnlyThroughAHandleThatWrites) {
  std::string path = Scratch("flushed.bin");
  MakeFile(path);
  const struct {
    DWORD access;
    BOOL flushed;
  } cases[] = {{GENERIC_WRITE, TRUE}, {GENERIC_READ | GENERIC_WRITE, TRUE}, {GENERIC_READ, FALSE}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.access);
    HANDLE file = CreateFileA(path.c_str(), c.access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    if (c.access & GENERIC_WRITE) {
      ASSERT_TRUE(WriteFile(file, "flushed", 7, &written, nullptr));
    }
    SetLastError(0);
    EXPECT_EQ(FlushFileBuffers(file), c.flushed);
    if (!c.flushed) {
      EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    }
    EXPECT_TRUE(CloseHandle(file));
  }
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(path.c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  FindClose(find);
  EXPECT_EQ(found.nFileSizeLow, 7u);
  EXPECT_FALSE(FlushFileBuffers(INVALID_HANDLE_VALUE));
}

}  // namespace
