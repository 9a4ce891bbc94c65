// Small helpers shared by the conformance tests, over platform/platform.h alone.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
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
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<error " + std::to_string(GetLastError()) + ">";
  std::string contents;
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) contents.append(buffer, n);
  CloseHandle(file);
  return contents;
}

// Skips the rest of the test when running under Wine, with the reason.
#define SKIP_UNDER_WINE(reason) \
  if (RunningUnderWine()) GTEST_SKIP() << "Wine differs: " << reason
