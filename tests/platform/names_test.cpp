// Names and folders: code page 932 stepping, double-byte names whose second byte is a
// backslash, folder creation and removal, FindFirstFileA on one path, and plain reading and
// writing through handles.
#include <string.h>

#include "support.h"

namespace {

// 表 and 構: double-byte characters whose trail byte is 0x5C, the backslash.
const char Omote[] = "\x95\x5C";
const char Kamae[] = "\x8D\x5C";

#define REQUIRE_932() \
  if (!AnsiCodePageIs932()) GTEST_SKIP() << "the ANSI code page is not 932"

TEST(Text, IsDBCSLeadByte) {
  REQUIRE_932();
  struct Case {
    BYTE byte;
    BOOL lead;
  };
  const Case cases[] = {{0x41, FALSE}, {0x5C, FALSE}, {0x80, FALSE}, {0x81, TRUE},
                        {0x95, TRUE},  {0x9F, TRUE},  {0xA0, FALSE}, {0xB1, FALSE},
                        {0xDF, FALSE}, {0xE0, TRUE},  {0xFC, TRUE},  {0xFD, FALSE}};
  for (const Case& c : cases) {
    EXPECT_EQ(IsDBCSLeadByte(c.byte) != FALSE, c.lead != FALSE) << std::hex << (int)c.byte;
  }
}

// The program's formats through user32's formatting (the trace lines and the confirmation),
// and its limit of 1024 bytes.
TEST(Text, WsprintfAFormatsWhatTheProgramFormats) {
  struct Case {
    std::string formatted;
    const char* expected;
  };
  char out[2048];
  auto format = [&](int n) {
    return n == (int)strlen(out) ? std::string(out) : "length " + std::to_string(n);
  };
  const Case cases[] = {
      {format(wsprintfA(out, "Different [%s] %d, %X, %d", "E:\\Zarpo\\\x95\x5C.dll", -5,
                        0xFFFFFFF9u, 65536)),
       "Different [E:\\Zarpo\\\x95\x5C.dll] -5, FFFFFFF9, 65536"},
      {format(wsprintfA(out, "[%s%s] %d", "E:\\Zarpo\\", "a.txt", 0)), "[E:\\Zarpo\\a.txt] 0"},
      {format(wsprintfA(out, "%c:\x82\xCC", 'E')), "E:\x82\xCC"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.formatted, c.expected);
  // A longer line is cut: nothing is written past the 1024 bytes.
  std::string longName(1500, 'n');
  memset(out, '#', sizeof out);
  wsprintfA(out, "[%s] %d", longName.c_str(), 1);
  EXPECT_EQ(std::string(out + 1024, sizeof out - 1024), std::string(sizeof out - 1024, '#'));
}

TEST(Text, CharPrevANeverLandsOnATrailByte) {
  REQUIRE_932();
  struct Case {
    const char* text;
    size_t from;      // offset of `current`
    size_t expected;  // offset of the result
  };
  const Case cases[] = {
      {"ab", 2, 1},
      {"a\x95\x5C", 3, 1},         // 表 at the end: back to its lead byte
      {"\x95\x5C\\", 3, 2},        // a real backslash after 表
      {"\x8D\x5C\x95\x5C", 4, 2},  // 構表
      {"\x95\x5C\x8D\x5C\\x", 5, 4},
      {"\xB1\x5C", 2, 1},  // half-width katakana is one byte: the 5C is a backslash
      {"\x95\x5C", 0, 0},  // at the start: the start
      {"\x95\x5C", 1, 0},
      {"a\x95", 2, 1},  // a lead byte before the NUL is a character of its own
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    EXPECT_EQ(CharPrevA(c.text, c.text + c.from), c.text + c.expected);
  }
}

TEST(Names, DoubleByteBackslashStaysInsideOneLevel) {
  REQUIRE_932();
  std::string folder = Scratch(Omote);
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << GetLastError();
  std::string file = folder + "\\" + Kamae + ".txt";
  MakeFile(file, "contents");

  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(folder.c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE) << GetLastError();
  FindClose(find);
  EXPECT_STREQ(found.cFileName, Omote);
  EXPECT_EQ(found.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);

  find = FindFirstFileA(file.c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE) << GetLastError();
  FindClose(find);
  EXPECT_STREQ(found.cFileName, (std::string(Kamae) + ".txt").c_str());
  EXPECT_EQ(found.nFileSizeLow, 8u);
  EXPECT_EQ(ReadWhole(file), "contents");

  // The name ends in 0x5C but is no folder path with a trailing separator.
  EXPECT_EQ(GetFileAttributesA(folder.c_str()), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(DeleteFileA(file.c_str()));
  EXPECT_TRUE(RemoveDirectoryA(folder.c_str())) << GetLastError();
}

TEST(Folders, CreateAndRemove) {
  MakeFile(Scratch("file.txt"));
  ASSERT_TRUE(CreateDirectoryA(Scratch("a").c_str(), nullptr));
  struct Create {
    const char* name;
    BOOL created;
    DWORD error;
  };
  const Create creates[] = {
      {"a", FALSE, ERROR_ALREADY_EXISTS},
      {"file.txt", FALSE, ERROR_ALREADY_EXISTS},  // a plain file in the way
      {"missing\\b", FALSE, ERROR_PATH_NOT_FOUND},
      {"file.txt\\b", FALSE, ERROR_PATH_NOT_FOUND},
      {"a\\b", TRUE, 0},
      {"a/c", TRUE, 0},  // the slash separates too
      {"a\\d\\", TRUE, 0},
  };
  for (const Create& c : creates) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CreateDirectoryA(Scratch(c.name).c_str(), nullptr), c.created);
    if (!c.created) {
      EXPECT_EQ(GetLastError(), c.error);
    }
  }
  EXPECT_EQ(GetFileAttributesA(Scratch("a\\c").c_str()), FILE_ATTRIBUTE_DIRECTORY);

  struct Remove {
    const char* name;
    BOOL removed;
    DWORD error;
  };
  const Remove removes[] = {
      {"a", FALSE, ERROR_DIR_NOT_EMPTY},
      {"missing", FALSE, ERROR_FILE_NOT_FOUND},
      {"file.txt", FALSE, ERROR_DIRECTORY},
      {"a\\b", TRUE, 0},
      {"a\\c", TRUE, 0},
      {"a\\d", TRUE, 0},
      {"a", TRUE, 0},
  };
  for (const Remove& r : removes) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(RemoveDirectoryA(Scratch(r.name).c_str()), r.removed);
    if (!r.removed) {
      EXPECT_EQ(GetLastError(), r.error);
    }
  }
  EXPECT_EQ(GetFileAttributesA(Scratch("a").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Finding, OnePath) {
  MakeFile(Scratch("file.txt"), "0123456789");
  ASSERT_TRUE(CreateDirectoryA(Scratch("sub").c_str(), nullptr));
  struct Case {
    const char* name;
    bool found;
    DWORD attributesOrError;
    const char* foundName;
  };
  const Case cases[] = {
      {"file.txt", true, FILE_ATTRIBUTE_ARCHIVE, "file.txt"},
      {"sub", true, FILE_ATTRIBUTE_DIRECTORY, "sub"},  // a folder finds its own entry
      {"sub\\..\\file.txt", true, FILE_ATTRIBUTE_ARCHIVE, "file.txt"},
      {"missing.txt", false, ERROR_FILE_NOT_FOUND, nullptr},
      {"missing\\a.txt", false, ERROR_PATH_NOT_FOUND, nullptr},
      {"sub\\", false, ERROR_FILE_NOT_FOUND, nullptr},  // no entry behind a separator
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(Scratch(c.name).c_str(), &data);
    if (!c.found) {
      EXPECT_EQ(find, INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), c.attributesOrError);
      continue;
    }
    ASSERT_NE(find, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_NE(find, (HANDLE) nullptr);
    EXPECT_TRUE(FindClose(find));
    EXPECT_EQ(data.dwFileAttributes, c.attributesOrError);
    EXPECT_STREQ(data.cFileName, c.foundName);
    if (!(c.attributesOrError & FILE_ATTRIBUTE_DIRECTORY)) {
      EXPECT_EQ(data.nFileSizeLow, 10u);
    }
  }
}

// A key disk's file system looks names up ignoring case, FAT also by the short alias of a long
// name, and both strip trailing dots; the entry found reports its own name, and replacing it
// keeps that name.
struct FoundName {
  const char* asked;
  bool fatOnly;  // exFAT has no short names
};

const FoundName FoundNames[] = {
    {"ZarpoCore.dll", false},  {"ZARPOCORE.DLL", false}, {"zarpocore.dll", false},
    {"ZarpoCore.dll.", false}, {"ZARPOC~1.DLL", true},   {"zarpoc~1.dll", true},
};

class OnFat : public testing::TestWithParam<FoundName> {};

TEST_P(OnFat, TheEntryFoundReportsItsOwnName) {
  const FoundName& c = GetParam();
  SCOPED_TRACE(c.asked);
  ScratchMedium medium = ScratchMediumKind();
  if (medium == OtherMedium) GTEST_SKIP() << "not on FAT or exFAT";
  if (c.fatOnly && medium != FatMedium) GTEST_SKIP() << "exFAT has no short names";
  MakeFile(Scratch("ZarpoCore.dll"), "core");
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(Scratch(c.asked).c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE) << GetLastError();
  FindClose(find);
  EXPECT_STREQ(data.cFileName, "ZarpoCore.dll");
  EXPECT_EQ(data.nFileSizeLow, 4u);
}

INSTANTIATE_TEST_SUITE_P(Finding, OnFat, testing::ValuesIn(FoundNames));

// Replacing the entry through another name keeps its own name.
TEST(Finding, OnFatReplacingKeepsTheEntrysOwnName) {
  if (ScratchMediumKind() == OtherMedium) GTEST_SKIP() << "not on FAT or exFAT";
  MakeFile(Scratch("ZarpoCore.dll"), "core");
  MakeFile(Scratch("ZARPOCORE.DLL"), "replaced");
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(Scratch("zarpocore.dll").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE) << GetLastError();
  FindClose(find);
  EXPECT_STREQ(data.cFileName, "ZarpoCore.dll");
  EXPECT_EQ(ReadWhole(Scratch("ZarpoCore.dll")), "replaced");
}

TEST(Handles, WriteAndReadBack) {
  std::string path = Scratch("big.bin");
  std::string contents(300000, '\0');
  for (size_t i = 0; i < contents.size(); ++i) contents[i] = (char)(i * 7 + i / 251);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_NE(file, (HANDLE) nullptr);
  DWORD count = 0;
  ASSERT_TRUE(WriteFile(file, contents.data(), (DWORD)contents.size(), &count, nullptr));
  EXPECT_EQ(count, contents.size());
  ASSERT_TRUE(WriteFile(file, "", 0, &count, nullptr));
  EXPECT_EQ(count, 0u);
  char byte;
  EXPECT_FALSE(ReadFile(file, &byte, 1, &count, nullptr));  // opened for writing only
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  ASSERT_TRUE(CloseHandle(file));
  EXPECT_EQ(ReadWhole(path), contents);

  file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                     nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(WriteFile(file, "x", 1, &count, nullptr));  // opened for reading only
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  std::string back(contents.size() + 10, '\0');
  ASSERT_TRUE(ReadFile(file, &back[0], (DWORD)back.size(), &count, nullptr));
  EXPECT_EQ(count, contents.size());  // a short count at the end of the file, not a failure
  ASSERT_TRUE(ReadFile(file, &back[0], 10, &count, nullptr));
  EXPECT_EQ(count, 0u);
  ASSERT_TRUE(CloseHandle(file));
}

TEST(Drives, ScratchDriveAnswers) {
  std::string root = std::string(ScratchRoot(), 3);  // "X:\"
  UINT type = GetDriveTypeA(root.c_str());
  EXPECT_NE(type, (UINT)DRIVE_NO_ROOT_DIR);
  EXPECT_NE(type, (UINT)DRIVE_UNKNOWN);
  EXPECT_EQ(GetDriveTypeA(root.substr(0, 2).c_str()), type);  // "X:" too
  EXPECT_TRUE(
      GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
  char label[MAX_PATH + 1];
  char fileSystem[MAX_PATH + 1];
  DWORD serial = 0;
  DWORD serialAgain = 1;
  DWORD component = 0;
  DWORD flags = 0;
  ASSERT_TRUE(GetVolumeInformationA(root.c_str(), label, sizeof label, &serial, &component, &flags,
                                    fileSystem, sizeof fileSystem))
      << GetLastError();
  ASSERT_TRUE(
      GetVolumeInformationA(root.c_str(), nullptr, 0, &serialAgain, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(serial, serialAgain);
  EXPECT_GE(component, 12u);
  EXPECT_GT(strlen(fileSystem), 0u);
}

}  // namespace
