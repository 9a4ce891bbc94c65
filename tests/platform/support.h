// Small helpers shared by the conformance tests, over platform/platform.h alone.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/extra_calls.h"
#include "scratch.h"
#include "support/file_times.h"

// A path below the test's scratch folder; `relative` in the ANSI code page.
inline std::string Scratch(const std::string& relative) { return ScratchRoot() + relative; }

// Creates (or replaces) a file with the given contents through the platform calls.
inline void MakeFile(const std::string& path, const std::string& contents = "data",
                     DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes,
                            nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path << " error " << GetLastError();
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, contents.data(), (DWORD)contents.size(), &written, nullptr));
  EXPECT_EQ(written, contents.size());
  EXPECT_TRUE(CloseHandle(file));
}

inline std::string ReadWhole(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<error " + std::to_string(GetLastError()) + ">";
  std::string contents;
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) contents.append(buffer, n);
  CloseHandle(file);
  return contents;
}

// What reads back of attributes `value` set on the scratch folder's file system: all of them,
// or on FAT and exFAT what a directory entry holds (a file with none of those reads NORMAL).
// Where hidden and system cannot be had (exFAT from Linux before 6.7), neither can the archive
// bit: a file reads ARCHIVE and its read-only bit.
inline DWORD KeptAttributes(DWORD value) {
  if (ScratchMediumKind() == OtherMedium) return value;
  if (!MediumKeepsHiddenAndSystem()) {
    return (value & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) | FILE_ATTRIBUTE_ARCHIVE;
  }
  DWORD kept = value & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE);
  return kept ? kept : FILE_ATTRIBUTE_NORMAL;
}

// Whether a case needing hidden or system (in any of `values`) can run on the medium.
inline bool HiddenAndSystemUsable(DWORD values) {
  return !(values & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) ||
         MediumKeepsHiddenAndSystem();
}

// A last-write time as the scratch folder's file system keeps it: to 100 ns, or in FAT's
// 2-second steps (rounded as its driver rounds) or exFAT's 10 ms steps; 0 when the medium
// cannot hold it at all (FAT and exFAT: before 1980 or after 2107).
inline uint64_t KeptTime(uint64_t value) {
  const uint64_t from1980 = 0x01a8e79fe1d58000ull, to2108 = 0x023868b86803c000ull;
  ScratchMedium medium = ScratchMediumKind();
  if (medium == OtherMedium) return value;
  if (value < from1980 || value >= to2108) return 0;
  uint64_t step = medium == FatMedium ? 20000000 : 100000;
  uint64_t down = value - (value - from1980) % step;
  return medium == FatMedium && !FatRoundsTimesDown() && down != value ? down + step : down;
}

// Skips the rest of the test when running under Wine, with the reason.
#define SKIP_UNDER_WINE(reason) \
  if (RunningUnderWine()) GTEST_SKIP() << "Wine differs: " << reason

// Skips a table's row, with the reason, where it cannot run: under Wine a row it answers
// otherwise (`wineDiffers`), and a row with hidden or system in `attributes` on a medium that
// cannot keep them.
#define SKIP_ROW_THAT_CANNOT_RUN(wineDiffers, attributes)                \
  do {                                                                   \
    if ((wineDiffers) && RunningUnderWine()) {                           \
      GTEST_SKIP() << "Wine differs on this row";                        \
    }                                                                    \
    if (!HiddenAndSystemUsable(attributes)) {                            \
      GTEST_SKIP() << "hidden and system cannot be kept on this medium"; \
    }                                                                    \
  } while (0)
