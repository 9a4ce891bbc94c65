// What the conformance tests need from the system they run on, beyond platform/platform.h.
// The build picks one implementation: scratch_posix.cpp (a drive of our own through the POSIX
// layer's drive table) or scratch_win32.cpp (a folder on a real drive, also under Wine).
#pragma once

#include <gtest/gtest.h>

#include <string>

// A fresh, empty folder for the running test, as the program spells paths: "X:\...\" in the
// ANSI code page, with the trailing backslash. The same for every call within one test; removed
// when the tests end.
const char* ScratchRoot();

// Wine imitates Windows with known differences (see the notes on the platform layer); checks
// that meet one of them are skipped there, and only there.
bool RunningUnderWine();

// The file system the scratch folder lies on, for the checks that differ on a key disk's: FAT
// (FAT12/16/32) or exFAT keep only read-only, hidden, system and archive, store last-write
// times in 2-second (FAT) or 10 ms (exFAT) steps, and look names up ignoring case.
enum ScratchMedium { OtherMedium, FatMedium, ExfatMedium };
ScratchMedium ScratchMediumKind();

// Whether hidden and system can be set and read back there: not on exFAT from Linux before
// 6.7 (its driver offers no call for them), nor under Wine on FAT or exFAT (Wine keeps them in
// an extended attribute, which neither has).
bool MediumKeepsHiddenAndSystem();

// Whether a last-write time written to FAT is rounded down to the even second (Linux's driver,
// under Wine too) or up (Windows').
bool FatRoundsTimesDown();

// The checks of double-byte names assume code page 932 as the ANSI code page.
bool AnsiCodePageIs932();

// Sets the process's time zone for the C runtime (TZ), as a user's settings would.
void SetProcessTimeZone(const char* zone);

// The running test's name as both sides name its scratch folder: "Suite.Test", '/' made '_'.
inline std::string ScratchTestName() {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "none";
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return name;
}
