// The whole installation against a scratch key disk, with packages made here and handed over as
// the resource of a module of our own, and the trace lines captured through the wrapped window
// calls.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "package/format.h"
#include "package/install.h"
#include "release/package_writer.h"
#include "support/faults.h"
#include "support/file_times.h"
#include "support/package_module.h"
#include "support/scratch_drive.h"

namespace {

const char* const Target = "E:\\Zarpo\\";

// Eight entries: files in the folder itself, a sub-folder with a double-byte name whose trail
// byte is 0x5C, read-only hidden system files and a zero-length one.
std::vector<PackEntry> Release() {
  std::vector<PackEntry> entries;
  auto add = [&](const std::string& utf8, uint32_t attributes, int minute, std::string data) {
    PackEntry e;
    e.name = Ansi(utf8);
    e.attributes = attributes;
    e.lastWrite = FileTimeValue(FileTimeOf(2026, 3, 1, 9, minute, 0, minute * 1234567));
    e.data = std::move(data);
    entries.push_back(e);
  };
  add("Zarpo.exe", 0x21, 0, std::string(3000, 'z'));
  add("Setup.exe", 0x21, 1, "setup");
  add("Core.dll", 0x27, 2, std::string(500, 'c'));
  add("Empty.dat", 0x27, 3, "");
  add("Sample\\表紙\\図面01.dwg", 0x20, 4, "drawing one");
  add("Sample\\表紙\\構造02.dwg", 0x20, 5, "drawing two");
  add("Sample\\平面\\図面03.dwg", 0x20, 6, "drawing three");
  add("Last.dat", 0x27, 7, "last");
  return entries;
}

std::string PackageOf(const std::vector<PackEntry>& entries) {
  return BuildPackage(BuildUnpacked(entries));
}

std::string Path(const PackEntry& entry) { return std::string(Target) + entry.name; }

// What a written file must read back as: NORMAL alone is stored as ARCHIVE.
DWORD Expected(uint32_t attributes) { return attributes == 0x80 ? 0x20 : attributes; }

void ExpectInstalled(const ScratchDrive& drive, const PackEntry& entry) {
  std::string relative = "Zarpo\\" + entry.name;
  EXPECT_EQ(drive.ReadHostFile(relative), entry.data) << relative;
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(Path(entry).c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE) << relative;
  FindClose(find);
  EXPECT_EQ(found.dwFileAttributes, Expected(entry.attributes)) << relative;
  EXPECT_EQ(FileTimeValue(found.ftLastWriteTime), entry.lastWrite) << relative;
}

struct InstallRun {
  int result;
  std::vector<std::string> lines;
  std::vector<std::string> calls;  // with their arguments
};

InstallRun Install(HMODULE module, bool failCreate = false, int nth = 0) {
  FaultScope scope;
  FaultCaptureTrace(true);
  if (failCreate) FaultArm(nth, "CreateFileA");
  int descriptors = OpenDescriptorCount();
  int result = InstallPackageFrom(module, Target);
  EXPECT_EQ(OpenDescriptorCount(), descriptors) << "a handle was left open";
  return {result, FaultTraceLines(), FaultCallDetails()};
}

int CountCalls(const InstallRun& run, const std::string& name) {
  return static_cast<int>(
      std::count_if(run.calls.begin(), run.calls.end(), [&](const std::string& c) {
        return c.compare(0, name.size() + 1, name + " ") == 0 || c == name;
      }));
}

void PlaceObsoleteFiles(const ScratchDrive& drive) {
  for (const char* name : ObsoleteFiles) {
    drive.WriteHostFile(std::string("Zarpo\\") + name, "old");
    ASSERT_TRUE(SetFileAttributesA((std::string(Target) + name).c_str(), 0x27));
  }
}

void ExpectObsoleteFilesGone(const ScratchDrive& drive) {
  for (const char* name : ObsoleteFiles) {
    EXPECT_FALSE(drive.Exists(std::string("Zarpo\\") + name)) << name;
  }
}

TEST(InstallPackage, FreshInstallWritesEveryEntryAndItsFolders) {
  ScratchDrive drive;
  drive.MakeFolder("Zarpo");
  drive.WriteHostFile("Zarpo\\mine.txt", "the user's own file");
  PlaceObsoleteFiles(drive);
  std::vector<PackEntry> entries = Release();
  PackageModule module(PackageOf(entries));

  InstallRun run = Install(module.Handle());

  EXPECT_EQ(run.result, 1);
  std::vector<std::string> expected;
  for (const PackEntry& e : entries) {
    expected.push_back("NotFound [" + Path(e) + "]");
    expected.push_back("[" + Path(e) + "] 1");
  }
  EXPECT_EQ(run.lines, expected);
  for (const PackEntry& e : entries) ExpectInstalled(drive, e);
  ExpectObsoleteFilesGone(drive);
  EXPECT_EQ(drive.ReadHostFile("Zarpo\\mine.txt"), "the user's own file");
  // Sample, Sample\表紙 and Sample\平面, each made once.
  EXPECT_EQ(CountCalls(run, "CreateDirectoryA"), 3);
}

TEST(InstallPackage, SecondRunWritesNothing) {
  ScratchDrive drive;
  drive.MakeFolder("Zarpo");
  std::vector<PackEntry> entries = Release();
  PackageModule module(PackageOf(entries));
  ASSERT_EQ(Install(module.Handle()).result, 1);
  std::vector<std::string> before = drive.Listing();

  InstallRun run = Install(module.Handle());

  EXPECT_EQ(run.result, 1);
  std::vector<std::string> expected;
  for (const PackEntry& e : entries) expected.push_back("Existing [" + Path(e) + "]");
  EXPECT_EQ(run.lines, expected);
  EXPECT_EQ(CountCalls(run, "CreateFileA"), 0);
  EXPECT_EQ(CountCalls(run, "CreateDirectoryA"), 0);
  EXPECT_EQ(CountCalls(run, "SetFileTime"), 0);
  EXPECT_EQ(drive.Listing(), before);
  for (const PackEntry& e : entries) ExpectInstalled(drive, e);
}

// A file written with NORMAL alone reads back as ARCHIVE, as on Windows, so such an entry never
// compares equal and is written again on every run. Kept as the system behaves; releases are
// packed with ARCHIVE instead.
TEST(InstallPackage, NormalEntryIsWrittenAgainOnEveryRun) {
  ScratchDrive drive;
  drive.MakeFolder("Zarpo");
  std::vector<PackEntry> entries = Release();
  entries[2].attributes = 0x80;
  PackageModule module(PackageOf(entries));
  ASSERT_EQ(Install(module.Handle()).result, 1);

  InstallRun run = Install(module.Handle());

  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.lines[2], "Different [" + Path(entries[2]) + "] 0, FFFFFFA0, 0");
  EXPECT_EQ(run.lines[3], "[" + Path(entries[2]) + "] 1");
  EXPECT_EQ(CountCalls(run, "CreateFileA"), 1);
  ExpectInstalled(drive, entries[2]);
}

TEST(InstallPackage, ObsoleteFilesAreRemovedInListOrderFromTheFolderItself) {
  ScratchDrive drive;
  drive.MakeFolder("Zarpo\\Sample");
  PlaceObsoleteFiles(drive);
  drive.WriteHostFile(std::string("Zarpo\\Sample\\") + ObsoleteFiles[0], "kept");
  PackageModule module(PackageOf({}));

  InstallRun run = Install(module.Handle());

  EXPECT_EQ(run.result, 1);
  std::vector<std::string> deletes;
  for (const std::string& call : run.calls) {
    if (call.compare(0, 12, "DeleteFileA ") == 0) deletes.push_back(call.substr(12));
  }
  std::vector<std::string> expected;
  for (const char* name : ObsoleteFiles) expected.push_back(std::string(Target) + name);
  EXPECT_EQ(deletes, expected);
  ExpectObsoleteFilesGone(drive);
  EXPECT_TRUE(drive.Exists(std::string("Zarpo\\Sample\\") + ObsoleteFiles[0]));
}

TEST(InstallPackage, FailedFifthEntryStopsTheWalk) {
  ScratchDrive drive;
  drive.MakeFolder("Zarpo");
  std::vector<PackEntry> entries = Release();
  // The fifth entry's path is taken by a folder; entries six onwards hold older files.
  drive.MakeFolder("Zarpo\\" + entries[4].name);
  drive.MakeFolder("Zarpo\\Sample\\" + Ansi("平面"));
  for (size_t i = 5; i < entries.size(); i++) {
    drive.WriteHostFile("Zarpo\\" + entries[i].name, "older");
  }
  PlaceObsoleteFiles(drive);
  PackageModule module(PackageOf(entries));

  InstallRun run = Install(module.Handle());

  EXPECT_EQ(run.result, 0);
  ASSERT_EQ(run.lines.size(), 10u);
  const std::string different = "Different [" + Path(entries[4]) + "] ";
  EXPECT_EQ(run.lines[8].substr(0, different.size()), different);
  EXPECT_EQ(run.lines[9], "[" + Path(entries[4]) + "] 0");
  for (size_t i = 0; i < 4; i++) ExpectInstalled(drive, entries[i]);
  for (size_t i = 5; i < entries.size(); i++) {
    EXPECT_EQ(drive.ReadHostFile("Zarpo\\" + entries[i].name), "older");
  }
  ExpectObsoleteFilesGone(drive);
}

TEST(InstallPackage, BadPackageWritesNothingTracesNothingButRemovesObsoleteFiles) {
  std::string good = PackageOf(Release());
  std::string flipped = good;
  flipped[flipped.size() / 2] ^= 0x55;
  std::string wrongCrc = good;
  wrongCrc[ChecksumAt] ^= 1;
  const std::pair<const char*, std::string> cases[] = {
      {"damaged stream", flipped},
      {"wrong checksum", wrongCrc},
      {"header only", good.substr(0, PackageHeaderSize)},
      {"shorter than a header", good.substr(0, 7)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    ScratchDrive drive;
    drive.MakeFolder("Zarpo");
    PlaceObsoleteFiles(drive);
    PackageModule module(c.second);

    InstallRun run = Install(module.Handle());

    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.lines.empty());
    EXPECT_EQ(CountCalls(run, "CreateFileA"), 0);
    ExpectObsoleteFilesGone(drive);
    EXPECT_EQ(drive.Listing(), std::vector<std::string>{"Zarpo"});
  }
}

TEST(InstallPackage, MissingResourceTouchesNothing) {
  ScratchDrive drive;
  drive.MakeFolder("Zarpo");
  PlaceObsoleteFiles(drive);
  std::vector<std::string> before = drive.Listing();
  HINSTANCE__ empty = {nullptr, 0};

  InstallRun run = Install(&empty);

  EXPECT_EQ(run.result, 0);
  EXPECT_TRUE(run.lines.empty());
  EXPECT_EQ(run.calls, std::vector<std::string>{"FindResourceA"});
  EXPECT_EQ(drive.Listing(), before);
}

TEST(InstallPackage, NextRunPicksUpWhereAStoppedRunEnded) {
  ScratchDrive drive;
  drive.MakeFolder("Zarpo");
  std::vector<PackEntry> entries = Release();
  PackageModule module(PackageOf(entries));

  InstallRun first = Install(module.Handle(), true, 4);  // the fourth file write fails
  ASSERT_EQ(first.result, 0);
  ASSERT_EQ(first.lines.back(), "[" + Path(entries[3]) + "] 0");

  InstallRun second = Install(module.Handle());

  EXPECT_EQ(second.result, 1);
  for (size_t i = 0; i < 3; i++) EXPECT_EQ(second.lines[i], "Existing [" + Path(entries[i]) + "]");
  EXPECT_EQ(CountCalls(second, "CreateFileA"), static_cast<int>(entries.size() - 3));
  for (const PackEntry& e : entries) ExpectInstalled(drive, e);
}

// Entries that could not be installed as a file of their own name inside the product folder are
// never written: names that would leave it, make a path that does not fit, or that Windows
// would take for something else (a device, a wildcard, a name it trims), and attribute values
// with bits that are not attributes. Each counts as a failed write and the walk ends there.
TEST(InstallPackage, EntriesThatCannotBeInstalledAsNamedAreFailedWrites) {
  struct Case {
    std::string name;
    uint32_t attributes;
  };
  // One of each kind; every name and attribute case is in entry_check_test.cpp.
  // clang-format off
  const Case cases[] = {
      {"..\\Escaped.dll", 0x21}, {"C:\\Escaped.dll", 0x21}, {"NUL.txt", 0x21},
      {"Dot.txt.", 0x21}, {"a\x95", 0x21}, {"Setup.exe", 0x10},
      {"Setup.exe", 0x04000020},
      {std::string(251, 'n'), 0x21},  // "E:\Zarpo\" + 251 bytes > 259
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.name) + " " + std::to_string(c.attributes));
    ScratchDrive drive;
    drive.AddDrive('C', "fixed");
    drive.MakeFolder("Zarpo\\Sample");
    drive.WriteHostFile("Zarpo\\Dot.txt", "the user's file");
    PlaceObsoleteFiles(drive);
    std::vector<PackEntry> entries = Release();
    entries[1].name = c.name;
    entries[1].attributes = c.attributes;
    PackageModule module(PackageOf(entries));

    InstallRun run = Install(module.Handle());

    EXPECT_EQ(run.result, 0);
    ASSERT_EQ(run.lines.size(), 3u);
    EXPECT_EQ(run.lines[2], "[" + std::string(Target) + c.name.c_str() + "] 0");
    EXPECT_EQ(CountCalls(run, "CreateFileA"), 1);  // the first entry only
    ExpectInstalled(drive, entries[0]);
    EXPECT_FALSE(drive.Exists("Escaped.dll"));
    EXPECT_EQ(drive.ReadHostFile("Zarpo\\Dot.txt"), "the user's file");
    EXPECT_TRUE(drive.Listing() == std::vector<std::string>({"Zarpo", "Zarpo/Dot.txt",
                                                             "Zarpo/Sample", "Zarpo/Zarpo.exe"}))
        << ::testing::PrintToString(drive.Listing());
    ExpectObsoleteFilesGone(drive);
    EXPECT_TRUE(std::filesystem::is_empty(drive.HostRootOf('C')));
  }
}

// "E:\Zarpo\" + 250 bytes = 259: the longest names fit, as one level or below a folder whose
// part of the path is one byte over what a folder part keeps.
TEST(InstallPackage, LongestNamesThatFitAreWritten) {
  for (const std::string& name : {std::string(250, 'n'), std::string(248, 'a') + "\\b"}) {
    ScratchDrive drive;
    drive.MakeFolder("Zarpo");
    std::vector<PackEntry> entries(1);
    entries[0].name = name;
    entries[0].data = "fits";
    entries[0].lastWrite = FileTimeValue(FileTimeOf(2026, 1, 1));
    PackageModule module(PackageOf(entries));

    InstallRun run = Install(module.Handle());

    ASSERT_EQ(run.lines.size(), 2u);
    EXPECT_EQ(run.lines[0], "NotFound [" + Path(entries[0]) + "]");
    EXPECT_EQ(run.lines[1], "[" + Path(entries[0]) + "] 1");
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(drive.ReadHostFile("Zarpo\\" + name), "fits");
  }
}

TEST(InstallPackage, BrokenEntryEndsTheWalkAsAFailure) {
  ScratchDrive drive;
  drive.MakeFolder("Zarpo");
  PlaceObsoleteFiles(drive);
  std::vector<PackEntry> entries = Release();
  std::string unpacked = BuildUnpacked({entries[0], entries[1]});
  // A third entry whose data would run past the end of the unpacked data.
  unpacked += RawEntryHeader(1000, 0x20, 0, 3) + "bad" + "short";
  PackageModule module(BuildPackage(unpacked));

  InstallRun run = Install(module.Handle());

  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.lines.size(), 4u);
  ExpectInstalled(drive, entries[0]);
  ExpectInstalled(drive, entries[1]);
  EXPECT_FALSE(drive.Exists("Zarpo\\bad"));
  ExpectObsoleteFilesGone(drive);
}

}  // namespace

// A FAT disk answers a lookup of a short alias (ZARPOC~1.DLL) with the long-named file that
// owns it, and reports that file's name. Writing there would replace the user's file under
// another name: the entry is refused as a failed write, even when that file looks identical. A
// name that differs only in letter case is the same file, as Windows sees it.
TEST(InstallPackage, PathLeadingToAFileOfAnotherNameIsAFailedWrite) {
  struct Case {
    const char* entryName;  // UTF-8
    const char* reported;   // the name the lookup reports for it (UTF-8)
    bool identical;         // the file found has the entry's size, attributes and time
    bool refused;
  };
  const Case cases[] = {
      {"ZARPOC~1.DLL", "ZarpoCore.dll", false, true},
      {"ZARPOC~1.DLL", "ZarpoCore.dll", true, true},
      {"SETUP.EXE", "Setup.exe", true, false},
      {"ｚａｒｐｏ.txt", "ＺＡＲＰＯ.txt", false, false},
      {"ⅰ.txt", "Ⅰ.txt", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entryName);
    ScratchDrive drive;
    drive.MakeFolder("Zarpo");
    std::vector<PackEntry> entries = Release();
    PackEntry& entry = entries[1];
    entry.name = Ansi(c.entryName);
    // What the lookup finds: the user's file, written before.
    std::string users = c.identical ? entry.data : std::string("the user's file");
    drive.WriteHostFile("Zarpo\\" + entry.name, users);
    ASSERT_TRUE(
        SetHostWriteTime(drive.HostPath("Zarpo\\" + entry.name), MakeFileTime(entry.lastWrite)));
    ASSERT_TRUE(SetFileAttributesA(Path(entry).c_str(), c.identical ? entry.attributes : 0x20));
    PackageModule module(PackageOf(entries));

    InstallRun run;
    {
      FaultScope scope;
      FaultCaptureTrace(true);
      FaultFoundName(Path(entry), Ansi(c.reported));
      run = {InstallPackageFrom(module.Handle(), Target), FaultTraceLines(), FaultCallDetails()};
    }

    EXPECT_EQ(run.result, c.refused ? 0 : 1);
    ASSERT_GE(run.lines.size(), 3u);
    EXPECT_EQ(run.lines[2].compare(0, 10, c.refused || !c.identical ? "Different " : "Existing ["),
              0)
        << run.lines[2];
    if (c.refused) {
      EXPECT_EQ(run.lines.back(), "[" + Path(entry) + "] 0");
      EXPECT_EQ(run.lines.size(), 4u) << "the walk goes on after a refused entry";
      EXPECT_EQ(drive.ReadHostFile("Zarpo\\" + entry.name), users);
      EXPECT_EQ(CountCalls(run, "CreateFileA"), 1) << "only the first entry is written";
    } else {
      ExpectInstalled(drive, entry);
    }
  }
}
