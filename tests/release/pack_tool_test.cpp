// The packer as a program: a release folder with Japanese names packed and read back as the
// updater reads it, the same input giving the same bytes, refusals that name the manifest line
// and leave nothing behind, verify's reasons, the attributes scan reads and what diff flags.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "package/package.h"
#include "release/package_writer.h"
#include "support/host_files.h"
#include "support/launcher.h"

namespace {

const char Packer[] = ZARPO_BINARY_DIR "/release/zarpo-pack";
const uint64_t UnixEpoch = 116444736000000000ull;
const uint64_t Time1990 = UnixEpoch + 631152000ull * 10000000;

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

class PackTool : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zarpo-pack-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::string command = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(system(command.c_str()), 0);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  void Write(const std::string& name, const std::string& bytes) {
    std::string path = Path(name);
    for (size_t slash = path.find('/', dir_.size() + 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
      mkdir(path.substr(0, slash).c_str(), 0755);
    }
    std::ofstream(path, std::ios::binary) << bytes;
  }

  std::string Read(const std::string& name) const { return ReadWholeFile(Path(name)); }

  bool Exists(const std::string& name) const { return access(Path(name).c_str(), F_OK) == 0; }

  ToolRun Pack(const std::string& arguments) {
    std::string command = LaunchCommand(Packer) + " " + arguments + " >'" + Path("stdout") +
                          "' 2>'" + Path("stderr") + "'";
    int status = system(command.c_str());
    ToolRun run = {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Read("stdout"), Read("stderr")};
    unlink(Path("stdout").c_str());
    unlink(Path("stderr").c_str());
    return run;
  }

  ToolRun PackRelease(const std::string& output, const std::string& extra = "") {
    return Pack("pack --root '" + Path("release") + "' --manifest '" + Path("release.manifest") +
                "' --output '" + Path(output) + "' " + extra);
  }

  std::string dir_;
};

struct Unpacked {
  PackageOutcome outcome;
  std::vector<PackEntry> entries;
  int broken;
};

Unpacked ReadPackage(const std::string& bytes) {
  std::vector<BYTE> exact(bytes.begin(), bytes.end());
  Package package;
  Unpacked result;
  result.outcome = UnpackPackage(exact.data(), (DWORD)exact.size(), &package);
  EntryWalk walk;
  Entry entry;
  StartEntryWalk(&walk, &package);
  while (result.outcome == PackageGood && NextEntry(&walk, &entry)) {
    result.entries.push_back(PackEntryOf(entry));
  }
  result.broken = walk.Broken;
  ClosePackage(&package);
  return result;
}

TEST_F(PackTool, PacksJapaneseNamesAndReadsThemBack) {
  Write("release/Zarpo.exe", "main program");
  Write("release/Sample/表紙/構造01.dwg", std::string(5000, 'x'));
  Write("release/能力.dat", "");
  // A file time with odd seconds and a fraction: 2026-03-01T09:00:03.123456789Z.
  struct timespec times[2] = {{1772355603, 123456789}, {1772355603, 123456789}};
  ASSERT_EQ(utimensat(AT_FDCWD, Path("release/能力.dat").c_str(), times, 0), 0);
  Write("release.manifest",
        "# test release\n"
        "0x21  Zarpo.exe  2026-03-01T09:00:00Z\n"
        "0x20  Sample\\表紙\\構造01.dwg  2026-03-01T09:00:01.5Z\n"
        "0x27  能力.dat\n");

  ToolRun run = PackRelease("out.bin");
  ASSERT_EQ(run.status, 0) << run.err;
  Unpacked rounded = ReadPackage(Read("out.bin"));
  ASSERT_EQ(rounded.outcome, PackageGood);
  EXPECT_EQ(rounded.broken, 0);
  ASSERT_EQ(rounded.entries.size(), 3u);
  const uint64_t at9 = UnixEpoch + 1772355600ull * 10000000;
  EXPECT_EQ(rounded.entries[0].name, "Zarpo.exe");
  EXPECT_EQ(rounded.entries[0].attributes, 0x21u);
  EXPECT_EQ(rounded.entries[0].lastWrite, at9);
  EXPECT_EQ(rounded.entries[0].data, "main program");
  EXPECT_EQ(rounded.entries[1].name,
            "Sample\\\x95\x5C\x8E\x86\\\x8D\x5C\x91\xA2"
            "01.dwg");
  EXPECT_EQ(rounded.entries[1].lastWrite, at9) << "brought down to the even second";
  EXPECT_EQ(rounded.entries[1].data, std::string(5000, 'x'));
  EXPECT_EQ(rounded.entries[2].name, "\x94\x5C\x97\xCD.dat");
  EXPECT_EQ(rounded.entries[2].attributes, 0x27u);
  EXPECT_EQ(rounded.entries[2].lastWrite, at9 + 20000000) << "the file's own time, even second";
  EXPECT_EQ(rounded.entries[2].data, "");

  ASSERT_EQ(PackRelease("exact.bin", "--exact-times").status, 0);
  Unpacked exact = ReadPackage(Read("exact.bin"));
  ASSERT_EQ(exact.entries.size(), 3u);
  EXPECT_EQ(exact.entries[1].lastWrite, at9 + 15000000);
  EXPECT_EQ(exact.entries[2].lastWrite, at9 + 31234567);

  ToolRun list = Pack("list '" + Path("exact.bin") + "'");
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("Sample\\表紙\\構造01.dwg"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("2026-03-01T09:00:03.1234567Z"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("0x00000027"), std::string::npos) << list.out;
}

TEST_F(PackTool, SameInputSameBytes) {
  Write("release/a.dll", std::string(20000, 'a') + "tail");
  Write("release/Sample/平面/b.dwg", "drawing");
  Write("release.manifest", "0x27 a.dll\n0x20 Sample\\平面\\b.dwg 2025-01-01T00:00:00Z\n");
  ASSERT_EQ(PackRelease("one.bin").status, 0);
  ASSERT_EQ(PackRelease("two.bin").status, 0);
  std::string one = Read("one.bin");
  ASSERT_GT(one.size(), 14u);
  EXPECT_EQ(one, Read("two.bin"));
  EXPECT_EQ(one.substr(PackageHeaderSize, 2), "\x78\xDA") << "zlib level 9";
  ToolRun verify = Pack("verify '" + Path("one.bin") + "'");
  EXPECT_EQ(verify.status, 0);
  EXPECT_EQ(verify.out, "good\n");
}

TEST_F(PackTool, RefusalsNameTheLineAndLeaveNothing) {
  Write("release/a.dll", "a");
  Write("out.bin", "the previous package");
  struct Case {
    std::string manifest;
    std::string says;
  };
  std::vector<Case> cases = {
      {"0x27 a.dll\n\n0x27 missing.dll\n", ":3: cannot read"},
      {"0x27 a.dll\n0x27 A.DLL\n", ":2: the name repeats"},
      {"# c\n0x27 C:\\a.dll\n", ":2: the name has a colon"},
      {"0x27 a.dll\n0x20 한.dll\n", ":2: the name is not valid UTF-8 or has a character"},
      {"0x27 Sample\n", ":1: " + Path("release/Sample") + " is not a regular file"},
      {"0x27 a.dll\n0x27 NUL.txt\n", ":2: the level 'NUL.txt' is the device NUL"},
      {"0x27 a.dll\n0x80 ZpMaint.exe\n", ":2: attributes 0x80"},
      {"0x27 a.dll\n0x27 zpmaint.exe\n", ":2: the name is on the updater's obsolete list"},
      // A time taken from the file must be one a key disk can keep, too.
      {"0x27 a.dll\n0x27 old.dll\n", ":2: the last-write time is outside 1980-01-01"},
  };
  mkdir(Path("release/Sample").c_str(), 0755);
  Write("release/old.dll", "old");
  struct timespec old[2] = {{315532799, 0}, {315532799, 0}};  // 1979-12-31T23:59:59Z
  ASSERT_EQ(utimensat(AT_FDCWD, Path("release/old.dll").c_str(), old, 0), 0);
  for (const Case& c : cases) {
    Write("release.manifest", c.manifest);
    ToolRun run = PackRelease("out.bin");
    EXPECT_NE(run.status, 0) << c.manifest;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << c.manifest << " -> " << run.err;
    EXPECT_EQ(Read("out.bin"), "the previous package") << c.manifest;
  }
  // No temporary file is left beside the output either.
  std::string command = "ls '" + dir_ + "' | grep -c tmp";
  FILE* ls = popen(command.c_str(), "r");
  char count[16] = {0};
  ASSERT_NE(fgets(count, sizeof count, ls), nullptr);
  pclose(ls);
  EXPECT_STREQ(count, "0\n");

  ToolRun usage = Pack("pack --root x");
  EXPECT_EQ(usage.status, 2);
  EXPECT_EQ(usage.err,
            "zarpo-pack: pack needs --root, --manifest and --output; see zarpo-pack --help\n");
}

// A file below the release folder that the manifest does not name is most likely a forgotten
// module: named as a warning, the package made all the same; --subset says it is on purpose.
TEST_F(PackTool, FilesLeftOutOfTheManifestAreWarnedOf) {
  Write("release/a.dll", "a");
  Write("release/Sample/forgotten.dll", "f");
  Write("release.manifest", "0x27 a.dll 2026-03-01T09:00:00Z\n");
  ToolRun run = PackRelease("out.bin");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "zarpo-pack: warning: " + Path("release") +
                         "/Sample/forgotten.dll is not in the manifest and is left out\n");
  ToolRun subset = PackRelease("out.bin", "--subset");
  EXPECT_EQ(subset.status, 0);
  EXPECT_EQ(subset.err, "");
}

TEST_F(PackTool, VerifyNamesTheReason) {
  std::string unpacked = BuildUnpacked({{"a.dll", 0x27, Time1990, "contents of a"}});
  std::string good = BuildPackage(unpacked);
  std::string stream = good.substr(PackageHeaderSize);
  uint32_t length = (uint32_t)unpacked.size(), crc = Crc32(unpacked);
  uint32_t stored = (uint32_t)good.size();
  std::string truncated = EntryBytes({"a.dll", 0x27, Time1990, "abc"}) +
                          RawEntryHeader(100, 0, 0, 1) + "b";
  std::string damaged = good;
  damaged[damaged.size() / 2] ^= 0x55;
  struct Case {
    std::string bytes;
    std::string says;
  };
  std::vector<Case> cases = {
      {good.substr(0, PackageHeaderSize - 1), "too short"},
      {RawPackageHeader(stored + 1, length, crc) + stream, "length: the header says"},
      {RawPackageHeader(stored, length + 1, crc) + stream, "length: the header declares"},
      {RawPackageHeader(stored, length - 1, crc) + stream,
       "inflate error: the stream does not end at the"},
      {RawPackageHeader(stored, length, crc ^ 1) + stream, "checksum"},
      {damaged, ""},
      {BuildPackage(truncated), "broken entry: entry 2"},
      // Entries the updater would refuse or write again on every run.
      {BuildPackage(
           BuildUnpacked({{"a.dll", 0x27, Time1990, "a"}, {"Sub\\aux.txt", 0x20, Time1990, "x"}})),
       "entry 2 (Sub\\aux.txt): the level 'aux.txt' is the device AUX"},
      {BuildPackage(BuildUnpacked({{"a.dll", 0x04000020, Time1990, "a"}})),
       "entry 1 (a.dll): attributes 0x4000020"},
      {BuildPackage(BuildUnpacked({{"a.dll", 0x20, 0, "a"}})),
       "entry 1 (a.dll): the last-write time"},
      {BuildPackage(BuildUnpacked(
           {{"\x82\x9A.txt", 0x20, Time1990, "a"}, {"\x82\x79.txt", 0x20, Time1990, "b"}})),
       "entry 2 (Ｚ.txt): the name repeats an earlier entry"},
  };
  for (const Case& c : cases) {
    Write("bad.bin", c.bytes);
    ToolRun run = Pack("verify '" + Path("bad.bin") + "'");
    EXPECT_EQ(run.status, 1) << c.says;
    EXPECT_NE(run.out, "good\n") << c.says;
    EXPECT_NE(run.out.find(c.says), std::string::npos) << c.says << " -> " << run.out;
    // list shows what a package holds as long as the updater can read it.
    bool readable = c.says.rfind("entry ", 0) == 0;
    EXPECT_EQ(Pack("list '" + Path("bad.bin") + "'").status == 0, readable) << c.says;
  }
  ToolRun missing = Pack("verify '" + Path("none.bin") + "'");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "missing\n");
}

// scan takes the attributes from user.DOSATTRIB, text or Samba's binary form; a value it cannot
// read is named and stops it, unless it is told to go on with the mode's attributes.
TEST_F(PackTool, ScanReadsDosAttribAndStopsAtWhatItCannotRead) {
  std::vector<std::vector<std::string>> files = {
      // name, user.DOSATTRIB, in the manifest
      {"ポート設定.ini", "0x27", "\n0x27  ポート設定.ini  "},
      {"表/構成.txt", std::string("\0\0\5\0\5\0\0\0\x11\0\0\0\x23\0\0\0\0\0\0\0\0\0\0\0", 24),
       "\n0x23  表\\構成.txt  "},
      {"説明書.txt", "!", "\n# 説明書.txt: user.DOSATTRIB holds 1 byte (21 \"!\"), not 0x"},
      {"説明書.txt", "!", "; taken as if it had none\n0x20  説明書.txt  "},
  };
  for (const auto& file : files) {
    Write("release/" + file[0], "x");
    std::string path = Path("release/" + file[0]);
    ASSERT_EQ(setxattr(path.c_str(), "user.DOSATTRIB", file[1].data(), file[1].size(), 0), 0);
  }
  std::string scan = "scan --root '" + Path("release") + "' --output '" + Path("out") + "'";
  ToolRun stopped = Pack(scan);
  EXPECT_EQ(stopped.status, 1);
  EXPECT_NE(stopped.err.find("release/説明書.txt: user.DOSATTRIB holds"), std::string::npos);
  EXPECT_FALSE(Exists("out"));
  EXPECT_EQ(Pack(scan + " --keep-going").status, 0);
  std::string manifest = Read("out");
  for (const auto& file : files) EXPECT_NE(manifest.find(file[2]), std::string::npos) << manifest;
}

// diff flags every removed file the updater leaves on key disks: all but the names of its
// obsolete list, which it deletes from the product folder itself only, case ignored.
TEST_F(PackTool, DiffFlagsRemovedFilesThatStayOnKeyDisks) {
  PackEntry kept = {"a.dll", 0x27, Time1990, "a"};
  Write("new.bin", BuildPackage(BuildUnpacked({kept})));
  const char* removed[] = {"Plugins\\Old.dll", "ZpMaint.exe", "zpfont32.DLL", "Sub\\ZpMaint.exe"};
  for (std::string gone : removed) {
    bool stays = gone.find('\\') != std::string::npos;
    Write("old.bin", BuildPackage(BuildUnpacked({kept, {gone, 0x20, Time1990, "old"}})));
    ToolRun run = Pack("diff '" + Path("old.bin") + "' '" + Path("new.bin") + "'");
    EXPECT_EQ(run.status, stays ? 1 : 0) << run.out;
    std::string says = "removed   " + gone + "\n" + (stays ? "STAYS ON KEY DISKS " + gone : "0 a");
    EXPECT_NE(run.out.find(says), std::string::npos) << run.out;
  }
}

}  // namespace
