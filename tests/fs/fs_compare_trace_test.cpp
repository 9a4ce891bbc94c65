// Comparing a file on disk with a package entry, seen through the one trace line each call
// sends (captured by the wrapped window calls instead of a monitor), and with its lookups
// failed on purpose.
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fs/compare.h"
#include "support/faults.h"
#include "support/file_times.h"
#include "support/host_files.h"
#include "support/scratch_drive.h"

namespace {

const char* const Path = "E:\\Zarpo\\a.dll";
const FILETIME EntryTime = FileTimeOf(2026, 3, 1, 9, 0, 0);

EntryHeader MakeEntry(DWORD length, DWORD attributes, FILETIME time) {
  EntryHeader entry = {};
  entry.DataLength = length;
  entry.Attributes = attributes;
  entry.LastWrite = time;
  entry.NameLength = 5;
  return entry;
}

// A file at Zarpo\a.dll with `size` bytes, then its time through the host and its attributes
// through the layer.
void PlaceFile(const ScratchDrive& drive, size_t size, DWORD attributes, const FILETIME& time) {
  drive.WriteHostFile("Zarpo\\a.dll", std::string(size, 'x'));
  ASSERT_TRUE(SetHostWriteTime(drive.HostPath("Zarpo\\a.dll"), time));
  ASSERT_TRUE(SetFileAttributesA(Path, attributes));
}

struct CompareResult {
  int same;
  std::vector<std::string> lines;
  int descriptorChange;
};

CompareResult Compare(const EntryHeader& entry) {
  FaultScope scope;
  FaultCaptureTrace(true);
  int descriptors = OpenDescriptorCount();
  int otherFile = -1;
  int same = IsSameFile(Path, &entry, &otherFile);
  EXPECT_EQ(otherFile, 0) << "the path names the file itself";
  return {same, FaultTraceLines(), OpenDescriptorCount() - descriptors};
}

TEST(IsSameFile, DecidesFromSizeAttributesAndDosTime) {
  struct Case {
    const char* title;
    bool present;
    size_t size;
    DWORD attributes;
    FILETIME time;
    int expected;
    std::string line;
  };
  const std::string tail = std::string("[") + Path + "]";
  const Case cases[] = {
      {"absent", false, 0, 0, EntryTime, 0, "NotFound " + tail},
      {"identical", true, 5, 0x27, EntryTime, 1, "Existing " + tail},
      {"one second later, same DOS step", true, 5, 0x27, FileTimeOf(2026, 3, 1, 9, 0, 1), 1,
       "Existing " + tail},
      {"fraction of a second later", true, 5, 0x27, FileTimeOf(2026, 3, 1, 9, 0, 1, 9999999), 1,
       "Existing " + tail},
      {"longer", true, 7, 0x27, EntryTime, 0, "Different " + tail + " 2, 0, 0"},
      {"shorter", true, 3, 0x27, EntryTime, 0, "Different " + tail + " -2, 0, 0"},
      // A plainly written file reads back ARCHIVE only: it lacks the read-only, hidden and
      // system bits of the entry.
      {"lacks 0x07", true, 5, 0x20, EntryTime, 0, "Different " + tail + " 0, FFFFFFF9, 0"},
      {"extra not-indexed bit", true, 5, 0x2027, EntryTime, 0, "Different " + tail + " 0, 2000, 0"},
      {"next DOS step", true, 5, 0x27, FileTimeOf(2026, 3, 1, 9, 0, 2), 0,
       "Different " + tail + " 0, 0, 1"},
      {"previous DOS step", true, 5, 0x27, FileTimeOf(2026, 3, 1, 8, 59, 59), 0,
       "Different " + tail + " 0, 0, -131"},  // packed 08:59:58 minus packed 09:00:00
      {"next day", true, 5, 0x27, FileTimeOf(2026, 3, 2, 9, 0, 0), 0,
       "Different " + tail + " 0, 0, 65536"},
      {"all three at once", true, 4, 0x21, FileTimeOf(2026, 3, 1, 9, 0, 4), 0,
       "Different " + tail + " -1, FFFFFFFA, 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    ScratchDrive drive;
    drive.MakeFolder("Zarpo");
    if (c.present) PlaceFile(drive, c.size, c.attributes, c.time);
    CompareResult result = Compare(MakeEntry(5, 0x27, EntryTime));
    EXPECT_EQ(result.same, c.expected);
    EXPECT_EQ(result.lines, std::vector<std::string>{c.line});
    EXPECT_EQ(result.descriptorChange, 0);
  }
}

TEST(IsSameFile, ATimeWithoutDosFormNeverMatches) {
  const FILETIME old = FileTimeOf(1979, 6, 1, 12, 0, 0);
  ScratchDrive drive;
  drive.MakeFolder("Zarpo");
  PlaceFile(drive, 5, 0x27, old);
  // Both sides unconvertible: the keys fall back to 1 (disk) and 0 (entry).
  CompareResult result = Compare(MakeEntry(5, 0x27, old));
  EXPECT_EQ(result.same, 0);
  EXPECT_EQ(result.lines,
            std::vector<std::string>{std::string("Different [") + Path + "] 0, 0, 1"});
  // An entry without a DOS time against an ordinary file: still different.
  PlaceFile(drive, 5, 0x27, EntryTime);
  EXPECT_EQ(Compare(MakeEntry(5, 0x27, old)).same, 0);
}

TEST(IsSameFile, AFolderAtThePathIsDifferent) {
  ScratchDrive drive;
  drive.MakeFolder("Zarpo\\a.dll");
  CompareResult result = Compare(MakeEntry(0, 0x27, EntryTime));
  EXPECT_EQ(result.same, 0);
  ASSERT_EQ(result.lines.size(), 1u);
  EXPECT_EQ(result.lines[0].rfind(std::string("Different [") + Path + "] ", 0), 0u)
      << result.lines[0];
}

TEST(IsSameFile, ComparesTheLowHalfOfTheSizeOnly) {
  ScratchDrive drive;
  drive.MakeFolder("Zarpo");
  PlaceFile(drive, 5, 0x27, EntryTime);
  // Grow it sparsely to 4 GiB + 5 bytes, then put the time back.
  if (truncate(drive.HostPath("Zarpo\\a.dll").c_str(), (1LL << 32) + 5) != 0) {
    GTEST_SKIP() << "no sparse 4 GiB file on this file system";
  }
  ASSERT_TRUE(SetHostWriteTime(drive.HostPath("Zarpo\\a.dll"), EntryTime));
  CompareResult result = Compare(MakeEntry(5, 0x27, EntryTime));
  EXPECT_EQ(result.same, 1);
  EXPECT_EQ(result.lines, std::vector<std::string>{std::string("Existing [") + Path + "]"});
}

TEST(IsSameFileFaults, LookupsFailedOnPurpose) {
  struct Case {
    const char* title;
    const char* call;
    int nth;
    int expected;
    std::string lineStart;
    std::vector<std::string> calls;
  };
  const std::string tail = std::string("[") + Path + "]";
  const std::vector<std::string> full = {"FindFirstFileA",        "FindClose",
                                         "FileTimeToDosDateTime", "FileTimeToDosDateTime",
                                         "FindWindowA",           "SendMessageA"};
  const Case cases[] = {
      {"nothing fails", nullptr, 0, 1, "Existing " + tail, full},
      {"lookup fails",
       "FindFirstFileA",
       1,
       0,
       "NotFound " + tail,
       {"FindFirstFileA", "FindWindowA", "SendMessageA"}},
      {"close of the search fails", "FindClose", 1, 1, "Existing " + tail, full},
      // The disk time falls back to 1 and can match nothing.
      {"disk time unconvertible", "FileTimeToDosDateTime", 1, 0, "Different " + tail + " 0, 0, ",
       full},
      {"entry time unconvertible", "FileTimeToDosDateTime", 2, 0, "Different " + tail + " 0, 0, ",
       full},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    ScratchDrive drive;
    drive.MakeFolder("Zarpo");
    PlaceFile(drive, 5, 0x27, EntryTime);
    FaultScope scope;
    FaultCaptureTrace(true);
    if (c.call != nullptr) FaultArm(c.nth, c.call);
    int descriptors = OpenDescriptorCount();
    const EntryHeader entry = MakeEntry(5, 0x27, EntryTime);
    int otherFile = 0;
    EXPECT_EQ(IsSameFile(Path, &entry, &otherFile), c.expected);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    std::vector<std::string> lines = FaultTraceLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(c.lineStart, 0), 0u) << lines[0];
    EXPECT_EQ(FaultCallLog(), c.calls);
  }
}

TEST(IsSameFileFaults, NoMonitorChangesNothing) {
  ScratchDrive drive;
  drive.MakeFolder("Zarpo");
  PlaceFile(drive, 5, 0x27, EntryTime);
  FaultScope scope;
  FaultCaptureTrace(true);
  FaultArm(1, "FindWindowA");
  const EntryHeader entry = MakeEntry(5, 0x27, EntryTime);
  int otherFile = 0;
  EXPECT_EQ(IsSameFile(Path, &entry, &otherFile), 1);
  EXPECT_TRUE(FaultTraceLines().empty());
  EXPECT_EQ(FaultCalls("SendMessageA"), 0);
}

}  // namespace
