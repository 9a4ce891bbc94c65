// Writing an entry over whatever stands at its path, and removing obsolete files, on a scratch
// drive: the file's contents, attributes and exact last-write time afterwards.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fs/write.h"
#include "platform/extra_calls.h"
#include "support/file_times.h"
#include "support/host_files.h"
#include "support/scratch_drive.h"

namespace {

const DWORD NoFile = INVALID_FILE_ATTRIBUTES;

struct Existing {
  DWORD attributes;  // NoFile: nothing at the path
  std::string contents;
};

// Puts a file there through the host, then its attributes through the layer.
void PlaceFile(const ScratchDrive& drive, const std::string& relative, const Existing& file,
               const FILETIME& time) {
  if (file.attributes == NoFile) return;
  drive.WriteHostFile(relative, file.contents);
  ASSERT_TRUE(SetHostWriteTime(drive.HostPath(relative), time));
  ASSERT_TRUE(SetFileAttributesA((drive.Root() + relative).c_str(), file.attributes));
}

uint64_t WriteTimeOf(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);
  return FileTimeValue(found.ftLastWriteTime);
}

TEST(WriteEntryFile, LeavesTheEntrysContentsAttributesAndTime) {
  const FILETIME oldTime = FileTimeOf(2001, 2, 3, 4, 5, 6);
  const FILETIME entryTime = FileTimeOf(2026, 3, 1, 9, 0, 1, 1234567);  // kept to 100 ns
  struct Case {
    const char* title;
    Existing before;
    std::string data;
    DWORD attributes;
    int expected;
    DWORD attributesAfter;
    bool entryTimeAfter;  // else the old time stays
  };
  const Case cases[] = {
      {"over a read-only hidden system file",
       {0x27, "old contents, longer"},
       "new!",
       0x27,
       1,
       0x27,
       true},
      {"fresh path", {NoFile, ""}, "fresh", 0x21, 1, 0x21, true},
      {"zero-length entry", {0x20, "something"}, "", 0x27, 1, 0x27, true},
      {"NORMAL on a fresh path reads back as ARCHIVE", {NoFile, ""}, "n", 0x80, 1, 0x20, true},
      {"plain entry over a hidden file", {0x22, "hidden"}, "plain", 0x20, 1, 0x20, true},
      {"extra bit kept", {0x20, "x"}, "y", 0x2021, 1, 0x2021, true},
      // NORMAL does not clear the way: the read-only file refuses to be replaced, untouched.
      {"NORMAL over a read-only file", {0x21, "keep me"}, "lost", 0x80, 0, 0x21, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    ScratchDrive drive;
    drive.MakeFolder("Zarpo");
    const std::string relative = "Zarpo\\a.dll";
    const std::string path = drive.Root() + relative;
    PlaceFile(drive, relative, c.before, oldTime);

    int result = WriteEntryFile(path.c_str(), reinterpret_cast<const BYTE*>(c.data.data()),
                                static_cast<DWORD>(c.data.size()), c.attributes, &entryTime);
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(GetFileAttributesA(path.c_str()), c.attributesAfter);
    EXPECT_EQ(drive.ReadHostFile(relative), c.expected ? c.data : c.before.contents);
    EXPECT_EQ(WriteTimeOf(path), FileTimeValue(c.entryTimeAfter ? entryTime : oldTime));
  }
}

TEST(WriteEntryFile, FailsWhereNoFileCanBeCreated) {
  ScratchDrive drive;
  drive.MakeFolder("Zarpo\\Folder");
  const FILETIME time = FileTimeOf(2026, 3, 1);
  const BYTE data[] = {'d'};
  const std::string paths[] = {"E:\\Zarpo\\missing\\a.txt", "E:\\Zarpo\\Folder", "Q:\\a.txt"};
  for (const std::string& path : paths) {
    std::vector<std::string> before = drive.Listing();
    EXPECT_EQ(WriteEntryFile(path.c_str(), data, 1, 0x20, &time), 0) << path;
    EXPECT_EQ(drive.Listing(), before);
  }
}

TEST(WriteEntryFile, WithoutATimeKeepsTheSystemsTime) {
  ScratchDrive drive;
  const BYTE data[] = {'a', 'b'};
  EXPECT_EQ(WriteEntryFile("E:\\a.txt", data, 2, 0x27, nullptr), 1);
  EXPECT_EQ(GetFileAttributesA("E:\\a.txt"), 0x27u);
  EXPECT_EQ(drive.ReadHostFile("a.txt"), "ab");
  // Written just now, not left at some default.
  EXPECT_GT(WriteTimeOf("E:\\a.txt"), FileTimeValue(FileTimeOf(2020, 1, 1)));
}

TEST(RemoveObsoleteFile, RemovesWhateverTheAttributesAndIgnoresTheRest) {
  struct Case {
    const char* title;
    Existing file;  // at Zarpo\old.dll
    std::string folder;
    std::string name;
  };
  const Case cases[] = {
      {"read-only hidden system file", {0x27, "old"}, "E:\\Zarpo\\", "old.dll"},
      {"folder without its final backslash", {0x21, "old"}, "E:\\Zarpo", "old.dll"},
      {"missing file", {NoFile, ""}, "E:\\Zarpo\\", "old.dll"},
      {"missing folder", {NoFile, ""}, "E:\\Gone\\", "old.dll"},
      {"name too long for a path", {0x20, "old"}, "E:\\Zarpo\\", std::string(300, 'n')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    ScratchDrive drive;
    drive.MakeFolder("Zarpo");
    drive.WriteHostFile("Zarpo\\keep.txt", "mine");
    PlaceFile(drive, "Zarpo\\old.dll", c.file, FileTimeOf(2001, 1, 1));
    RemoveObsoleteFile(c.folder.c_str(), c.name.c_str());
    bool named = c.name == "old.dll" && c.folder.rfind("E:\\Zarpo", 0) == 0;
    EXPECT_EQ(drive.Exists("Zarpo\\old.dll"), !named && c.file.attributes != NoFile);
    EXPECT_EQ(drive.ReadHostFile("Zarpo\\keep.txt"), "mine");
  }
}

}  // namespace
