// The file-system helpers with their platform calls failed one at a time: the exact order of
// the calls, the result where a failure must show, and no descriptor left open on any path.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fs/paths.h"
#include "fs/write.h"
#include "support/faults.h"
#include "support/file_times.h"
#include "support/scratch_drive.h"

namespace {

using Calls = std::vector<std::string>;

struct WriteFault {
  const char* title;
  const char* call;  // nullptr: nothing fails
  int nth;
  FaultKind kind;
  DWORD attributes;  // of the entry
  DWORD existing;    // attributes of the file already there
  int expected;
  Calls calls;  // "@" stands for the path
};

std::string Expand(const std::string& pattern, const std::string& path) {
  std::string text = pattern;
  size_t at = text.find('@');
  if (at != std::string::npos) text.replace(at, 1, path);
  return text;
}

TEST(WriteEntryFileFaults, EachCallFailsInTurn) {
  const Calls full = {"SetFileAttributesA @ 0x20",
                      "CreateFileA @ 0x40000000 0x1 2 0x27",
                      "WriteFile 5",
                      "FlushFileBuffers",
                      "SetFileTime --w",
                      "CloseHandle",
                      "SetFileAttributesA @ 0x27"};
  const Calls writeFailed = {full[0], full[1], full[2], "CloseHandle"};
  const WriteFault cases[] = {
      {"nothing fails", nullptr, 0, FaultKind::Error, 0x27, 0x20, 1, full},
      // Both attribute calls are best effort: the file is written all the same.
      {"clearing attributes fails", "SetFileAttributesA", 1, FaultKind::Error, 0x27, 0x20, 1, full},
      {"applying attributes fails", "SetFileAttributesA", 2, FaultKind::Error, 0x27, 0x20, 1, full},
      // ...unless the file in the way is read-only and so cannot be replaced.
      {"clearing a read-only file fails",
       "SetFileAttributesA",
       1,
       FaultKind::Error,
       0x27,
       0x21,
       0,
       {full[0], full[1]}},
      {"create fails", "CreateFileA", 1, FaultKind::Error, 0x27, 0x20, 0, {full[0], full[1]}},
      {"write fails", "WriteFile", 1, FaultKind::Error, 0x27, 0x20, 0, writeFailed},
      {"short write", "WriteFile", 1, FaultKind::ShortWrite, 0x27, 0x20, 0, writeFailed},
      // A failed flush leaves the time alone: the file is written again on the next run.
      {"flush fails",
       "FlushFileBuffers",
       1,
       FaultKind::Error,
       0x27,
       0x20,
       0,
       {full[0], full[1], full[2], full[3], "CloseHandle"}},
      {"time fails",
       "SetFileTime",
       1,
       FaultKind::Error,
       0x27,
       0x20,
       0,
       {full[0], full[1], full[2], full[3], full[4], full[5]}},
      {"close fails",
       "CloseHandle",
       1,
       FaultKind::Error,
       0x27,
       0x20,
       0,
       {full[0], full[1], full[2], full[3], full[4], full[5]}},
      {"NORMAL entry touches no attributes",
       nullptr,
       0,
       FaultKind::Error,
       0x80,
       0x20,
       1,
       {"CreateFileA @ 0x40000000 0x1 2 0x80", full[2], full[3], full[4], full[5]}},
  };
  const FILETIME time = FileTimeOf(2026, 3, 1, 9, 0, 0);
  const std::string data = "hello";
  for (const WriteFault& c : cases) {
    SCOPED_TRACE(c.title);
    ScratchDrive drive;
    drive.MakeFolder("Zarpo");
    drive.WriteHostFile("Zarpo\\a.dll", "old");
    ASSERT_TRUE(SetFileAttributesA("E:\\Zarpo\\a.dll", c.existing));
    const std::string path = "E:\\Zarpo\\a.dll";

    FaultScope scope;
    if (c.call != nullptr) FaultArm(c.nth, c.call, c.kind);
    int descriptors = OpenDescriptorCount();
    int result = WriteEntryFile(path.c_str(), reinterpret_cast<const BYTE*>(data.data()),
                                static_cast<DWORD>(data.size()), c.attributes, &time);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(FaultFired(), c.call != nullptr ? 1 : 0);
    Calls expected;
    for (const std::string& call : c.calls) expected.push_back(Expand(call, path));
    EXPECT_EQ(FaultCallDetails(), expected);
  }
}

TEST(WriteEntryFileFaults, ZeroLengthEntryMakesOneEmptyWrite) {
  ScratchDrive drive;
  const FILETIME time = FileTimeOf(2026, 3, 1);
  FaultScope scope;
  EXPECT_EQ(WriteEntryFile("E:\\empty.dat", nullptr, 0, 0x20, &time), 1);
  EXPECT_EQ(FaultCallLog(),
            (Calls{"SetFileAttributesA", "CreateFileA", "WriteFile", "FlushFileBuffers",
                   "SetFileTime", "CloseHandle", "SetFileAttributesA"}));
  EXPECT_EQ(FaultCallDetails()[2], "WriteFile 0");
  EXPECT_EQ(drive.ReadHostFile("empty.dat"), "");
}

TEST(CreateFolderPathFaults, StopsAtTheFirstFailedLevel) {
  struct Case {
    const char* title;
    const char* call;
    int nth;
    int expected;
    Calls calls;
    std::vector<std::string> listing;  // below the drive root afterwards
  };
  const Case cases[] = {
      {"nothing fails",
       nullptr,
       0,
       1,
       {"FindFirstFileA E:\\Zarpo", "FindClose", "FindFirstFileA E:\\Zarpo\\a",
        "CreateDirectoryA E:\\Zarpo\\a", "FindFirstFileA E:\\Zarpo\\a\\b",
        "CreateDirectoryA E:\\Zarpo\\a\\b"},
       {"Zarpo", "Zarpo/a", "Zarpo/a/b"}},
      {"first creation fails",
       "CreateDirectoryA",
       1,
       0,
       {"FindFirstFileA E:\\Zarpo", "FindClose", "FindFirstFileA E:\\Zarpo\\a",
        "CreateDirectoryA E:\\Zarpo\\a"},
       {"Zarpo"}},
      {"second creation fails",
       "CreateDirectoryA",
       2,
       0,
       {"FindFirstFileA E:\\Zarpo", "FindClose", "FindFirstFileA E:\\Zarpo\\a",
        "CreateDirectoryA E:\\Zarpo\\a", "FindFirstFileA E:\\Zarpo\\a\\b",
        "CreateDirectoryA E:\\Zarpo\\a\\b"},
       {"Zarpo", "Zarpo/a"}},
      // An existing level that cannot be looked up is created again, which the system refuses.
      {"lookup of an existing level fails",
       "FindFirstFileA",
       1,
       0,
       {"FindFirstFileA E:\\Zarpo", "CreateDirectoryA E:\\Zarpo"},
       {"Zarpo"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    ScratchDrive drive;
    drive.MakeFolder("Zarpo");
    FaultScope scope;
    if (c.call != nullptr) FaultArm(c.nth, c.call);
    int descriptors = OpenDescriptorCount();
    EXPECT_EQ(CreateFolderPath("E:\\Zarpo\\a\\b\\"), c.expected);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_EQ(FaultCallDetails(), c.calls);
    EXPECT_EQ(drive.Listing(), c.listing);
  }
}

TEST(CreateFolderPathFaults, RootsAreNeverTestedOrCreated) {
  struct Case {
    const char* folder;
    Calls calls;
  };
  const Case cases[] = {
      {"\\\\server\\share\\a\\b\\",
       {"FindFirstFileA \\\\server\\share\\a", "CreateDirectoryA \\\\server\\share\\a"}},
      {"\\Zarpo\\", {"FindFirstFileA ", "CreateDirectoryA "}},  // the empty first level
      {"E:\\", {}},
  };
  ScratchDrive drive;
  for (const Case& c : cases) {
    FaultScope scope;
    CreateFolderPath(c.folder);
    EXPECT_EQ(FaultCallDetails(), c.calls) << c.folder;
  }
}

TEST(PathFaults, RefusedPathsMakeNoCallAtAll) {
  ScratchDrive drive;
  FaultScope scope;
  const std::string longName(300, 'n');
  RemoveObsoleteFile("E:\\Zarpo\\", longName.c_str());
  EXPECT_EQ(EnsureParentFolder(("E:\\" + std::string(244, 'd') + "\\abcdefghij\\").c_str()), 0);
  EXPECT_EQ(CreateFolderPath(("E:\\" + std::string(MAX_PATH, 'l')).c_str()), 0);
  EXPECT_EQ(FaultCalls(), 0);
}

TEST(RemoveObsoleteFileFaults, ClearsThenDeletesAndIgnoresFailures) {
  const char* failing[] = {nullptr, "SetFileAttributesA", "DeleteFileA"};
  for (const char* call : failing) {
    SCOPED_TRACE(call != nullptr ? call : "nothing fails");
    ScratchDrive drive;
    drive.MakeFolder("Zarpo");
    drive.WriteHostFile("Zarpo\\old.dll", "old");
    ASSERT_TRUE(SetFileAttributesA("E:\\Zarpo\\old.dll", 0x27));
    FaultScope scope;
    if (call != nullptr) FaultArm(1, call);
    RemoveObsoleteFile("E:\\Zarpo", "old.dll");
    EXPECT_EQ(FaultCallDetails(), (Calls{"SetFileAttributesA E:\\Zarpo\\old.dll 0x20",
                                         "DeleteFileA E:\\Zarpo\\old.dll"}));
    // Read-only left in place makes the delete fail; a failed delete leaves the file.
    EXPECT_EQ(drive.Exists("Zarpo\\old.dll"), call != nullptr);
  }
}

}  // namespace
