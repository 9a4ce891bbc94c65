// The packer's manifest grammar and its UTC times.
#include <gtest/gtest.h>
#include <string.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <string>
#include <vector>

#include "host/host.h"
#include "release/manifest.h"
#include "release/release_check.h"
#include "release/sha256.h"

namespace {

// The first problem as "line N: message", the way the checks below read it.
bool Parse(const std::string& text, std::vector<ManifestEntry>* entries, std::string* error) {
  std::vector<ManifestProblem> problems;
  bool ok = ParseManifest(text, entries, &problems);
  *error = problems.empty()
               ? ""
               : "line " + std::to_string(problems[0].line) + ": " + problems[0].message;
  return ok;
}

const uint64_t Second = 10000000;
const uint64_t UnixEpoch = 116444736000000000ull;  // 1970-01-01 as a FILETIME

struct TimeCase {
  const char* text;
  bool valid;
  uint64_t fileTime;
};

TEST(PackTimes, ParseUtcTime) {
  std::vector<TimeCase> cases = {
      {"1601-01-01T00:00:00Z", true, 0},
      {"1970-01-01T00:00:00Z", true, UnixEpoch},
      {"1970-01-01T00:00:01.5Z", true, UnixEpoch + 15000000},
      {"2026-03-01T09:00:00Z", true, UnixEpoch + 1772355600ull * Second},
      {"2026-03-01T09:00:00.0000001Z", true, UnixEpoch + 1772355600ull * Second + 1},
      {"2024-02-29T23:59:59Z", true, UnixEpoch + 1709251199ull * Second},
      {"2000-02-29T00:00:00Z", true, UnixEpoch + 951782400ull * Second},
      {"1900-02-29T00:00:00Z", false, 0},
      {"2025-02-29T00:00:00Z", false, 0},
      {"2026-04-31T00:00:00Z", false, 0},
      {"2026-13-01T00:00:00Z", false, 0},
      {"2026-03-01T24:00:00Z", false, 0},
      {"2026-03-01T09:60:00Z", false, 0},
      {"2026-03-01T09:00:60Z", false, 0},
      {"1600-12-31T23:59:59Z", false, 0},
      {"2026-03-01T09:00:00", false, 0},
      {"2026-03-01T09:00:00+09:00", false, 0},
      {"2026-03-01 09:00:00Z", false, 0},
      {"2026-03-01T09:00:00.Z", false, 0},
      {"2026-03-01T09:00:00.12345678Z", false, 0},
      {"2026-3-01T09:00:00Z", false, 0},
      {"", false, 0},
  };
  for (const TimeCase& c : cases) {
    uint64_t fileTime = 12345;
    EXPECT_EQ(ParseUtcTime(c.text, &fileTime), c.valid) << c.text;
    if (c.valid) {
      EXPECT_EQ(fileTime, c.fileTime) << c.text;
    }
  }
}

TEST(PackTimes, FormatRoundTrips) {
  for (const char* text : {"1601-01-01T00:00:00.0000000Z", "1969-12-31T23:59:59.9999999Z",
                           "2026-03-01T09:00:00.1234567Z", "2024-02-29T12:34:56.0000000Z",
                           "9999-12-31T23:59:59.9999999Z"}) {
    uint64_t fileTime;
    ASSERT_TRUE(ParseUtcTime(text, &fileTime)) << text;
    EXPECT_EQ(FormatUtcTime(fileTime), text);
  }
}

TEST(PackTimes, UnixTimesAndEvenSeconds) {
  uint64_t fileTime;
  ASSERT_TRUE(FileTimeFromUnix(1, 999999999, &fileTime));
  EXPECT_EQ(fileTime, UnixEpoch + 19999999);  // 100 ns precision, the rest dropped
  ASSERT_TRUE(FileTimeFromUnix(-1, 0, &fileTime));
  EXPECT_EQ(fileTime, UnixEpoch - Second);
  EXPECT_FALSE(FileTimeFromUnix(-11644473601LL, 0, &fileTime));

  EXPECT_EQ(RoundDownToEvenSecond(0), 0u);
  EXPECT_EQ(RoundDownToEvenSecond(2 * Second - 1), 0u);
  EXPECT_EQ(RoundDownToEvenSecond(2 * Second), 2 * Second);
  EXPECT_EQ(RoundDownToEvenSecond(3 * Second + 5), 2 * Second);
  // Even seconds count the same from 1601 and from 1970.
  EXPECT_EQ(RoundDownToEvenSecond(UnixEpoch + 3 * Second), UnixEpoch + 2 * Second);
}

TEST(PackManifest, AcceptedForms) {
  std::string text =
      "\xEF\xBB\xBF# comment\r\n"
      "\r\n"
      "0x27  Zarpo.exe\r\n"
      "   # indented comment\n"
      "0X21\tSetup.exe\t2026-03-01T09:00:00Z\n"
      "0x20  Sample\\表紙\\構造 図面 01.dwg   2026-03-01T09:00:01.5Z  \n"
      "0x20  Plan 2026-01.dwg\n"
      "0x27  #hash.dat";  // no newline at the end
  std::vector<ManifestEntry> entries;
  std::string error;
  ASSERT_TRUE(Parse(text, &entries, &error)) << error;
  ASSERT_EQ(entries.size(), 5u);

  EXPECT_EQ(entries[0].line, 3);
  EXPECT_EQ(entries[0].attributes, 0x27u);
  EXPECT_EQ(entries[0].name, "Zarpo.exe");
  EXPECT_FALSE(entries[0].hasTime);

  EXPECT_EQ(entries[1].line, 5);
  EXPECT_EQ(entries[1].attributes, 0x21u);
  EXPECT_TRUE(entries[1].hasTime);
  EXPECT_EQ(entries[1].lastWrite, UnixEpoch + 1772355600ull * Second);

  EXPECT_EQ(entries[2].name, "Sample\\表紙\\構造 図面 01.dwg");
  EXPECT_EQ(entries[2].ansiName, "Sample\\\x95\x5C\x8E\x86\\\x8D\x5C\x91\xA2 \x90}\x96\xCA 01.dwg");
  EXPECT_EQ(entries[2].lastWrite, UnixEpoch + 1772355601ull * Second + 5000000);

  EXPECT_EQ(entries[3].name, "Plan 2026-01.dwg");
  EXPECT_FALSE(entries[3].hasTime);

  EXPECT_EQ(entries[4].attributes, 0x27u);
  EXPECT_EQ(entries[4].name, "#hash.dat");
}

TEST(PackManifest, LongestName) {
  // 250 bytes in code page 932: fits; 251 does not. Double-byte characters count twice.
  std::string fits = std::string(100, 'a') + "\\" + std::string(100, 'b') + "\\" +
                     std::string(44, 'c') + "表紙";
  std::vector<ManifestEntry> entries;
  std::string error;
  ASSERT_TRUE(Parse("0x20 " + fits + "\n", &entries, &error)) << error;
  EXPECT_EQ(entries[0].ansiName.size(), 250u);
  EXPECT_FALSE(Parse("0x20 " + fits + "x\n", &entries, &error));
  EXPECT_NE(error.find("line 1: the name is 251 bytes"), std::string::npos) << error;
}

struct RefusalCase {
  const char* line;  // follows a good first entry, so it is line 2
  const char* says;
};

TEST(PackManifest, RefusalsNameTheLine) {
  std::vector<RefusalCase> cases = {
      {"27  Zarpo.dll", "bad attributes"},
      {"0x  Zarpo.dll", "bad attributes"},
      {"0xZZ  Zarpo.dll", "bad attributes"},
      {"0x123456789  Zarpo.dll", "bad attributes"},
      {"0x10  Folder", "directory bit"},
      {"0x20", "no name"},
      {"0x20  2026-03-01T09:00:00Z", "no name"},
      {"0x20  한국.dll", "code page 932"},
      {"0x20  \\Zarpo.dll", "begins with a backslash"},
      {"0x20  C:\\Zarpo\\Zarpo.dll", "colon"},
      {"0x20  Zarpo.dll:stream", "colon"},
      {"0x20  Sample/Zarpo.dll", "slash"},
      {"0x20  Sample\\\\Zarpo.dll", "empty level"},
      {"0x20  Sample\\", "empty level"},
      {"0x20  .\\Zarpo.dll", "'.' level"},
      {"0x20  Sample\\..\\Zarpo.dll", "'..' level"},
      {"0x20  Sample.\\Zarpo.dll", "ends in a dot or a space"},
      {"0x20  Zarpo?.dll", "character ?"},
      {"0x20  Zarpo.dll  2026-02-30T00:00:00Z", "bad time"},
      {"0x20  First.exe", "repeats an earlier entry"},
      {"0x20  FIRST.EXE", "repeats an earlier entry"},
      {"0x20  First.exe\\Inner.dll", "earlier entry's file"},
      // What Windows takes for a device, at any level, with any extension and letter case.
      {"0x20  NUL.txt", "the device NUL"},
      {"0x20  CON", "the device CON"},
      {"0x20  aux", "the device AUX"},
      {"0x20  Sample\\com1.dll", "the device COM1"},
      {"0x20  LPT9.txt", "the device LPT9"},
      {"0x20  CONIN$", "the device CONIN$"},
      {"0x20  Nul .log", "the device NUL"},
      {"0x20  ZARPOC~1.DLL", "short 8.3 alias"},
      {"0x20  Sample~12\\a.dwg", "short 8.3 alias"},
      // Written, then deleted by the same run, on every run.
      {"0x20  ZpConv.exe", "obsolete list (ZpConv.exe)"},
      {"0x20  zpconv.EXE", "obsolete list (ZpConv.exe)"},
      // Values that never compare equal once written.
      {"0x0  a.dll", "use 0x20"},
      {"0x80  a.dll", "use 0x20"},
      {"0x04000020  a.dll", "not file attributes (0x4000000)"},
      {"0xFFFFFFEF  a.dll", "not file attributes"},
      // Bits a FAT directory entry drops, so the file never compares equal there.
      {"0x2020  a.dll", "FAT key disk cannot keep (0x2000)"},
      {"0x1021  a.dll", "FAT key disk cannot keep (0x1000)"},
      {"0x120  a.dll", "FAT key disk cannot keep (0x100)"},
      {"0x81  a.dll", "FAT key disk cannot keep (0x80)"},
      {"0x20  a.dll  1979-12-31T23:59:58Z", "outside 1980-01-01 to 2107-12-31"},
      {"0x20  a.dll  2108-01-01T00:00:00Z", "outside 1980-01-01 to 2107-12-31"},
  };
  for (const RefusalCase& c : cases) {
    std::vector<ManifestEntry> entries;
    std::string error;
    EXPECT_FALSE(Parse(std::string("0x21 First.exe\n") + c.line + "\n", &entries, &error))
        << c.line;
    EXPECT_EQ(error.rfind("line 2: ", 0), 0u) << c.line << " -> " << error;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.line << " -> " << error;
  }
}

TEST(PackManifest, FolderAfterFileAndCaseOfDoubleByteTrails) {
  std::vector<ManifestEntry> entries;
  std::string error;
  EXPECT_FALSE(Parse("0x20 Sample\\a.dwg\n0x20 sample\n", &entries, &error));
  EXPECT_NE(error.find("line 2: an earlier entry has this name as a folder"), std::string::npos)
      << error;
  // ア (0x83 0x41) and ヂ (0x83 0x61) differ only in a trail byte that looks like A and a:
  // different names, not a case variant of one.
  EXPECT_TRUE(Parse("0x20 ア.dat\n0x20 ヂ.dat\n", &entries, &error)) << error;
  // Beyond ASCII, Windows takes these pairs for one name too.
  for (const char* pair : {"Ｚ.txt\n0x20 ｚ.txt", "α.txt\n0x20 Α.txt", "ж\n0x20 Ж",
                           "Sample\\Ω\\a.dwg\n0x20 sample\\ω\\b.dwg\n0x20 SAMPLE\\Ω"}) {
    std::string text = std::string("0x20 ") + pair + "\n";
    EXPECT_FALSE(Parse(text, &entries, &error)) << text;
    EXPECT_NE(error.find("earlier entry"), std::string::npos) << text << " -> " << error;
  }
  EXPECT_TRUE(Parse("0x20 Sample\\Ω\\a.dwg\n0x20 sample\\ω\\b.dwg\n", &entries, &error)) << error;
}

// Every problem of a manifest at once, each with its line, up to the limit.
TEST(PackManifest, EveryProblemIsReportedAtOnce) {
  std::vector<ManifestEntry> entries;
  std::vector<ManifestProblem> problems;
  EXPECT_FALSE(ParseManifest("0x20 a.dll\n0x80 b.dll\n0x20 NUL\n0x20 c.dll\n0x20 A.DLL\n", &entries,
                             &problems));
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_EQ(problems[0].line, 2);
  EXPECT_EQ(problems[1].line, 3);
  EXPECT_EQ(problems[2].line, 5);
  EXPECT_EQ(FormatProblems("r.manifest", problems).substr(0, 28), "r.manifest:2: attributes 0x8");
  std::string many;
  for (int i = 0; i < 30; i++) many += "0x0 x" + std::to_string(i) + "\n";
  EXPECT_FALSE(ParseManifest(many, &entries, &problems));
  EXPECT_EQ(problems.size(), MostManifestProblems);
  EXPECT_NE(FormatProblems("r", problems).find("r: stopped after 20 problems"), std::string::npos);
}

// The packer folds case by a table of its own (the same code on Linux and Windows); for every
// character code page 932 spells it must agree with ICU's simple uppercase mapping.
TEST(PackManifest, CaseFoldingAgreesWithIcuOverCodePage932) {
  int checked = 0;
  for (int lead = 0x20; lead < 0x100; lead++) {
    for (int trail = 0; trail < (HostIsLeadByte((unsigned char)lead) ? 0x100 : 1); trail++) {
      char ansi[3] = {(char)lead, (char)trail, 0};
      char utf8[16];
      if (!HostAnsiToUtf8(ansi, utf8, sizeof utf8)) continue;
      UChar32 c;
      int32_t at = 0, length = (int32_t)strlen(utf8);
      U8_NEXT(reinterpret_cast<const uint8_t*>(utf8), at, length, c);
      uint8_t upper[U8_MAX_LENGTH + 1] = {0};
      int32_t n = 0;
      U8_APPEND_UNSAFE(upper, n, u_toupper(c));
      ASSERT_EQ(FoldedName(utf8), reinterpret_cast<const char*>(upper)) << "U+" << std::hex << c;
      checked++;
    }
  }
  EXPECT_GT(checked, 7000);
}

// Lengths about the padding's one- and two-block boundaries.
TEST(PackDigest, Sha256) {
  struct {
    size_t length;
    const char* digest;
  } cases[] = {
      {0, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {55, "16fa57a0a3423a715d594516339f36189d6b5f93754a9714fef202616a9fabfe"},
      {56, "c37b44e5f1b18554b36966f4f8e08bfbf3164c4b6c10374d12d89850892073c5"},
      {63, "bbba992d2c85af960fb2987a1fd05e0aa82a3db3c740dd8982a9e273b75e36a3"},
      {64, "66bd4633ed6f71c4ecfa4763bf7ba1c8ec7612de9aa6c0578a7b675207c71e0b"},
      {119, "a3ed307b730fa77c07531300c6e4a282330011d4d4caf6bb7b63ae05950f4b66"},
      {1000, "095ecb62e30793ab4b954cd6a0586d0cc91f7ea5b1332694d8da780e98676d78"},
  };
  for (const auto& c : cases) {
    std::string bytes;
    for (size_t i = 0; i < c.length; i++) bytes += (char)((i * 7 + 1) & 0xFF);
    EXPECT_EQ(Sha256Hex(bytes), c.digest) << c.length << " bytes";
  }
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
