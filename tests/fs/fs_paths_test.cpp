// Path composition and splitting, root prefixes, and folder-chain creation on a scratch drive.
// Double-byte names are built from UTF-8 with Ansi() so that 表 (95 5C) and 構 (8D 5C) carry
// their 0x5C trail bytes into the code under test.
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fs/paths.h"
#include "support/scratch_drive.h"

namespace {

const std::string Hyo = Ansi("表");  // 95 5C
const std::string Ko = Ansi("構");   // 8D 5C

const char* OrNull(const std::string& text, bool present) {
  return present ? text.c_str() : nullptr;
}

// A path buffer with guard bytes behind it, to see that nothing is written past MAX_PATH.
struct GuardedPath {
  static const int GuardSize = 32;
  char bytes[MAX_PATH + GuardSize];
  GuardedPath() { memset(bytes, 0xA5, sizeof bytes); }
  bool GuardIntact() const {
    for (int i = MAX_PATH; i < MAX_PATH + GuardSize; ++i) {
      if (static_cast<unsigned char>(bytes[i]) != 0xA5) return false;
    }
    return true;
  }
};

TEST(JoinPath, ComposesItsPieces) {
  struct Case {
    const char* drive;  // nullptr: no drive piece
    std::string folder;
    bool hasFolder;
    std::string name;
    bool hasName;
    std::string expected;
  };
  const Case cases[] = {
      {nullptr, "E:\\Zarpo\\", true, "a\\b.txt", true, "E:\\Zarpo\\a\\b.txt"},
      {nullptr, "E:\\Zarpo", true, "a\\b.txt", true, "E:\\Zarpo\\a\\b.txt"},
      {nullptr, "E:\\Zarpo/", true, "a.txt", true, "E:\\Zarpo/a.txt"},
      // The last character is 表, whose trail byte is 0x5C: not a separator, so one is added.
      {nullptr, "E:\\" + Hyo, true, "a.txt", true, "E:\\" + Hyo + "\\a.txt"},
      {nullptr, "E:\\Zarpo\\" + Ko + "\\", true, Hyo + ".txt", true,
       "E:\\Zarpo\\" + Ko + "\\" + Hyo + ".txt"},
      // Drive and folder, as EnsureParentFolder joins them; nothing is added after a name.
      {"E", "\\Zarpo\\Sample\\", true, "", false, "E:\\Zarpo\\Sample\\"},
      {"Ex", "\\Zarpo", true, "", false, "E:\\Zarpo\\"},
      {"E", "", true, "a.txt", true, "E:a.txt"},
      {"", "", false, "a\\", true, "a\\"},
      {nullptr, "", false, "", false, ""},
  };
  for (const Case& c : cases) {
    char out[MAX_PATH];
    memset(out, 'x', sizeof out);
    EXPECT_EQ(JoinPath(out, c.drive, OrNull(c.folder, c.hasFolder), OrNull(c.name, c.hasName)), 1)
        << c.expected;
    EXPECT_EQ(std::string(out), c.expected);
  }
}

TEST(JoinPath, RefusesWhatWouldNotFitWithoutOverrun) {
  struct Case {
    const char* drive;
    size_t folderLength;  // that many 'f' bytes (none for 0); the join appends a backslash
    size_t nameLength;
    size_t expectedLength;  // 0: refused
  };
  // A row a line, as the comments describe rows.
  // clang-format off
  const Case cases[] = {
      {nullptr, 200, 58, 259},  // 200 + "\" + 58: fits exactly
      {nullptr, 200, 59, 0},
      {"E", 256, 0, 259},
      {"E", 257, 0, 0},         // the added backslash is the byte too many
      {"E", 0, 257, 259},
      {"E", 0, 258, 0},
      {nullptr, 0, 5000, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    std::string folder(c.folderLength, 'f');
    std::string name(c.nameLength, 'n');
    GuardedPath out;
    int result = JoinPath(out.bytes, c.drive, c.folderLength ? folder.c_str() : nullptr,
                          c.nameLength ? name.c_str() : nullptr);
    EXPECT_EQ(result, c.expectedLength ? 1 : 0) << c.folderLength << " + " << c.nameLength;
    EXPECT_EQ(strlen(out.bytes), c.expectedLength);  // refused: the empty string
    EXPECT_TRUE(out.GuardIntact());
  }
}

TEST(SplitFolder, GivesDriveAndFolderParts) {
  struct Case {
    std::string path;
    std::string drive;
    std::string folder;
  };
  const Case cases[] = {
      {"E:\\Zarpo\\Sample\\a.txt", "E:", "\\Zarpo\\Sample\\"},
      {"E:\\Zarpo\\" + Hyo, "E:", "\\Zarpo\\"},  // 表 is the file name, not a folder
      {"E:\\" + Hyo + "\\" + Ko + ".txt", "E:", "\\" + Hyo + "\\"},
      {"Zarpo/Sample/a.txt", "", "Zarpo/Sample/"},
      {"E:\\Zarpo/Sample\\a.txt", "E:", "\\Zarpo/Sample\\"},
      {"a.txt", "", ""},
      {"E:a.txt", "E:", ""},
      {"\\\\server\\share\\a.txt", "", "\\\\server\\share\\"},
      {"E:\\ab\x95", "E:", "\\"},  // a lead byte before the NUL ends the string
      {"", "", ""},
  };
  for (const Case& c : cases) {
    char drive[3];
    char folder[256];
    SplitFolder(c.path.c_str(), drive, folder);
    EXPECT_EQ(std::string(drive), c.drive) << c.path;
    EXPECT_EQ(std::string(folder), c.folder) << c.path;
  }
}

TEST(SplitFolder, CutsTheFolderPartAt255BytesOnACharacterBoundary) {
  struct Case {
    std::string path;
    std::string folder;
  };
  const std::string a253(253, 'a');
  const Case cases[] = {
      // 258 bytes of folder part: the first 255 are kept.
      {"E:\\" + a253 + "\\b\\c.txt", ("\\" + a253 + "\\b\\").substr(0, 255)},
      // 表 at bytes 253-254 ends inside the cap: kept whole.
      {"E:\\" + std::string(252, 'a') + Hyo + "\\c.txt", "\\" + std::string(252, 'a') + Hyo},
      // 表 at bytes 254-255 would be split: its lead byte is dropped too.
      {"E:\\" + a253 + Hyo + "\\c.txt", "\\" + a253},
  };
  for (const Case& c : cases) {
    char drive[3];
    char folder[256 + 16];
    memset(folder, 0xA5, sizeof folder);
    SplitFolder(c.path.c_str(), drive, folder);
    EXPECT_STREQ(drive, "E:");
    EXPECT_EQ(std::string(folder), c.folder);
    for (size_t i = 256; i < sizeof folder; ++i)
      EXPECT_EQ(static_cast<unsigned char>(folder[i]), 0xA5);
  }
}

TEST(RootPrefixLength, CountsTheRootThatIsNeverCreated) {
  struct Case {
    std::string path;
    size_t expected;
  };
  const Case cases[] = {
      {"E:\\Zarpo\\", 3},
      {"?:xyz", 3},  // any second byte ':' means three bytes, whatever they are
      {"E:\\", 3},
      {"E:", 2},  // never past the end of the string
      {"\\\\server\\share\\a\\b\\", 15},
      {"\\\\server\\share\\", 15},
      {"\\\\server\\share", 0},
      {"\\\\server", 0},
      {"\\\\" + Hyo + "\\s\\a\\", 7},  // the 0x5C inside 表 does not end the server name
      {"\\Zarpo\\", 0},
      {"Zarpo\\", 0},
      {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(RootPrefixLength(c.path.c_str()), c.expected) << c.path;
}

TEST(AddTrailingBackslash, AppendsOnlyWhereMissing) {
  struct Case {
    std::string path;
    std::string expected;
  };
  const Case cases[] = {
      {"E:\\Zarpo", "E:\\Zarpo\\"},
      {"E:\\Zarpo\\", "E:\\Zarpo\\"},
      {"E:\\" + Hyo, "E:\\" + Hyo + "\\"},
      {"E:\\Zarpo/", "E:\\Zarpo/\\"},  // only a backslash counts here
      {"", "\\"},
  };
  for (const Case& c : cases) {
    char path[MAX_PATH];
    strcpy(path, c.path.c_str());
    EXPECT_EQ(AddTrailingBackslash(path), 1);
    EXPECT_EQ(std::string(path), c.expected);
  }

  GuardedPath full;
  std::string longest(MAX_PATH - 1, 'p');
  strcpy(full.bytes, longest.c_str());
  EXPECT_EQ(AddTrailingBackslash(full.bytes), 0);
  EXPECT_EQ(std::string(full.bytes), longest);
  EXPECT_TRUE(full.GuardIntact());
  longest.back() = '\\';
  strcpy(full.bytes, longest.c_str());
  EXPECT_EQ(AddTrailingBackslash(full.bytes), 1);  // already ends with one: nothing to add
}

// --- Folders on a scratch drive ---------------------------------------------------------------

struct FolderCase {
  const char* title;
  std::vector<std::string> folders;  // made on the host before the call (relative, CP932)
  std::vector<std::string> files;
  std::string argument;  // relative to "E:\" unless it starts with '\'
  int expected;
  std::vector<std::string> created;  // new host entries afterwards (UTF-8, '/'), sorted
};

std::vector<std::string> Added(const std::vector<std::string>& before,
                               const std::vector<std::string>& after) {
  std::vector<std::string> added;
  for (const std::string& name : after) {
    bool old = false;
    for (const std::string& earlier : before) old = old || earlier == name;
    if (!old) added.push_back(name);
  }
  return added;
}

std::string Target(const ScratchDrive& drive, const std::string& argument) {
  return !argument.empty() && argument[0] == '\\' ? argument : drive.Root() + argument;
}

void Prepare(const ScratchDrive& drive, const FolderCase& c) {
  for (const std::string& folder : c.folders) drive.MakeFolder(folder);
  for (const std::string& file : c.files) drive.WriteHostFile(file, "x");
}

TEST(CreateFolderPath, CreatesExactlyTheMissingLevels) {
  const FolderCase cases[] = {
      {"all present", {"Zarpo\\Sample"}, {}, "Zarpo\\Sample\\", 1, {}},
      {"last level missing", {"Zarpo"}, {}, "Zarpo\\Sample\\", 1, {"Zarpo/Sample"}},
      {"no trailing backslash", {}, {}, "Zarpo\\a\\b", 1, {"Zarpo", "Zarpo/a", "Zarpo/a/b"}},
      {"double-byte level with 0x5C trail bytes",
       {"Zarpo"},
       {},
       "Zarpo\\" + Hyo + Ko + "\\",
       1,
       {"Zarpo/表構"}},
      {"the drive root alone", {}, {}, "", 1, {}},
      {"plain file in the way", {"Zarpo"}, {"Zarpo\\Sample"}, "Zarpo\\Sample\\x\\", 0, {}},
      {"plain file halfway stops the rest", {}, {"Zarpo"}, "Zarpo\\a\\b\\", 0, {}},
      {"single leading backslash", {}, {}, "\\Zarpo\\", 0, {}},
      {"UNC path", {}, {}, "\\\\server\\share\\a\\b\\", 0, {}},
      {"too long for a path", {}, {}, "Zarpo\\" + std::string(MAX_PATH, 'l') + "\\", 0, {}},
  };
  for (const FolderCase& c : cases) {
    SCOPED_TRACE(c.title);
    ScratchDrive drive;
    Prepare(drive, c);
    std::vector<std::string> before = drive.Listing();
    EXPECT_EQ(CreateFolderPath(Target(drive, c.argument).c_str()), c.expected);
    EXPECT_EQ(Added(before, drive.Listing()), c.created);
  }
}

TEST(CreateFolderPath, FailsOnADriveWithoutMedium) {
  ScratchDrive drive('E', "removable", false);
  EXPECT_EQ(CreateFolderPath("E:\\Zarpo\\"), 0);
  EXPECT_EQ(CreateFolderPath("Q:\\Zarpo\\"), 0);  // no such drive at all
}

TEST(EnsureParentFolder, CreatesTheFolderThatWillHoldTheFile) {
  const FolderCase cases[] = {
      {"parent missing", {"Zarpo"}, {}, "Zarpo\\Sample\\a.txt", 1, {"Zarpo/Sample"}},
      {"double-byte file name is not a level", {"Zarpo"}, {}, "Zarpo\\" + Hyo, 1, {}},
      {"double-byte folders",
       {"Zarpo"},
       {},
       "Zarpo\\" + Hyo + "\\" + Ko + "\\a.dwg",
       1,
       {"Zarpo/表", "Zarpo/表/構"}},
      // A slash ends the folder part, but folder creation knows only the backslash: the last
      // level is created whole, with its parent already there.
      {"slash as separator", {"Zarpo"}, {}, "Zarpo/a/b.txt", 1, {"Zarpo/a"}},
      // A folder part longer than 255 bytes must not be cut into a stray folder.
      // 259 bytes whose folder part is 257: cut to 255 it would name "abcdefgh".
      {"folder part over 255 bytes", {}, {}, std::string(244, 'd') + "\\abcdefghij\\", 0, {}},
      // One byte more than the cap loses only the final backslash, which the join puts back:
      // "\Zarpo\" + 248 + "\" is the folder part of a 250-byte entry name.
      {"folder part of 256 bytes",
       {"Zarpo"},
       {},
       "Zarpo\\" + std::string(248, 'a') + "\\b",
       1,
       {"Zarpo/" + std::string(248, 'a')}},
  };
  for (const FolderCase& c : cases) {
    SCOPED_TRACE(c.title);
    ScratchDrive drive;
    Prepare(drive, c);
    std::vector<std::string> before = drive.Listing();
    EXPECT_EQ(EnsureParentFolder(Target(drive, c.argument).c_str()), c.expected);
    EXPECT_EQ(Added(before, drive.Listing()), c.created);
  }
}

TEST(IsFolder, TellsFoldersFromFilesAndNothing) {
  ScratchDrive drive;
  drive.MakeFolder("Zarpo\\" + Hyo);
  drive.WriteHostFile("Zarpo\\a.txt", "a");
  struct Case {
    std::string path;
    int expected;
  };
  const Case cases[] = {
      {"E:\\Zarpo", 1},          {"E:\\Zarpo\\" + Hyo, 1},   {"E:\\Zarpo\\a.txt", 0},
      {"E:\\Zarpo\\missing", 0}, {"E:\\missing\\deeper", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(IsFolder(c.path.c_str()), c.expected) << c.path;
}

}  // namespace
