// Which entries the updater installs under their own name: the name and attribute rules alone,
// one line a case, no drive. (The whole installs show that a refused entry ends the walk as a
// failed write.)
#include <gtest/gtest.h>

#include <string>

#include "package/entry_check.h"

namespace {

TEST(IsInstallableName, OneLineACase) {
  struct Case {
    std::string name;
    int installable;
  };
  const Case cases[] = {
      {"Zarpo.exe", 1},
      {"Sample\\\x95\x5C\x8E\x86\\a.dwg", 1},
      {"a.b.c", 1},
      {".hidden", 1},
      {"NULL.txt", 1},
      {"COM10", 1},
      {"Console.log", 1},
      {"x\\LPT", 1},
      // Leaving the product folder, or naming a drive or a root.
      {"..\\Escaped.dll", 0},
      {"Sample\\..\\..\\Escaped.dll", 0},
      {"\\Escaped.dll", 0},
      {"/Escaped.dll", 0},
      {"C:\\Escaped.dll", 0},
      {"C:Escaped.dll", 0},
      {"a:b.dll", 0},
      {". \\Escaped.dll", 0},
      {"Sample\\.\\a.dll", 0},
      {"Sample\\\\a.dll", 0},
      {"Sample\\", 0},
      {"...\\a.dll", 0},
      {"", 0},
      // Devices, in any case, with any extension, at any level.
      {"NUL.txt", 0},
      {"Sample\\com1.dll", 0},
      {"aux", 0},
      {"Con .log", 0},
      {"LPT9", 0},
      {"conin$", 0},
      {"CONOUT$.x", 0},
      {"COM0", 0},
      // Wildcards and other characters Windows refuses, as single-byte characters.
      {"Setup.ex?", 0},
      {"*.exe", 0},
      {"a<b", 0},
      {"a>b", 0},
      {"a\"b", 0},
      {"a|b", 0},
      // Names Windows trims, and bytes it never keeps.
      {"Dot.txt.", 0},
      {"Space.txt ", 0},
      {"Sample.\\a.dll", 0},
      {std::string("Emb\0edded.txt", 13), 0},
      {"Tab\tName", 0},
      {"\x1F", 0},
      // A lead byte without a valid trail byte (0x40-0x7E, 0x80-0xFC).
      {"a\x95", 0},
      {"\x95\x3F.txt", 0},
      {"\x95\xFD", 0},
      {"\x95\x7F", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsInstallableName(c.name.data(), (DWORD)c.name.size()), c.installable)
        << ::testing::PrintToString(c.name);
  }
}

TEST(IsInstallableAttributes, OnlyFileAttributes) {
  // CreateFileA would take the high bits for FILE_FLAG_* (delete on close, overlapped, no
  // buffering, write-through); 0x10 and 0x400 are the directory and reparse bits.
  const DWORD refused[] = {0x04000020, 0x40000020, 0x20000020, 0x80000020, 0x10, 0x420, 0xFFFFFFEF};
  for (DWORD value : refused) EXPECT_FALSE(IsInstallableAttributes(value)) << std::hex << value;
  const DWORD taken[] = {0x20, 0x21, 0x27, 0x80, 0x0, 0x31A7};
  for (DWORD value : taken) EXPECT_TRUE(IsInstallableAttributes(value)) << std::hex << value;
}

}  // namespace
