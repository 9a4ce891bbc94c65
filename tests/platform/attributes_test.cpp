// File attributes as the updater relies on them: what is set reads back exactly, what a created
// or replaced file gets, and which replacements and deletions Windows refuses.
#include "support.h"

namespace {

struct RoundTrip {
  DWORD set;
  DWORD expected;
  bool wineDiffers;  // Wine keeps only read-only, hidden and system, and always adds ARCHIVE
};

// A row a line, as the comments describe rows.
// clang-format off
const RoundTrip FileRoundTrips[] = {
    {0x27, 0x27, false},     // read-only hidden system archive, as shipped
    {0x21, 0x21, false},
    {0x20, 0x20, false},
    {0x26, 0x26, false},
    {0x01, 0x01, true},      // read-only without archive
    {0x80, 0x80, true},      // NORMAL is how a file without attributes reads
    {0x00, 0x80, true},      // ... and setting none gives NORMAL
    {0x81, 0x01, true},      // NORMAL with anything else is dropped
    {0x2020, 0x2020, true},  // not content indexed is kept
    {0x30, 0x20, false},     // DIRECTORY cannot be set on a file
    {0x60, 0x20, false},     // nor the device bit
};
// clang-format on

class FileRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(FileRoundTrip, ReadsBackAsSet) {
  const RoundTrip& c = GetParam();
  SCOPED_TRACE(testing::Message() << "set 0x" << std::hex << c.set);
  SKIP_ROW_THAT_CANNOT_RUN(c.wineDiffers, c.set);
  std::string path = Scratch("file.bin");
  MakeFile(path);
  // On FAT what the entry cannot hold is dropped, and the call still succeeds.
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), c.set)) << GetLastError();
  EXPECT_EQ(GetFileAttributesA(path.c_str()), KeptAttributes(c.expected));
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(path.c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(found.dwFileAttributes, KeptAttributes(c.expected));
  FindClose(find);
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_TRUE(DeleteFileA(path.c_str())) << GetLastError();
}

INSTANTIATE_TEST_SUITE_P(Attributes, FileRoundTrip, testing::ValuesIn(FileRoundTrips));

TEST(Attributes, FolderKeepsItsDirectoryBit) {
  SKIP_UNDER_WINE("folder attributes other than hidden and system are not kept");
  if (!MediumKeepsHiddenAndSystem()) GTEST_SKIP() << "hidden cannot be set here";
  std::string folder = Scratch("folder");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  EXPECT_EQ(GetFileAttributesA(folder.c_str()), FILE_ATTRIBUTE_DIRECTORY);
  ASSERT_TRUE(SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(GetFileAttributesA(folder.c_str()), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
  ASSERT_TRUE(SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA(folder.c_str()), FILE_ATTRIBUTE_DIRECTORY);
  // A read-only folder still takes new files, as on Windows.
  ASSERT_TRUE(SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_READONLY));
  MakeFile(Scratch("folder\\inside.txt"));
  SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Attributes, MissingTargets) {
  EXPECT_FALSE(SetFileAttributesA(Scratch("missing.txt").c_str(), FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(SetFileAttributesA(Scratch("missing\\a.txt").c_str(), FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesA(Scratch("missing.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesA(Scratch("missing\\a.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
}

struct NewFile {
  DWORD requested;
  DWORD expected;
  bool wineDiffers;
};

const NewFile NewFiles[] = {
    {0x27, 0x27, false}, {0x80, 0x20, false}, {0x00, 0x20, false},    {0x01, 0x21, false},
    {0x06, 0x26, false}, {0x81, 0x21, false}, {0x2000, 0x2020, true},
};

class NewFileAttributes : public testing::TestWithParam<NewFile> {};

TEST_P(NewFileAttributes, RequestedAndArchive) {
  const NewFile& c = GetParam();
  SCOPED_TRACE(testing::Message() << "requested 0x" << std::hex << c.requested);
  SKIP_ROW_THAT_CANNOT_RUN(c.wineDiffers, c.requested);
  std::string path = Scratch("new.bin");
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            c.requested, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_SUCCESS);
  // Even a file created read-only writes through the handle that created it.
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, "abc", 3, &written, nullptr)) << GetLastError();
  EXPECT_EQ(written, 3u);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(GetFileAttributesA(path.c_str()), KeptAttributes(c.expected));
  EXPECT_EQ(ReadWhole(path), "abc");
}

INSTANTIATE_TEST_SUITE_P(Creating, NewFileAttributes, testing::ValuesIn(NewFiles));

// Replacing a file with CREATE_ALWAYS, as the updater writes every entry.
struct Replacement {
  DWORD existing;
  DWORD requested;
  DWORD error;     // 0: the replacement succeeds
  DWORD expected;  // attributes afterwards
  bool wineDiffers;
};

const Replacement Replacements[] = {
    {0x21, 0x20, ERROR_ACCESS_DENIED, 0x21, true},  // read-only: refused (Wine as root opens)
    {0x21, 0x21, ERROR_ACCESS_DENIED, 0x21, true},  // ... whatever is asked for
    {0x27, 0x27, ERROR_ACCESS_DENIED, 0x27, true},
    {0x22, 0x20, ERROR_ACCESS_DENIED, 0x22, true},  // hidden, not asked for again
    {0x24, 0x20, ERROR_ACCESS_DENIED, 0x24, true},  // system, not asked for again
    {0x26, 0x02, ERROR_ACCESS_DENIED, 0x26, true},  // hidden and system, only hidden asked
    {0x26, 0x26, 0, 0x26, false},
    {0x26, 0x27, 0, 0x27, true},  // allowed: both bits asked for again
    {0x20, 0x27, 0, 0x27, true},  // Wine leaves the old attributes
    {0x20, 0x80, 0, 0x20, false},
    {0x2020, 0x20, 0, 0x20, true},
    {0x80, 0x01, 0, 0x21, true},
};

class Replacing : public testing::TestWithParam<Replacement> {};

TEST_P(Replacing, RefusalsAndResult) {
  const Replacement& c = GetParam();
  SCOPED_TRACE(testing::Message() << "existing 0x" << std::hex << c.existing << " requested 0x"
                                  << c.requested);
  SKIP_ROW_THAT_CANNOT_RUN(c.wineDiffers, c.existing | c.requested);
  std::string path = Scratch("target.bin");
  MakeFile(path, "old contents");
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), c.existing));
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            c.requested, nullptr);
  if (c.error) {
    EXPECT_EQ(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(ReadWhole(path), "old contents");
  } else {
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(ReadWhole(path), "");
  }
  EXPECT_EQ(GetFileAttributesA(path.c_str()), KeptAttributes(c.expected));
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_TRUE(DeleteFileA(path.c_str())) << GetLastError();
}

INSTANTIATE_TEST_SUITE_P(Creating, Replacing, testing::ValuesIn(Replacements));

TEST(Creating, DispositionsAndErrors) {
  MakeFile(Scratch("file.txt"), "twelve bytes");
  ASSERT_TRUE(CreateDirectoryA(Scratch("folder").c_str(), nullptr));
  struct Case {
    const char* name;
    DWORD access;
    DWORD disposition;
    DWORD error;  // the last error, also on success
    bool opens;
  };
  const Case cases[] = {
      {"file.txt", GENERIC_READ, OPEN_EXISTING, ERROR_SUCCESS, true},
      {"file.txt", GENERIC_WRITE, OPEN_ALWAYS, ERROR_ALREADY_EXISTS, true},
      {"file.txt", GENERIC_WRITE, CREATE_NEW, ERROR_FILE_EXISTS, false},
      {"new1.txt", GENERIC_WRITE, OPEN_ALWAYS, ERROR_SUCCESS, true},
      {"new2.txt", GENERIC_WRITE, CREATE_NEW, ERROR_SUCCESS, true},
      {"missing.txt", GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND, false},
      {"missing.txt", GENERIC_WRITE, TRUNCATE_EXISTING, ERROR_FILE_NOT_FOUND, false},
      {"missing\\a.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND, false},
      {"missing\\a.txt", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND, false},
      {"file.txt\\a.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND, false},
      {"folder", GENERIC_WRITE, CREATE_ALWAYS, ERROR_ACCESS_DENIED, false},
      {"folder", GENERIC_WRITE, OPEN_EXISTING, ERROR_ACCESS_DENIED, false},
      {"folder", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SCOPED_TRACE(c.disposition);
    SetLastError(0xDEAD);
    HANDLE file = CreateFileA(Scratch(c.name).c_str(), c.access, FILE_SHARE_READ, nullptr,
                              c.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.opens);
    if (file != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(CloseHandle(file));
    }
  }
  EXPECT_EQ(ReadWhole(Scratch("file.txt")), "twelve bytes");  // OPEN_ALWAYS does not truncate
}

TEST(Creating, ReadOnlyFileDoesNotOpenForWriting) {
  SKIP_UNDER_WINE("running as root, Wine opens a read-only file for writing");
  std::string path = Scratch("ro.txt");
  MakeFile(path, "keep", FILE_ATTRIBUTE_READONLY);
  for (DWORD disposition : {OPEN_EXISTING, OPEN_ALWAYS, TRUNCATE_EXISTING}) {
    SCOPED_TRACE(disposition);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr);
    EXPECT_EQ(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(ReadWhole(path), "keep");
}

TEST(Deleting, RefusalsAndErrors) {
  MakeFile(Scratch("ro.txt"), "x", FILE_ATTRIBUTE_READONLY);
  MakeFile(Scratch("hs.txt"), "x", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  ASSERT_TRUE(CreateDirectoryA(Scratch("folder").c_str(), nullptr));
  struct Case {
    const char* name;
    BOOL deleted;
    DWORD error;
  };
  const Case cases[] = {
      {"ro.txt", FALSE, ERROR_ACCESS_DENIED},  // even for root
      {"hs.txt", TRUE, 0},
      {"folder", FALSE, ERROR_ACCESS_DENIED},
      {"missing.txt", FALSE, ERROR_FILE_NOT_FOUND},
      {"missing\\a.txt", FALSE, ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DeleteFileA(Scratch(c.name).c_str()), c.deleted);
    if (!c.deleted) {
      EXPECT_EQ(GetLastError(), c.error);
    }
  }
  EXPECT_NE(GetFileAttributesA(Scratch("ro.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA(Scratch("hs.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  // Clearing read-only, as the updater does, lets it go.
  ASSERT_TRUE(SetFileAttributesA(Scratch("ro.txt").c_str(), FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_TRUE(DeleteFileA(Scratch("ro.txt").c_str())) << GetLastError();
}

}  // namespace
